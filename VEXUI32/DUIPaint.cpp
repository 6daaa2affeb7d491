// Drawing a layout: shapes and pictures with GDI+, text with GDI (its font
// mapper falls back to a Chinese face where GDI+ would draw boxes), all into a
// back buffer that is copied to the window in one step.
#include "VEXUI32/DirectUI.h"

#include <objidl.h>

#include <algorithm>
#include <gdiplus.h>

#include "VEXUI32/SkinRes.h"

namespace {

ULONG_PTR g_ulGdiplusToken = 0;

// Pictures beyond this are not icons of a skin; refusing them keeps a bad
// file from costing hundreds of megabytes.
const UINT kMaxPictureSide = 2048;

Gdiplus::Color ToColor(DUI_ARGB argb)
{
    return Gdiplus::Color(static_cast<Gdiplus::ARGB>(argb));
}

COLORREF ToColorRef(DUI_ARGB argb)
{
    return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF);
}

bool IsDrawn(DUI_ARGB argb)
{
    return (argb >> 24) != 0;
}

bool IsOpaque(DUI_ARGB argb)
{
    return (argb >> 24) == 0xFF;
}

// An opaque square-cornered fill needs no smoothing: plain GDI gives the
// same pixels at a fraction of the cost.
void FillSolid(HDC hdc, const RECT& rc, DUI_ARGB argb)
{
    HBRUSH hBrush = ::CreateSolidBrush(ToColorRef(argb));
    if (hBrush) {
        ::FillRect(hdc, &rc, hBrush);
        ::DeleteObject(hBrush);
    }
}

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

// Fills and outlines a rectangle; the outline sits on the pixel centres
// inside the rectangle so a 1-pixel border stays sharp.
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
        AddRoundRect(path,
                     Gdiplus::RectF(rc.left + 0.5f, rc.top + 0.5f, fWidth - 1.0f, fHeight - 1.0f),
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

// rc is in layout pixels; fDpiScale is the window's DPI over 96.
void DrawPicture(Gdiplus::Graphics& g, const RECT& rc, IDUIPicture* pPicture, float fDpiScale)
{
    if (!pPicture || !pPicture->pBitmap)
        return;
    float fW = static_cast<float>(pPicture->pBitmap->GetWidth());
    float fH = static_cast<float>(pPicture->pBitmap->GetHeight());
    // The large drawing takes the small one's place in the layout.
    Gdiplus::Bitmap* pSource = fDpiScale > 1.0f && pPicture->pLarge ? pPicture->pLarge : pPicture->pBitmap;
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
bool DrawText(HDC hdc, HFONT hFont, const std::wstring& strText, RECT rc, const CLook& look, DUI_ARGB argbText)
{
    if (strText.empty() || !IsDrawn(argbText) || !hFont)
        return false;
    HGDIOBJ hOldFont = ::SelectObject(hdc, hFont);
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
    ::SelectObject(hdc, hOldFont);
    return bCut;
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

// With high contrast on, the user's system colours replace the skin's: the
// skin's pale greys and blues are exactly what such a user cannot read.
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

// The filled width of a bar; a position beyond 0 to 100 fills it not at all
// or wholly.
int BarFillWidth(int cx, LONG lPos)
{
    return cx * static_cast<int>(std::max<LONG>(0, std::min<LONG>(100, lPos))) / 100;
}

void PrepareGraphics(Gdiplus::Graphics& g)
{
    g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
}

}  // namespace

IDUIPicture::~IDUIPicture()
{
    delete pBitmap;
    delete pLarge;
}

bool StartDrawing(std::wstring& strError)
{
    if (g_ulGdiplusToken)
        return true;
    Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&g_ulGdiplusToken, &input, nullptr) != Gdiplus::Ok) {
        g_ulGdiplusToken = 0;
        strError = L"cannot start GDI+";
        return false;
    }
    return true;
}

void StopDrawing()
{
    if (g_ulGdiplusToken) {
        Gdiplus::GdiplusShutdown(g_ulGdiplusToken);
        g_ulGdiplusToken = 0;
    }
}

