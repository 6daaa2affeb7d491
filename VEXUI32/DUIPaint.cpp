// Window layer: painting a skinned window. What changed is drawn again into a
// back buffer kept between paints, which is copied to the window in one step;
// the paint layer draws each control.
#include "VEXUI32/DirectUI.h"

#include <algorithm>

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
                 ps.rcPaint.bottom - ps.rcPaint.top, m_back.Dc(), ps.rcPaint.left, ps.rcPaint.top, SRCCOPY);
    }
    ::EndPaint(m_hWnd, &ps);
}

bool CDirectUI::PrepareBackBuffer(HDC hdcWindow, int cx, int cy)
{
    if (m_back.Dc() && m_back.size.cx == cx && m_back.size.cy == cy)
        return true;
    m_bAllDirty = true;
    return m_back.Prepare(hdcWindow, cx, cy, 1);
}

void CDirectUI::FreeBackBuffer()
{
    m_back.Drop();
    DropKeptPictures();
}

void CDirectUI::DropKeptPictures()
{
    m_bAllDirty = true;
    m_spinFrames.Drop();
    m_barParts.Drop();
}

void CDirectUI::PaintDirty(int cx, int cy)
{
    if (m_bAllDirty) {
        ::SelectClipRgn(m_back.Dc(), nullptr);
    } else if (m_rgnDirty) {
        ::SelectClipRgn(m_back.Dc(), m_rgnDirty.Get());
    } else {
        return;  // nothing changed
    }
    PaintAll(m_back.Dc(), cx, cy);
    ::SelectClipRgn(m_back.Dc(), nullptr);
    m_bAllDirty = false;
    m_rgnDirty.Reset();
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
    return CanDrawQuickly() && StandsAlone(ctrl) &&
           PaintSpinnerFromFrames(hdc, m_spinFrames, ctrl.m_state.rc, ctrl.m_state.look, m_nSpinAngle, argbGround);
}

bool CDirectUI::PaintBarFromParts(HDC hdc, const CDUIControl& ctrl, DUI_ARGB argbGround)
{
    return CanDrawQuickly() && StandsAlone(ctrl) &&
           ::PaintBarFromParts(hdc, m_barParts, ctrl.m_state.rc, ctrl.m_state.look, ctrl.m_state.lPos, argbGround);
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
    PaintGround(hdc, rcClip, cx, cy, argbBack);
    m_argbGround = BlendOver(argbBack, 0xFFFFFFFF);
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
    if (rcClip.left <= 0 || rcClip.top <= 0 || rcClip.right >= cx || rcClip.bottom >= cy)
        PaintFrame(hdc, rcAll, argbFrame);
    SyncTips();
}

std::wstring CDirectUI::TitleText(const CCtrlTemplate& state) const
{
    std::wstring strText;
    int nLen = ::GetWindowTextLengthW(m_hWnd);
    strText.assign(static_cast<size_t>(std::max(nLen, 0)) + 1, L'\0');
    int nGot = ::GetWindowTextW(m_hWnd, &strText[0], nLen + 1);
    strText.resize(static_cast<size_t>(std::max(nGot, 0)));
    if (strText.empty())
        strText = state.strText;
    return strText;
}

DUI_ARGB CDirectUI::GroundUnder(const CDUIControl& ctrl) const
{
    const RECT& rc = ctrl.m_state.rc;
    const POINT ptCentre = {(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
    DUI_ARGB argbUnder = m_argbGround;
    for (const auto& pOther : m_vecCtrls) {
        if (pOther.get() == &ctrl)
            break;
        const CCtrlTemplate& other = pOther->m_state;
        if (!::PtInRect(&other.rc, ptCentre) || !IsShown(pOther.get()))
            continue;
        const CLook look = m_bHighContrast ? HighContrastLook(other.look, other.eKind) : other.look;
        if (IsDrawn(look.argbBack[LOOK_NORMAL]))
            argbUnder = BlendOver(look.argbBack[LOOK_NORMAL], argbUnder);
    }
    return argbUnder;
}

void CDirectUI::PaintControl(HDC hdc, CDUIControl& ctrl)
{
    const CCtrlTemplate& state = ctrl.m_state;
    CControlFace face;
    face.pState = &state;
    face.look = m_bHighContrast ? HighContrastLook(state.look, state.eKind) : state.look;
    if (m_pHover == &ctrl)
        face.nState = m_pPressed == &ctrl ? LOOK_PRESSED : LOOK_HOVER;
    face.pPicture = ctrl.m_pPicture;
    face.strText = state.eKind == EDuiKind::Title ? TitleText(state) : state.strText;
    face.nDpi = m_nDpi;
    face.bQuick = CanDrawQuickly();
    face.bHighContrast = m_bHighContrast;
    face.nSpinAngle = m_nSpinAngle;
    face.bFocus = &ctrl == m_pFocusDrawn;
    if (face.bFocus)
        face.argbUnder = GroundUnder(ctrl);
    face.pFonts = &m_fonts;
    ctrl.m_bTextCut = PaintControlFace(hdc, face);
}
