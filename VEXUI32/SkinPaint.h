// Paint layer: drawing the model's controls into a DC. Shapes and pictures
// with GDI+, text with GDI (its font mapper falls back to a Chinese face where
// GDI+ would draw boxes). It knows the model, not the windows: the window
// layer decides what to draw and where, then calls these.
#pragma once

#include <optional>

#include "VEXUI32/SkinModel.h"

inline bool IsDrawn(DUI_ARGB argb)
{
    return (argb >> 24) != 0;
}

inline bool IsOpaque(DUI_ARGB argb)
{
    return (argb >> 24) == 0xFF;
}

// Layout pixels (96 DPI, what the layout file and the program use) to pixels
// at nDpi.
inline int ScaleToDpi(int nValue, int nDpi)
{
    return ::MulDiv(nValue, nDpi, 96);
}

inline RECT ScaleRectToDpi(const RECT& rc, int nDpi)
{
    return {ScaleToDpi(rc.left, nDpi), ScaleToDpi(rc.top, nDpi), ScaleToDpi(rc.right, nDpi),
            ScaleToDpi(rc.bottom, nDpi)};
}

// The spinner turns by whole steps.
const int kSpinStepDegrees = 30;
const int kSpinSteps = 360 / kSpinStepDegrees;

DUI_ARGB SysArgb(int nIndex);
bool IsHighContrast();
// With high contrast on, the user's system colours replace the skin's: the
// skin's pale greys and blues are exactly what such a user cannot read.
CLook HighContrastLook(const CLook& look, EDuiKind eKind);

// An opaque square-cornered fill needs no smoothing: plain GDI gives the
// same pixels at a fraction of the cost.
void FillSolid(HDC hdc, const RECT& rc, DUI_ARGB argb);
// The window's ground: rcClip of it when opaque, else the whole cx by cy.
void PaintGround(HDC hdc, const RECT& rcClip, int cx, int cy, DUI_ARGB argbBack);
// The one-pixel frame along the edges of rcAll.
void PaintFrame(HDC hdc, const RECT& rcAll, DUI_ARGB argbFrame);

// The skin's fonts made again for a DPI other than 96, each once.
class CDpiFonts {
public:
    // pFont's own font at 96 DPI, or where no other can be made.
    HFONT Get(const CSkinFont* pFont, int nDpi);
    void Drop() { m_mapFonts.clear(); }

private:
    std::map<const CSkinFont*, CFontHandle> m_mapFonts;
};

// What one control looks like at this moment.
struct CControlFace {
    const CCtrlTemplate* pState = nullptr;
    CLook look;                // the skin's, or high contrast's
    int nState = LOOK_NORMAL;  // normal, hover or pressed
    IDUIPicture* pPicture = nullptr;
    std::wstring strText;
    int nDpi = 96;
    bool bQuick = false;  // the plain GDI ways may stand in for GDI+
    bool bHighContrast = false;
    int nSpinAngle = 0;
    bool bFocus = false;  // draws the focus ring
    // What the control stands on (a form's or the window's ground), opaque:
    // the focus ring must be seen against the face over it.
    DUI_ARGB argbUnder = 0xFFFFFFFF;
    CDpiFonts* pFonts = nullptr;
};

// Black or white, whichever stands out more from argbFace (opaque) by the
// contrast ratio of relative luminances that accessibility guidelines use.
DUI_ARGB ContrastingArgb(DUI_ARGB argbFace);
// argbTop laid over the opaque argbBottom.
DUI_ARGB BlendOver(DUI_ARGB argbTop, DUI_ARGB argbBottom);

// Draws the control; returns whether its text had to be cut to fit.
bool PaintControlFace(HDC hdc, const CControlFace& face);

// A 32-bit bitmap selected into a DC of its own: the back buffer, or finished
// pictures kept aside side by side, each drawn once.
class CPictureStrip {
public:
    CPictureStrip() = default;
    CPictureStrip(const CPictureStrip&) = delete;
    CPictureStrip& operator=(const CPictureStrip&) = delete;
    ~CPictureStrip() { Drop(); }
    // Room for nCount pictures of that size; what is drawn stays when the
    // size is the same. False when the bitmap cannot be made.
    bool Prepare(HDC hdcRef, int cx, int cy, int nCount);
    void Drop();
    HDC Dc() const { return m_dc.Get(); }

    SIZE size = {};       // of one picture
    unsigned uDrawn = 0;  // which pictures are drawn

private:
    // Declared in the order they are made; given back in the reverse one.
    CMemoryDC m_dc;
    CBitmapHandle m_bitmap;
    std::optional<CSelectObject> m_selected;
};

// The spinner at nAngle copied from frames kept aside, drawing that frame
// first if needed; false where a kept frame would be wrong.
bool PaintSpinnerFromFrames(HDC hdc, CPictureStrip& frames, const RECT& rc, const CLook& look, int nAngle,
                            DUI_ARGB argbGround);
// The bar put together from three pictures kept aside (empty, full, half
// full); false where that would not give the drawn bar's pixels.
bool PaintBarFromParts(HDC hdc, CPictureStrip& parts, const RECT& rc, const CLook& look, LONG lPos,
                       DUI_ARGB argbGround);
