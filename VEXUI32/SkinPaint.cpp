// Paint layer: a control's face, its text, the window's ground and frame, in
// the skin's colours or the system's high contrast ones.
#include "VEXUI32/SkinPaint.h"

#include <algorithm>
#include <cmath>

#include "VEXUI32/SkinShapes.h"

namespace {

COLORREF ToColorRef(DUI_ARGB argb)
{
    return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF);
}

// Cuts a single line in the middle, keeping its start and its end, which is
// where file names and versions differ: "DazuvuVev_5.2…_1234.exe".
std::wstring CutInMiddle(HDC hdc, const std::wstring& strText, int nWidth)
{
    SIZE size = {};
    ::GetTextExtentPoint32W(hdc, strText.c_str(), static_cast<int>(strText.size()), &size);
    if (size.cx <= nWidth)
        return strText;
    auto Join = [&](size_t nKeep) {
        size_t nHead = (nKeep + 1) / 2;
        size_t nTail = nKeep / 2;
        // Never split a character made of two UTF-16 units.
        if (nHead > 0 && IS_HIGH_SURROGATE(strText[nHead - 1]))
            --nHead;
        size_t nTailStart = strText.size() - nTail;
        if (nTail > 0 && IS_LOW_SURROGATE(strText[nTailStart]))
            ++nTailStart;
        return strText.substr(0, nHead) + L"\u2026" + strText.substr(nTailStart);
    };
    size_t nLow = 0;
    size_t nHigh = strText.size() - 1;
    while (nLow < nHigh) {
        size_t nMid = (nLow + nHigh + 1) / 2;
        std::wstring strTry = Join(nMid);
        ::GetTextExtentPoint32W(hdc, strTry.c_str(), static_cast<int>(strTry.size()), &size);
        if (size.cx <= nWidth)
            nLow = nMid;
        else
            nHigh = nMid - 1;
    }
    return Join(nLow);
}

// Draws the text in rc (window pixels); returns whether it had to be cut.
bool DrawControlText(HDC hdc, HFONT hFont, const std::wstring& strText, RECT rc, const CLook& look, DUI_ARGB argbText)
{
    if (strText.empty() || !IsDrawn(argbText) || !hFont)
        return false;
    CSelectObject font(hdc, hFont);
    ::SetBkMode(hdc, TRANSPARENT);
    ::SetTextColor(hdc, ToColorRef(argbText));
    UINT uFlags = look.uAlign | DT_NOPREFIX;
    bool bCut = false;
    std::wstring strShown = strText;
    if (look.bMultiline) {
        uFlags |= DT_WORDBREAK | DT_EDITCONTROL;
        RECT rcCalc = rc;
        ::DrawTextW(hdc, strText.c_str(), static_cast<int>(strText.size()), &rcCalc, uFlags | DT_CALCRECT);
        int nSpare = (rc.bottom - rc.top) - (rcCalc.bottom - rcCalc.top);
        if (nSpare > 0 && look.nVAlign > 0)
            rc.top += look.nVAlign == 1 ? nSpare / 2 : nSpare;
        bCut = nSpare < 0;
    } else {
        uFlags |= DT_SINGLELINE;
        uFlags |= look.nVAlign == 0 ? DT_TOP : look.nVAlign == 1 ? DT_VCENTER : DT_BOTTOM;
        strShown = CutInMiddle(hdc, strText, rc.right - rc.left);
        bCut = strShown.size() != strText.size() || strShown != strText;
    }
    ::DrawTextW(hdc, strShown.c_str(), static_cast<int>(strShown.size()), &rc, uFlags);
    return bCut;
}