Gdiplus::Bitmap* LoadPictureFile(const std::wstring& strPath, std::wstring& strError)
{
    // Decoded from a copy in memory, then copied again into a bitmap of our
    // own, so that no file or stream stays locked behind the picture.
    HANDLE hFile = ::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        strError = L"cannot open the file (error " + std::to_wstring(::GetLastError()) + L")";
        return nullptr;
    }
    DWORD dwSize = ::GetFileSize(hFile, nullptr);
    HGLOBAL hMem = nullptr;
    bool bRead = false;
    if (dwSize != INVALID_FILE_SIZE && dwSize > 0 && dwSize < 16 * 1024 * 1024) {
        hMem = ::GlobalAlloc(GMEM_MOVEABLE, dwSize);
        void* pData = hMem ? ::GlobalLock(hMem) : nullptr;
        DWORD dwRead = 0;
        bRead = pData && ::ReadFile(hFile, pData, dwSize, &dwRead, nullptr) && dwRead == dwSize;
        if (pData)
            ::GlobalUnlock(hMem);
    }
    ::CloseHandle(hFile);
    IStream* pStream = nullptr;
    if (!bRead || FAILED(::CreateStreamOnHGlobal(hMem, TRUE, &pStream))) {
        if (hMem)
            ::GlobalFree(hMem);
        strError = L"cannot read the file";
        return nullptr;
    }
    Gdiplus::Bitmap* pCopy = nullptr;
    {
        Gdiplus::Bitmap decoded(pStream);
        UINT cx = decoded.GetWidth();
        UINT cy = decoded.GetHeight();
        if (decoded.GetLastStatus() != Gdiplus::Ok || cx == 0 || cy == 0) {
            strError = L"not a picture that can be decoded (use PNG)";
        } else if (cx > kMaxPictureSide || cy > kMaxPictureSide) {
            strError = L"the picture is larger than 2048 pixels";
        } else {
            pCopy = new Gdiplus::Bitmap(static_cast<INT>(cx), static_cast<INT>(cy), PixelFormat32bppPARGB);
            Gdiplus::Graphics g(pCopy);
            g.DrawImage(&decoded, 0, 0, static_cast<INT>(cx), static_cast<INT>(cy));
        }
    }
    pStream->Release();
    return pCopy;
}

void CDirectUI::OnPaint()
{
    PAINTSTRUCT ps;
    HDC hdc = ::BeginPaint(m_hWnd, &ps);
    if (!hdc)
        return;
    RECT rcClient;
    ::GetClientRect(m_hWnd, &rcClient);
    const int cx = rcClient.right;
    const int cy = rcClient.bottom;
    // Only what changed is drawn again; whatever else the system asks for
    // is already in the back buffer and only copied.
    if (cx > 0 && cy > 0 && PrepareBackBuffer(hdc, cx, cy)) {
        PaintDirty(cx, cy);
        ::BitBlt(hdc, ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right - ps.rcPaint.left,
                 ps.rcPaint.bottom - ps.rcPaint.top, m_back.hdc, ps.rcPaint.left, ps.rcPaint.top, SRCCOPY);
    }
    ::EndPaint(m_hWnd, &ps);
}

bool CDirectUI::PrepareBackBuffer(HDC hdcWindow, int cx, int cy)
{
    if (m_back.hdc && m_back.size.cx == cx && m_back.size.cy == cy)
        return true;
    m_bAllDirty = true;
    return m_back.Prepare(hdcWindow, cx, cy, 1);
}

void CDirectUI::FreeBackBuffer()
{
    m_back.Drop();
    m_bAllDirty = true;
    m_spinFrames.Drop();
    m_barParts.Drop();
}

void CDirectUI::PaintDirty(int cx, int cy)
{
    if (m_bAllDirty) {
        ::SelectClipRgn(m_back.hdc, nullptr);
    } else if (m_hrgnDirty) {
        ::SelectClipRgn(m_back.hdc, m_hrgnDirty);
    } else {
        return;  // nothing changed
    }
    PaintAll(m_back.hdc, cx, cy);
    ::SelectClipRgn(m_back.hdc, nullptr);
    m_bAllDirty = false;
    if (m_hrgnDirty) {
        ::DeleteObject(m_hrgnDirty);
        m_hrgnDirty = nullptr;
    }
}

