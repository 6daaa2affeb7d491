// Paint layer: finished pictures kept aside in a strip, each drawn once, so
// that a spinner's tick or a progress report costs copies instead of
// smoothing curves again.
#include "VEXUI32/SkinPaint.h"

#include <algorithm>

#include "VEXUI32/SkinShapes.h"

bool CPictureStrip::Prepare(HDC hdcRef, int cx, int cy, int nCount)
{
    if (m_dc && size.cx == cx && size.cy == cy)
        return true;
    Drop();
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
    bmi.bmiHeader.biWidth = cx * nCount;
    bmi.bmiHeader.biHeight = -cy;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* pBits = nullptr;
    m_dc.Reset(::CreateCompatibleDC(hdcRef));
    m_bitmap.Reset(m_dc ? ::CreateDIBSection(hdcRef, &bmi, DIB_RGB_COLORS, &pBits, nullptr, 0) : nullptr);
    if (!m_bitmap) {
        Drop();
        return false;
    }
    m_selected.emplace(m_dc.Get(), m_bitmap.Get());
    size = {cx, cy};
    return true;
}

void CPictureStrip::Drop()
{
    // The bitmap leaves the DC before either is given back.
    m_selected.reset();
    m_bitmap.Reset();
    m_dc.Reset();
    size = {};
    uDrawn = 0;
}

bool PaintSpinnerFromFrames(HDC hdc, CPictureStrip& frames, const RECT& rc, const CLook& look, int nAngle,
                            DUI_ARGB argbGround)
{
    const int cx = rc.right - rc.left;
    const int cy = rc.bottom - rc.top;
    if (!IsOpaque(argbGround) || cx <= 0 || cy <= 0 || !frames.Prepare(hdc, cx, cy, kSpinSteps))
        return false;
    const int nStep = (nAngle / kSpinStepDegrees) % kSpinSteps;
    const RECT rcSlot = {nStep * cx, 0, nStep * cx + cx, cy};
    if (!(frames.uDrawn & (1u << nStep))) {
        FillSolid(frames.Dc(), rcSlot, argbGround);
        Gdiplus::Graphics g(frames.Dc());
        PrepareGraphics(g);
        DrawSpinner(g, rcSlot, look, nStep * kSpinStepDegrees);
        frames.uDrawn |= 1u << nStep;
    }
    ::BitBlt(hdc, rc.left, rc.top, cx, cy, frames.Dc(), rcSlot.left, 0, SRCCOPY);
    return true;
}

bool PaintBarFromParts(HDC hdc, CPictureStrip& parts, const RECT& rc, const CLook& look, LONG lPos, DUI_ARGB argbGround)
{
    const int cx = rc.right - rc.left;
    const int cy = rc.bottom - rc.top;
    const int nFill = BarFillWidth(cx, lPos);
    // The fill's rounded end is copied from the half-full picture, where it
    // lies on the track's straight middle; near either end of the track it
    // does not, and a radius cut down to half an odd height is no whole
    // number of pixels.
    const int nCap = std::max(look.nRadius, 0);
    const bool bFits = 2 * nCap <= cy && 4 * nCap <= cx / 2 &&
                       (nFill == 0 || nFill == cx || (nFill >= 2 * nCap && nFill <= cx - nCap));
    if (!IsOpaque(argbGround) || cx <= 2 || cy <= 0 || !bFits || !parts.Prepare(hdc, cx, cy, 3))
        return false;
    enum { kEmpty = 0, kFull = 1, kHalf = 2 };
    if (parts.uDrawn != 7) {
        Gdiplus::Graphics g(parts.Dc());
        PrepareGraphics(g);
        for (int i = kEmpty; i <= kHalf; ++i) {
            const RECT rcSlot = {i * cx, 0, i * cx + cx, cy};
            FillSolid(parts.Dc(), rcSlot, argbGround);
            DrawBox(g, rcSlot, look.argbTrack, 0, look.nRadius);
            RECT rcFill = rcSlot;
            rcFill.right = rcSlot.left + (i == kFull ? cx : cx / 2);
            if (i != kEmpty)
                DrawBox(g, rcFill, look.argbFore, 0, look.nRadius);
        }
        parts.uDrawn = 7;
    }
    if (nFill == 0 || nFill == cx) {
        ::BitBlt(hdc, rc.left, rc.top, cx, cy, parts.Dc(), (nFill ? kFull : kEmpty) * cx, 0, SRCCOPY);
        return true;
    }
    // Filled part up to its end, the end itself, then the empty track.
    ::BitBlt(hdc, rc.left, rc.top, nFill - nCap, cy, parts.Dc(), kFull * cx, 0, SRCCOPY);
    ::BitBlt(hdc, rc.left + nFill - nCap, rc.top, nCap, cy, parts.Dc(), kHalf * cx + cx / 2 - nCap, 0, SRCCOPY);
    ::BitBlt(hdc, rc.left + nFill, rc.top, cx - nFill, cy, parts.Dc(), kEmpty * cx + nFill, 0, SRCCOPY);
    return true;
}