// Shapes are drawn in layout pixels through a scaling transform.
void PaintShapes(HDC hdc, const CControlFace& face, RECT& rcText)
{
    const CCtrlTemplate& state = *face.pState;
    const CLook& look = face.look;
    const int nState = face.nState;
    const RECT& rc = state.rc;
    Gdiplus::Graphics g(hdc);
    PrepareGraphics(g);
    g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    float fScale = face.nDpi / 96.0f;
    g.ScaleTransform(fScale, fScale);
    switch (state.eKind) {
    case EDuiKind::CheckBox: {
        const int nBox = 14;
        int nTop = (rc.top + rc.bottom - nBox) / 2;
        RECT rcBox = {rc.left, nTop, rc.left + nBox, nTop + nBox};
        DUI_ARGB argbBorder = IsDrawn(look.argbBorder[nState]) ? look.argbBorder[nState] : 0xFFC0C6CF;
        bool bHighContrast = face.bHighContrast;
        if (state.bChecked) {
            DrawBox(g, rcBox, look.argbFore, look.argbFore, 3);
            Gdiplus::Pen pen(ToColor(bHighContrast ? SysArgb(COLOR_HIGHLIGHTTEXT) : 0xFFFFFFFF), 1.8f);
            Gdiplus::PointF points[3] = {{rcBox.left + 3.5f, rcBox.top + 7.0f},
                                         {rcBox.left + 6.0f, rcBox.top + 9.8f},
                                         {rcBox.left + 10.8f, rcBox.top + 4.2f}};
            g.DrawLines(&pen, points, 3);
        } else {
            DrawBox(g, rcBox, bHighContrast ? SysArgb(COLOR_WINDOW) : 0xFFFFFFFF, argbBorder, 3);
        }
        rcText.left += nBox + 6;
        break;
    }
    case EDuiKind::Picture:
        DrawBox(g, rc, look.argbBack[nState], look.argbBorder[nState], look.nRadius);
        DrawPicture(g, rc, face.pPicture, fScale);
        break;
    case EDuiKind::Progress: {
        DrawBox(g, rc, look.argbTrack, 0, look.nRadius);
        RECT rcFill = rc;
        rcFill.right = rc.left + BarFillWidth(rc.right - rc.left, state.lPos);
        if (rcFill.right > rcFill.left)
            DrawBox(g, rcFill, look.argbFore, 0, look.nRadius);
        break;
    }
    case EDuiKind::Animate:
        DrawSpinner(g, rc, look, face.nSpinAngle);
        break;
    default:
        DrawBox(g, rc, look.argbBack[nState], look.argbBorder[nState], look.nRadius);
        if (look.eGlyph == EDuiGlyph::Close)
            DrawCloseGlyph(g, rc, look.argbText[nState]);
        if (look.pImage && state.eKind != EDuiKind::Picture)
            DrawPicture(g, rc, look.pImage, fScale);
        break;
    }
}

// sRGB channel (0..255) to linear light.
double LinearChannel(DWORD dwValue)
{
    const double d = dwValue / 255.0;
    return d <= 0.03928 ? d / 12.92 : std::pow((d + 0.055) / 1.055, 2.4);
}

double RelativeLuminance(DUI_ARGB argb)
{
    return 0.2126 * LinearChannel((argb >> 16) & 0xFF) + 0.7152 * LinearChannel((argb >> 8) & 0xFF) +
           0.0722 * LinearChannel(argb & 0xFF);
}

// The user's focus border width and height (the system's setting, 1 pixel
// unless changed), at the DPI the control is drawn at.
SIZE FocusBorder(int nDpi)
{
    UINT uWidth = 0;
    UINT uHeight = 0;
    if (!::SystemParametersInfoW(SPI_GETFOCUSBORDERWIDTH, 0, &uWidth, 0) || uWidth == 0 || uWidth > 16)
        uWidth = 1;
    if (!::SystemParametersInfoW(SPI_GETFOCUSBORDERHEIGHT, 0, &uHeight, 0) || uHeight == 0 || uHeight > 16)
        uHeight = 1;
    return {std::max(1, ScaleToDpi(static_cast<int>(uWidth), nDpi)),
            std::max(1, ScaleToDpi(static_cast<int>(uHeight), nDpi))};
}