bool CPictureStrip::Prepare(HDC hdcRef, int cx, int cy, int nCount)
{
    if (hdc && size.cx == cx && size.cy == cy)
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
    hdc = ::CreateCompatibleDC(hdcRef);
    hbm = hdc ? ::CreateDIBSection(hdcRef, &bmi, DIB_RGB_COLORS, &pBits, nullptr, 0) : nullptr;
    if (!hbm) {
        Drop();
        return false;
    }
    hbmOld = ::SelectObject(hdc, hbm);
    size = {cx, cy};
    return true;
}

void CPictureStrip::Drop()
{
    if (hdc && hbmOld)
        ::SelectObject(hdc, hbmOld);
    if (hbm)
        ::DeleteObject(hbm);
    if (hdc)
        ::DeleteDC(hdc);
    hdc = nullptr;
    hbm = nullptr;
    hbmOld = nullptr;
    size = {};
    uDrawn = 0;
}

bool CDirectUI::StandsAlone(const CDUIControl& ctrl) const
{
    const RECT& rc = ctrl.m_state.rc;
    // Clear of the frame on the window's edges.
    if (rc.left <= 0 || rc.top <= 0 || rc.right >= m_back.size.cx || rc.bottom >= m_back.size.cy)
        return false;
    if (&ctrl == m_pFocusDrawn)
        return false;
    for (const auto& pOther : m_vecCtrls) {
        RECT rcCommon;
        if (pOther.get() == &ctrl || !IsShown(pOther.get()) || !::IntersectRect(&rcCommon, &rc, &pOther->m_state.rc))
            continue;
        const CLook& look = pOther->m_state.look;
        const bool bDrawsNothing = pOther->m_state.eKind == EDuiKind::Form && !look.pImage &&
                                   !IsDrawn(look.argbBack[LOOK_NORMAL]) && !IsDrawn(look.argbBorder[LOOK_NORMAL]);
        if (!bDrawsNothing)
            return false;
    }
    return true;
}

bool CDirectUI::PaintSpinnerFrame(HDC hdc, const CDUIControl& ctrl, DUI_ARGB argbGround)
{
    const RECT& rc = ctrl.m_state.rc;
    const int cx = rc.right - rc.left;
    const int cy = rc.bottom - rc.top;
    if (!CanDrawQuickly() || !IsOpaque(argbGround) || cx <= 0 || cy <= 0 || !StandsAlone(ctrl) ||
        !m_spinFrames.Prepare(hdc, cx, cy, kSpinSteps))
        return false;
    const int nStep = (m_nSpinAngle / kSpinStepDegrees) % kSpinSteps;
    const RECT rcSlot = {nStep * cx, 0, nStep * cx + cx, cy};
    if (!(m_spinFrames.uDrawn & (1u << nStep))) {
        FillSolid(m_spinFrames.hdc, rcSlot, argbGround);
        Gdiplus::Graphics g(m_spinFrames.hdc);
        PrepareGraphics(g);
        DrawSpinner(g, rcSlot, ctrl.m_state.look, nStep * kSpinStepDegrees);
        m_spinFrames.uDrawn |= 1u << nStep;
    }
    ::BitBlt(hdc, rc.left, rc.top, cx, cy, m_spinFrames.hdc, rcSlot.left, 0, SRCCOPY);
    return true;
}

