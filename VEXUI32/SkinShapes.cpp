// Paint layer: the shapes of the skin, drawn with GDI+ in layout pixels.
#include "VEXUI32/SkinShapes.h"

#include <algorithm>

namespace {

void AddRoundRect(Gdiplus::GraphicsPath& path, const Gdiplus::RectF& rc, float fRadius)
{
    fRadius = std::min(fRadius, std::min(rc.Width, rc.Height) / 2.0f);
    if (fRadius <= 0.5f) {
        path.AddRectangle(rc);
        return;
    }
    float d = fRadius * 2.0f;
    path.AddArc(rc.X, rc.Y, d, d, 180.0f, 90.0f);
    path.AddArc(rc.X + rc.Width - d, rc.Y, d, d, 270.0f, 90.0f);
    path.AddArc(rc.X + rc.Width - d, rc.Y + rc.Height - d, d, d, 0.0f, 90.0f);
    path.AddArc(rc.X, rc.Y + rc.Height - d, d, d, 90.0f, 90.0f);
    path.CloseFigure();
}

}  // namespace

Gdiplus::Color ToColor(DUI_ARGB argb)
{
    return Gdiplus::Color(static_cast<Gdiplus::ARGB>(argb));
}

void PrepareGraphics(Gdiplus::Graphics& g)
{
    g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
}

void DrawBox(Gdiplus::Graphics& g, const RECT& rc, DUI_ARGB argbBack, DUI_ARGB argbBorder, int nRadius)
{
    float fWidth = static_cast<float>(rc.right - rc.left);
    float fHeight = static_cast<float>(rc.bottom - rc.top);
    if (fWidth <= 0 || fHeight <= 0)
        return;
    if (IsDrawn(argbBack)) {
        Gdiplus::GraphicsPath path;
        AddRoundRect(path, Gdiplus::RectF(static_cast<float>(rc.left), static_cast<float>(rc.top), fWidth, fHeight),
                     static_cast<float>(nRadius));
        Gdiplus::SolidBrush brush(ToColor(argbBack));
        g.FillPath(&brush, &path);
    }
    if (IsDrawn(argbBorder)) {
        Gdiplus::GraphicsPath path;
        AddRoundRect(path, Gdiplus::RectF(rc.left + 0.5f, rc.top + 0.5f, fWidth - 1.0f, fHeight - 1.0f),
                     static_cast<float>(nRadius));
        Gdiplus::Pen pen(ToColor(argbBorder), 1.0f);
        g.DrawPath(&pen, &path);
    }
}

void DrawCloseGlyph(Gdiplus::Graphics& g, const RECT& rc, DUI_ARGB argb)
{
    float cx = (rc.left + rc.right) / 2.0f;
    float cy = (rc.top + rc.bottom) / 2.0f;
    const float h = 4.5f;
    Gdiplus::Pen pen(ToColor(argb), 1.4f);
    g.DrawLine(&pen, cx - h, cy - h, cx + h, cy + h);
    g.DrawLine(&pen, cx - h, cy + h, cx + h, cy - h);
}

void DrawPicture(Gdiplus::Graphics& g, const RECT& rc, IDUIPicture* pPicture, float fDpiScale)
{
    if (!pPicture || !pPicture->pBitmap)
        return;
    float fW = static_cast<float>(pPicture->pBitmap->GetWidth());
    float fH = static_cast<float>(pPicture->pBitmap->GetHeight());
    // The large drawing takes the small one's place in the layout.
    Gdiplus::Bitmap* pSource = fDpiScale > 1.0f && pPicture->pLarge ? pPicture->pLarge.get() : pPicture->pBitmap.get();
    float fBoxW = static_cast<float>(rc.right - rc.left);
    float fBoxH = static_cast<float>(rc.bottom - rc.top);
    if (fW <= 0 || fH <= 0 || fBoxW <= 0 || fBoxH <= 0)
        return;
    // Fit inside the control, never enlarged, centred.
    float fScale = std::min(1.0f, std::min(fBoxW / fW, fBoxH / fH));
    float fDrawW = fW * fScale;
    float fDrawH = fH * fScale;
    g.DrawImage(pSource, rc.left + (fBoxW - fDrawW) / 2.0f, rc.top + (fBoxH - fDrawH) / 2.0f, fDrawW, fDrawH);
}

void DrawSpinner(Gdiplus::Graphics& g, const RECT& rc, const CLook& look, int nAngle)
{
    float fSide = static_cast<float>(std::min(rc.right - rc.left, rc.bottom - rc.top)) - 6.0f;
    if (fSide <= 4.0f)
        return;
    float fX = (rc.left + rc.right - fSide) / 2.0f;
    float fY = (rc.top + rc.bottom - fSide) / 2.0f;
    Gdiplus::Pen track(ToColor(look.argbTrack), 4.0f);
    g.DrawEllipse(&track, fX, fY, fSide, fSide);
    Gdiplus::Pen arc(ToColor(look.argbFore), 4.0f);
    arc.SetStartCap(Gdiplus::LineCapRound);
    arc.SetEndCap(Gdiplus::LineCapRound);
    g.DrawArc(&arc, fX, fY, fSide, fSide, static_cast<float>(nAngle), 100.0f);
}

int BarFillWidth(int cx, LONG lPos)
{
    return cx * static_cast<int>(std::max<LONG>(0, std::min<LONG>(100, lPos))) / 100;
}
