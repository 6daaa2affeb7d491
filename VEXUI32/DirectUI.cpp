// Window layer: a layout's controls on their window: which are shown, which
// takes a click, what must be drawn again after a change, and the spinner's
// timer.
#include "VEXUI32/DirectUI.h"

#include <oleacc.h>

#include "VEXUI32/SkinUI.h"

namespace {

// A step every 80 ms turns the spinner about once a second, smoothly enough
// for a sign of being busy, at a dozen repaints of a small square a second.
const UINT kSpinPeriodMs = 80;

}  // namespace

CDirectUI::CDirectUI(CSkinUI* pSkin, const CLayout& layout) : m_layout(layout)
{
    m_vecCtrls.reserve(layout.vecCtrls.size());
    for (const CCtrlTemplate& def : layout.vecCtrls) {
        m_vecCtrls.push_back(std::make_unique<CDUIControl>(this, def, 0));
        CDUIControl* pCtrl = m_vecCtrls.back().get();
        pCtrl->m_base.hCtrl = pSkin->RegisterControl(pCtrl);
        m_bHasSpinner = m_bHasSpinner || def.eKind == EDuiKind::Animate;
    }
}

CDirectUI::~CDirectUI()
{
    Detach();
    FreeBackBuffer();
}

HRESULT CDirectUI::GetCtrl(LONG, BSTR bstrName, VARIANT_BOOL bDeep, LONG* plCtrl)
{
    try {
        if (!plCtrl)
            return E_POINTER;
        *plCtrl = 0;
        if (!bstrName || !*bstrName)
            return E_INVALIDARG;
        for (const auto& pCtrl : m_vecCtrls) {
            if (pCtrl->m_state.strName != bstrName)
                continue;
            if (!bDeep && pCtrl->m_state.nParent >= 0)
                continue;
            *plCtrl = pCtrl->m_base.hCtrl;
            return S_OK;
        }
        return S_FALSE;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

bool CDirectUI::IsShown(const CDUIControl* pCtrl) const
{
    while (pCtrl) {
        if (!pCtrl->m_state.bVisible)
            return false;
        int nParent = pCtrl->m_state.nParent;
        pCtrl = nParent >= 0 ? m_vecCtrls[nParent].get() : nullptr;
    }
    return true;
}

bool CDirectUI::IsClickable(const CDUIControl* pCtrl) const
{
    EDuiKind eKind = pCtrl->m_state.eKind;
    return (eKind == EDuiKind::Button || eKind == EDuiKind::CheckBox || eKind == EDuiKind::Picture) && IsShown(pCtrl);
}

CDUIControl* CDirectUI::HitTest(POINT pt) const
{
    // Topmost first: later controls are drawn over earlier ones.
    for (auto it = m_vecCtrls.rbegin(); it != m_vecCtrls.rend(); ++it) {
        CDUIControl* pCtrl = it->get();
        RECT rc = ScaleRect(pCtrl->m_state.rc);
        if (IsClickable(pCtrl) && ::PtInRect(&rc, pt))
            return pCtrl;
    }
    return nullptr;
}

void CDirectUI::Invalidate()
{
    DropKeptPictures();
    if (m_hWnd)
        ::InvalidateRect(m_hWnd, nullptr, FALSE);
}

RECT CDirectUI::PaintedRect(const RECT& rcLayout) const
{
    RECT rc = ScaleRect(rcLayout);
    // Scaled, a smoothed edge may reach into the next pixel.
    if (m_nDpi != 96)
        ::InflateRect(&rc, 1, 1);
    return rc;
}

void CDirectUI::InvalidateArea(const RECT& rc)
{
    if (::IsRectEmpty(&rc))
        return;
    if (!m_bAllDirty) {
        CRegionHandle rgn(::CreateRectRgnIndirect(&rc));
        if (rgn && !m_rgnDirty) {
            m_rgnDirty = std::move(rgn);
        } else if (rgn) {
            ::CombineRgn(m_rgnDirty.Get(), m_rgnDirty.Get(), rgn.Get(), RGN_OR);
        } else {
            m_bAllDirty = true;  // no region to keep account in: draw it all
        }
    }
    if (m_hWnd)
        ::InvalidateRect(m_hWnd, &rc, FALSE);
}

void CDirectUI::InvalidateCtrl(const CDUIControl* pCtrl)
{
    if (!pCtrl)
        return;
    InvalidateArea(PaintedRect(pCtrl->m_state.rc));
    // A form's children may reach beyond it.
    for (const auto& pChild : m_vecCtrls) {
        for (int nParent = pChild->m_state.nParent; nParent >= 0; nParent = m_vecCtrls[nParent]->m_state.nParent) {
            if (m_vecCtrls[nParent].get() == pCtrl) {
                InvalidateArea(PaintedRect(pChild->m_state.rc));
                break;
            }
        }
    }
}

void CDirectUI::OnControlChanged(CDUIControl* pCtrl, DWORD dwEvent, const RECT* prcBefore)
{
    // A control that went out of sight can no longer be hovered or pressed.
    if (m_pHover && !IsClickable(m_pHover))
        m_pHover = nullptr;
    if (m_pPressed && !IsClickable(m_pPressed)) {
        m_pPressed = nullptr;
        if (m_hWnd && ::GetCapture() == m_hWnd)
            ::ReleaseCapture();
    }
    CDUIControl* pFocusBefore = m_pFocus;
    if (m_pFocus && !IsFocusable(m_pFocus))
        m_pFocus = nullptr;
    if (dwEvent)
        Notify(dwEvent, pCtrl);
    if (pFocusBefore != m_pFocus && m_hWnd && ::GetFocus() == m_hWnd)
        Notify(EVENT_OBJECT_FOCUS, FocusedControl());
    if (pFocusBefore != m_pFocus) {
        Invalidate();  // the focus mark moved
    } else {
        if (prcBefore)
            InvalidateArea(PaintedRect(*prcBefore));
        InvalidateCtrl(pCtrl);
    }
    if (pCtrl && (pCtrl->m_state.eKind == EDuiKind::Animate || pCtrl->m_state.eKind == EDuiKind::Form))
        UpdateSpinTimer();
}

CDUIRect* CDirectUI::NewRect(const RECT& rc)
{
    m_vecRects.push_back(std::make_unique<CDUIRect>(rc));
    return m_vecRects.back().get();
}

void CDirectUI::OnMouseMove(POINT pt)
{
    CDUIControl* pHit = HitTest(pt);
    if (pHit != m_pHover) {
        m_pHover = pHit;
        Invalidate();
    }
    if (!m_bTrackingLeave) {
        TRACKMOUSEEVENT tme = {};
        tme.cbSize = sizeof(tme);
        tme.dwFlags = TME_LEAVE;
        tme.hwndTrack = m_hWnd;
        m_bTrackingLeave = ::TrackMouseEvent(&tme) != FALSE;
    }
}

void CDirectUI::UpdateSpinTimer()
{
    bool bWanted = false;
    if (m_bHasSpinner && m_hWnd && ::IsWindowVisible(m_hWnd) && !::IsIconic(m_hWnd)) {
        for (const auto& pCtrl : m_vecCtrls) {
            if (pCtrl->m_state.eKind == EDuiKind::Animate && IsShown(pCtrl.get())) {
                bWanted = true;
                break;
            }
        }
    }
    if (bWanted == m_bSpinTimerOn)
        return;
    if (bWanted) {
        m_bSpinTimerOn = ::SetTimer(m_hWnd, kSpinTimerId, kSpinPeriodMs, nullptr) != 0;
    } else {
        ::KillTimer(m_hWnd, kSpinTimerId);
        m_bSpinTimerOn = false;
    }
}

void CDirectUI::OnSpinTick()
{
    bool bTurned = false;
    if (::IsWindowVisible(m_hWnd)) {
        for (const auto& pCtrl : m_vecCtrls) {
            if (pCtrl->m_state.eKind == EDuiKind::Animate && IsShown(pCtrl.get())) {
                if (!bTurned)
                    m_nSpinAngle = (m_nSpinAngle + kSpinStepDegrees) % 360;
                bTurned = true;
                InvalidateArea(PaintedRect(pCtrl->m_state.rc));
            }
        }
    }
    if (!bTurned)
        UpdateSpinTimer();  // a tick that came in after the spinner went away
}