bool CDirectUI::PaintBarFromParts(HDC hdc, const CDUIControl& ctrl, DUI_ARGB argbGround)
{
    const RECT& rc = ctrl.m_state.rc;
    const CLook& look = ctrl.m_state.look;
    const int cx = rc.right - rc.left;
    const int cy = rc.bottom - rc.top;
    const int nFill = BarFillWidth(cx, ctrl.m_state.lPos);
    // The fill's rounded end is copied from the half-full picture, where it
    // lies on the track's straight middle; near either end of the track it
    // does not, and a radius cut down to half an odd height is no whole
    // number of pixels.
    const int nCap = std::max(look.nRadius, 0);
    const bool bFits = 2 * nCap <= cy && 4 * nCap <= cx / 2 &&
                       (nFill == 0 || nFill == cx || (nFill >= 2 * nCap && nFill <= cx - nCap));
    if (!CanDrawQuickly() || !IsOpaque(argbGround) || cx <= 2 || cy <= 0 || !bFits || !StandsAlone(ctrl) ||
        !m_barParts.Prepare(hdc, cx, cy, 3))
        return false;
    enum { kEmpty = 0, kFull = 1, kHalf = 2 };
    if (m_barParts.uDrawn != 7) {
        Gdiplus::Graphics g(m_barParts.hdc);
        PrepareGraphics(g);
        for (int i = kEmpty; i <= kHalf; ++i) {
            const RECT rcSlot = {i * cx, 0, i * cx + cx, cy};
            FillSolid(m_barParts.hdc, rcSlot, argbGround);
            DrawBox(g, rcSlot, look.argbTrack, 0, look.nRadius);
            RECT rcFill = rcSlot;
            rcFill.right = rcSlot.left + (i == kFull ? cx : cx / 2);
            if (i != kEmpty)
                DrawBox(g, rcFill, look.argbFore, 0, look.nRadius);
        }
        m_barParts.uDrawn = 7;
    }
    if (nFill == 0 || nFill == cx) {
        ::BitBlt(hdc, rc.left, rc.top, cx, cy, m_barParts.hdc, (nFill ? kFull : kEmpty) * cx, 0, SRCCOPY);
        return true;
    }
    // Filled part up to its end, the end itself, then the empty track.
    ::BitBlt(hdc, rc.left, rc.top, nFill - nCap, cy, m_barParts.hdc, kFull * cx, 0, SRCCOPY);
    ::BitBlt(hdc, rc.left + nFill - nCap, rc.top, nCap, cy, m_barParts.hdc, kHalf * cx + cx / 2 - nCap, 0, SRCCOPY);
    ::BitBlt(hdc, rc.left + nFill, rc.top, cx - nFill, cy, m_barParts.hdc, kEmpty * cx + nFill, 0, SRCCOPY);
    return true;
}

HFONT CDirectUI::ScaledFont(const CSkinFont* pFont)
{
    if (!pFont)
        return nullptr;
    if (m_nDpi == 96)
        return pFont->hFont;
    auto it = m_mapFonts.find(pFont);
    if (it != m_mapFonts.end())
        return it->second;
    LOGFONTW lf = {};
    if (!pFont->hFont || !::GetObjectW(pFont->hFont, sizeof(lf), &lf))
        return pFont->hFont;
    // Rounded down: a font's line height grows faster than its size, so a
    // half pixel more would make wrapped text taller than the layout's scale.
    lf.lfHeight = -(pFont->nPixels * m_nDpi / 96);
    HFONT hFont = ::CreateFontIndirectW(&lf);
    if (!hFont)
        return pFont->hFont;  // text at the wrong size beats no text
    m_mapFonts[pFont] = hFont;
    return hFont;
}

void CDirectUI::DropFonts()
{
    for (auto& entry : m_mapFonts)
        ::DeleteObject(entry.second);
    m_mapFonts.clear();
}

void CDirectUI::PaintAll(HDC hdc, int cx, int cy)
{
    RECT rcAll = {0, 0, cx, cy};
    // Asked once per painting, not once per control.
    m_bHighContrast = IsHighContrast();
    m_pFocusDrawn = m_bFocusCues && ::GetFocus() == m_hWnd ? FocusedControl() : nullptr;
    bool bHighContrast = m_bHighContrast;
    DUI_ARGB argbBack = m_layout.look.argbBack[LOOK_NORMAL];
    DUI_ARGB argbFrame = m_layout.look.argbBorder[LOOK_NORMAL];
    if (bHighContrast) {
        argbBack = SysArgb(COLOR_WINDOW);
        argbFrame = SysArgb(COLOR_WINDOWTEXT);
    }
    RECT rcClip = rcAll;
    if (::GetClipBox(hdc, &rcClip) == ERROR)
        rcClip = rcAll;
    if (!IsDrawn(argbBack))
        argbBack = 0xFFFFFFFF;
    if (IsOpaque(argbBack)) {
        FillSolid(hdc, rcClip, argbBack);
    } else {
        Gdiplus::Graphics g(hdc);
        Gdiplus::SolidBrush brush(ToColor(argbBack));
        g.FillRectangle(&brush, 0, 0, cx, cy);
    }
    // The clip region keeps every shape and text to the changed part; a
    // control wholly outside it costs nothing.
    for (const auto& pCtrl : m_vecCtrls) {
        const RECT rcPainted = PaintedRect(pCtrl->m_state.rc);
        if (!::RectVisible(hdc, &rcPainted) || !IsShown(pCtrl.get()))
            continue;
        const EDuiKind eKind = pCtrl->m_state.eKind;
        if (eKind == EDuiKind::Animate && PaintSpinnerFrame(hdc, *pCtrl, argbBack))
            continue;
        if (eKind == EDuiKind::Progress && PaintBarFromParts(hdc, *pCtrl, argbBack))
            continue;
        PaintControl(hdc, *pCtrl);
    }
    // The frame goes over everything, caption bar included; it lies on the
    // window's edges only.
    if (rcClip.left <= 0 || rcClip.top <= 0 || rcClip.right >= cx || rcClip.bottom >= cy) {
        Gdiplus::Graphics g(hdc);
        DrawBox(g, rcAll, 0, argbFrame, 0);
    }
    SyncTips();
}