// A solid ring, not the system's dotted one: every pixel of it must stand out
// from the face it lies on, and a one-pixel dotted line at 200 % is lost.
void PaintFocusRing(HDC hdc, const CControlFace& face)
{
    const CCtrlTemplate& state = *face.pState;
    RECT rc = ScaleRectToDpi(state.rc, face.nDpi);
    // Buttons get it inside their face; a check box has no face of its own.
    const bool bOnFace = state.eKind != EDuiKind::CheckBox;
    if (bOnFace) {
        const int nInset = ScaleToDpi(3, face.nDpi);
        ::InflateRect(&rc, -nInset, -nInset);
    }
    DUI_ARGB argbFace = face.argbUnder;
    if (bOnFace && IsDrawn(face.look.argbBack[face.nState]))
        argbFace = BlendOver(face.look.argbBack[face.nState], face.argbUnder);
    const DUI_ARGB argbRing = ContrastingArgb(argbFace);
    const SIZE border = FocusBorder(face.nDpi);
    if (rc.right - rc.left <= 2 * border.cx || rc.bottom - rc.top <= 2 * border.cy)
        return;
    const RECT rcEdges[4] = {{rc.left, rc.top, rc.right, rc.top + border.cy},
                             {rc.left, rc.bottom - border.cy, rc.right, rc.bottom},
                             {rc.left, rc.top + border.cy, rc.left + border.cx, rc.bottom - border.cy},
                             {rc.right - border.cx, rc.top + border.cy, rc.right, rc.bottom - border.cy}};
    for (const RECT& rcEdge : rcEdges)
        FillSolid(hdc, rcEdge, argbRing);
}

}  // namespace

DUI_ARGB ContrastingArgb(DUI_ARGB argbFace)
{
    // (L1 + 0.05) / (L2 + 0.05) against black (L = 0) and white (L = 1).
    const double dLum = RelativeLuminance(argbFace);
    const double dWithBlack = (dLum + 0.05) / 0.05;
    const double dWithWhite = 1.05 / (dLum + 0.05);
    return dWithBlack >= dWithWhite ? 0xFF000000 : 0xFFFFFFFF;
}

DUI_ARGB BlendOver(DUI_ARGB argbTop, DUI_ARGB argbBottom)
{
    const DWORD dwAlpha = argbTop >> 24;
    DUI_ARGB argb = 0xFF000000;
    for (int nShift = 0; nShift <= 16; nShift += 8) {
        const DWORD dwTop = (argbTop >> nShift) & 0xFF;
        const DWORD dwBottom = (argbBottom >> nShift) & 0xFF;
        argb |= ((dwTop * dwAlpha + dwBottom * (255 - dwAlpha) + 127) / 255) << nShift;
    }
    return argb;
}

bool IsHighContrast()
{
    HIGHCONTRASTW hc = {};
    hc.cbSize = sizeof(hc);
    return ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(hc), &hc, 0) && (hc.dwFlags & HCF_HIGHCONTRASTON);
}

DUI_ARGB SysArgb(int nIndex)
{
    COLORREF cr = ::GetSysColor(nIndex);
    return 0xFF000000 | (GetRValue(cr) << 16) | (GetGValue(cr) << 8) | GetBValue(cr);
}

CLook HighContrastLook(const CLook& look, EDuiKind eKind)
{
    CLook hc = look;
    bool bButton = eKind == EDuiKind::Button;
    for (int i = 0; i < 3; ++i) {
        bool bActive = i != LOOK_NORMAL && bButton;
        if (bButton)
            hc.argbBack[i] = SysArgb(bActive ? COLOR_HIGHLIGHT : COLOR_BTNFACE);
        else
            hc.argbBack[i] = IsDrawn(look.argbBack[i]) ? SysArgb(COLOR_WINDOW) : 0;
        if (bButton || eKind == EDuiKind::CheckBox || IsDrawn(look.argbBorder[i]))
            hc.argbBorder[i] = SysArgb(bButton ? COLOR_BTNTEXT : COLOR_WINDOWTEXT);
        hc.argbText[i] = SysArgb(bActive ? COLOR_HIGHLIGHTTEXT : bButton ? COLOR_BTNTEXT : COLOR_WINDOWTEXT);
    }
    hc.argbFore = SysArgb(COLOR_HIGHLIGHT);
    hc.argbTrack = SysArgb(COLOR_GRAYTEXT);
    return hc;
}

void FillSolid(HDC hdc, const RECT& rc, DUI_ARGB argb)
{
    CBrushHandle brush(::CreateSolidBrush(ToColorRef(argb)));
    if (brush)
        ::FillRect(hdc, &rc, brush.Get());
}

void PaintGround(HDC hdc, const RECT& rcClip, int cx, int cy, DUI_ARGB argbBack)
{
    if (IsOpaque(argbBack)) {
        FillSolid(hdc, rcClip, argbBack);
    } else {
        Gdiplus::Graphics g(hdc);
        Gdiplus::SolidBrush brush(ToColor(argbBack));
        g.FillRectangle(&brush, 0, 0, cx, cy);
    }
}

void PaintFrame(HDC hdc, const RECT& rcAll, DUI_ARGB argbFrame)
{
    Gdiplus::Graphics g(hdc);
    DrawBox(g, rcAll, 0, argbFrame, 0);
}

HFONT CDpiFonts::Get(const CSkinFont* pFont, int nDpi)
{
    if (!pFont)
        return nullptr;
    if (nDpi == 96)
        return pFont->hFont.Get();
    auto it = m_mapFonts.find(pFont);
    if (it != m_mapFonts.end())
        return it->second.Get();
    LOGFONTW lf = {};
    if (!pFont->hFont || !::GetObjectW(pFont->hFont.Get(), sizeof(lf), &lf))
        return pFont->hFont.Get();
    // Rounded down: a font's line height grows faster than its size, so a
    // half pixel more would make wrapped text taller than the layout's scale.
    lf.lfHeight = -(pFont->nPixels * nDpi / 96);
    CFontHandle font(::CreateFontIndirectW(&lf));
    if (!font)
        return pFont->hFont.Get();  // text at the wrong size beats no text
    HFONT hFont = font.Get();
    m_mapFonts[pFont] = std::move(font);
    return hFont;
}

bool PaintControlFace(HDC hdc, const CControlFace& face)
{
    const CCtrlTemplate& state = *face.pState;
    const CLook& look = face.look;
    const int nState = face.nState;
    // Text is drawn by GDI in window pixels with fonts made for the window's
    // DPI.
    const RECT& rc = state.rc;
    RECT rcText = rc;
    const bool bPlainBox = face.bQuick && state.eKind != EDuiKind::CheckBox && state.eKind != EDuiKind::Picture &&
                           state.eKind != EDuiKind::Progress && state.eKind != EDuiKind::Animate &&
                           look.eGlyph != EDuiGlyph::Close && !look.pImage && !IsDrawn(look.argbBorder[nState]) &&
                           (!IsDrawn(look.argbBack[nState]) || (IsOpaque(look.argbBack[nState]) && look.nRadius == 0));
    if (bPlainBox) {
        // Most controls are text on the window's ground or on a flat band.
        if (IsDrawn(look.argbBack[nState]))
            FillSolid(hdc, rc, look.argbBack[nState]);
    } else {
        PaintShapes(hdc, face, rcText);
    }
    bool bTextCut = false;
    if (look.eGlyph == EDuiGlyph::None && state.eKind != EDuiKind::Picture && state.eKind != EDuiKind::Progress &&
        state.eKind != EDuiKind::Animate)
        bTextCut = DrawControlText(hdc, face.pFonts->Get(look.pFont, face.nDpi), face.strText,
                                   ScaleRectToDpi(rcText, face.nDpi), look, look.argbText[nState]);
    if (face.bFocus)
        PaintFocusRing(hdc, face);
    return bTextCut;
}