void CDirectUI::PaintControl(HDC hdc, CDUIControl& ctrl)
{
    const CCtrlTemplate& state = ctrl.m_state;
    const CLook look = m_bHighContrast ? HighContrastLook(state.look, state.eKind) : state.look;
    // Shapes are drawn in layout pixels through a scaling transform; text is
    // drawn by GDI in window pixels with fonts made for the window's DPI.
    const RECT& rc = state.rc;
    int nState = LOOK_NORMAL;
    if (m_pHover == &ctrl)
        nState = m_pPressed == &ctrl ? LOOK_PRESSED : LOOK_HOVER;

    RECT rcText = rc;
    std::wstring strText = state.strText;
    const bool bPlainBox = CanDrawQuickly() && state.eKind != EDuiKind::CheckBox &&
                           state.eKind != EDuiKind::Picture && state.eKind != EDuiKind::Progress &&
                           state.eKind != EDuiKind::Animate && look.eGlyph != EDuiGlyph::Close && !look.pImage &&
                           !IsDrawn(look.argbBorder[nState]) &&
                           (!IsDrawn(look.argbBack[nState]) || (IsOpaque(look.argbBack[nState]) && look.nRadius == 0));
    if (bPlainBox) {
        // Most controls are text on the window's ground or on a flat band.
        if (IsDrawn(look.argbBack[nState]))
            FillSolid(hdc, rc, look.argbBack[nState]);
    } else {
        Gdiplus::Graphics g(hdc);
        g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
        g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
        g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
        float fScale = m_nDpi / 96.0f;
        g.ScaleTransform(fScale, fScale);
        switch (state.eKind) {
        case EDuiKind::CheckBox: {
            const int nBox = 14;
            int nTop = (rc.top + rc.bottom - nBox) / 2;
            RECT rcBox = {rc.left, nTop, rc.left + nBox, nTop + nBox};
            DUI_ARGB argbBorder = IsDrawn(look.argbBorder[nState]) ? look.argbBorder[nState] : 0xFFC0C6CF;
            bool bHighContrast = m_bHighContrast;
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
            DrawPicture(g, rc, ctrl.m_pPicture, fScale);
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
            DrawSpinner(g, rc, look, m_nSpinAngle);
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
    if (state.eKind == EDuiKind::Title) {
        int nLen = ::GetWindowTextLengthW(m_hWnd);
        strText.assign(static_cast<size_t>(std::max(nLen, 0)) + 1, L'\0');
        int nGot = ::GetWindowTextW(m_hWnd, &strText[0], nLen + 1);
        strText.resize(static_cast<size_t>(std::max(nGot, 0)));
        if (strText.empty())
            strText = state.strText;
    }
    ctrl.m_bTextCut = false;
    if (look.eGlyph == EDuiGlyph::None && state.eKind != EDuiKind::Picture && state.eKind != EDuiKind::Progress &&
        state.eKind != EDuiKind::Animate)
        ctrl.m_bTextCut =
            DrawText(hdc, ScaledFont(look.pFont), strText, ScaleRect(rcText), look, look.argbText[nState]);
    if (&ctrl == m_pFocusDrawn) {
        RECT rcFocus = ScaleRect(rc);
        int nInset = ctrl.m_state.eKind == EDuiKind::CheckBox ? 0 : Scale(3);
        ::InflateRect(&rcFocus, -nInset, -nInset);
        ::SetTextColor(hdc, RGB(0, 0, 0));
        ::SetBkColor(hdc, RGB(255, 255, 255));
        ::DrawFocusRect(hdc, &rcFocus);
    }
}
