// Attaching a layout to a window: the subclassed procedure, mouse and caption
// handling, and click notification.
#include "VEXUI32/DirectUI.h"

#include <windowsx.h>

#include "VEXUI32/SkinRes.h"

namespace {

// The previous window procedure lives on the window itself, not in our
// objects, so a window whose chain cannot be unwound (someone subclassed on
// top of us) keeps forwarding after the skin is freed.
const wchar_t kPrevProcProp[] = L"VEXUI32.PrevProc";

// Far above the program's own timer numbers.
const UINT_PTR kSpinTimerId = 0x5645;
const UINT kSpinPeriodMs = 80;

}  // namespace

CDirectUI::CDirectUI(CSkinRes* pSkin, const CLayout& layout) : m_pSkin(pSkin), m_layout(layout)
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

bool CDirectUI::Attach(HWND hWnd, std::wstring& strError)
{
    WNDPROC pfnPrev = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hWnd, GWLP_WNDPROC));
    if (!pfnPrev || !::SetPropW(hWnd, kPrevProcProp, reinterpret_cast<HANDLE>(pfnPrev))) {
        strError = L"cannot subclass the window";
        return false;
    }
    m_hWnd = hWnd;
    ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CDirectUI::SubclassProc));

    int x = 0;
    int y = 0;
    UINT uFlags = SWP_NOZORDER | SWP_NOACTIVATE;
    if (m_layout.bCenter) {
        MONITORINFO mi = {};
        mi.cbSize = sizeof(mi);
        if (::GetMonitorInfoW(::MonitorFromWindow(hWnd, MONITOR_DEFAULTTOPRIMARY), &mi)) {
            x = mi.rcWork.left + (mi.rcWork.right - mi.rcWork.left - m_layout.cx) / 2;
            y = mi.rcWork.top + (mi.rcWork.bottom - mi.rcWork.top - m_layout.cy) / 2;
        } else {
            uFlags |= SWP_NOMOVE;
        }
    } else {
        uFlags |= SWP_NOMOVE;
    }
    ::SetWindowPos(hWnd, nullptr, x, y, m_layout.cx, m_layout.cy, uFlags);
    if (m_bHasSpinner)
        ::SetTimer(hWnd, kSpinTimerId, kSpinPeriodMs, nullptr);
    Invalidate();
    return true;
}

void CDirectUI::Detach()
{
    if (!m_hWnd)
        return;
    HWND hWnd = m_hWnd;
    if (m_bHasSpinner)
        ::KillTimer(hWnd, kSpinTimerId);
    if (::GetCapture() == hWnd && m_pPressed)
        ::ReleaseCapture();
    if (reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hWnd, GWLP_WNDPROC)) == &CDirectUI::SubclassProc) {
        HANDLE hPrev = ::GetPropW(hWnd, kPrevProcProp);
        if (hPrev) {
            ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(hPrev));
            ::RemovePropW(hWnd, kPrevProcProp);
        }
    }
    m_hWnd = nullptr;
    m_pHover = nullptr;
    m_pPressed = nullptr;
    m_bTrackingLeave = false;
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
    return (eKind == EDuiKind::Button || eKind == EDuiKind::CheckBox || eKind == EDuiKind::Picture) &&
           IsShown(pCtrl);
}

CDUIControl* CDirectUI::HitTest(POINT pt) const
{
    // Topmost first: later controls are drawn over earlier ones.
    for (auto it = m_vecCtrls.rbegin(); it != m_vecCtrls.rend(); ++it) {
        CDUIControl* pCtrl = it->get();
        if (IsClickable(pCtrl) && ::PtInRect(&pCtrl->m_state.rc, pt))
            return pCtrl;
    }
    return nullptr;
}

void CDirectUI::Invalidate()
{
    if (m_hWnd)
        ::InvalidateRect(m_hWnd, nullptr, FALSE);
}

void CDirectUI::OnControlChanged(CDUIControl* pCtrl)
{
    // A control that went out of sight can no longer be hovered or pressed.
    if (m_pHover && !IsClickable(m_pHover))
        m_pHover = nullptr;
    if (m_pPressed && !IsClickable(m_pPressed)) {
        m_pPressed = nullptr;
        if (m_hWnd && ::GetCapture() == m_hWnd)
            ::ReleaseCapture();
    }
    (void)pCtrl;
    Invalidate();
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

void CDirectUI::OnSpinTick()
{
    if (!::IsWindowVisible(m_hWnd))
        return;
    for (const auto& pCtrl : m_vecCtrls) {
        if (pCtrl->m_state.eKind == EDuiKind::Animate && IsShown(pCtrl.get())) {
            m_nSpinAngle = (m_nSpinAngle + 30) % 360;
            ::InvalidateRect(m_hWnd, &pCtrl->m_state.rc, FALSE);
        }
    }
}

LRESULT CDirectUI::WndProc(WNDPROC pfnPrev, UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND hWnd = m_hWnd;
    switch (message) {
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_ERASEBKGND:
        // The whole face is painted from a back buffer; erasing would flicker.
        return 1;
    case WM_TIMER:
        if (wParam == kSpinTimerId) {
            OnSpinTick();
            return 0;
        }
        break;
    case WM_NCHITTEST: {
        LRESULT lHit = ::CallWindowProcW(pfnPrev, hWnd, message, wParam, lParam);
        if (lHit != HTCLIENT)
            return lHit;
        POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ::ScreenToClient(hWnd, &pt);
        // The caption band drags the borderless window, except where a
        // control wants the click.
        if (pt.y >= 0 && pt.y < m_layout.nCaption && !HitTest(pt))
            return HTCAPTION;
        return HTCLIENT;
    }
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT && m_pHover) {
            ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        }
        break;
    case WM_MOUSEMOVE:
        OnMouseMove({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        break;
    case WM_MOUSELEAVE:
        m_bTrackingLeave = false;
        if (m_pHover) {
            m_pHover = nullptr;
            Invalidate();
        }
        break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        CDUIControl* pHit = HitTest(pt);
        if (!pHit)
            break;
        m_pPressed = pHit;
        m_pHover = pHit;
        ::SetCapture(hWnd);
        Invalidate();
        return 0;
    }
    case WM_LBUTTONUP: {
        if (!m_pPressed)
            break;
        CDUIControl* pPressed = m_pPressed;
        m_pPressed = nullptr;
        if (::GetCapture() == hWnd)
            ::ReleaseCapture();
        POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        if (HitTest(pt) == pPressed) {
            if (pPressed->m_state.eKind == EDuiKind::CheckBox)
                pPressed->m_state.bChecked = !pPressed->m_state.bChecked;
            // Posted, not sent: the window's handler may end a modal loop or
            // destroy the window, which must not happen while we are still
            // inside this mouse message.
            ::PostMessageW(hWnd, WM_DUI_CLICK, reinterpret_cast<WPARAM>(&pPressed->m_base), 0);
        }
        Invalidate();
        return 0;
    }
    case WM_CAPTURECHANGED:
        if (m_pPressed && reinterpret_cast<HWND>(lParam) != hWnd) {
            m_pPressed = nullptr;
            Invalidate();
        }
        break;
    case WM_SETTEXT: {
        // Title controls show the window text.
        LRESULT lResult = ::CallWindowProcW(pfnPrev, hWnd, message, wParam, lParam);
        Invalidate();
        return lResult;
    }
    default:
        break;
    }
    return ::CallWindowProcW(pfnPrev, hWnd, message, wParam, lParam);
}

LRESULT CALLBACK CDirectUI::SubclassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    WNDPROC pfnPrev = reinterpret_cast<WNDPROC>(::GetPropW(hWnd, kPrevProcProp));
    if (!pfnPrev)
        return ::DefWindowProcW(hWnd, message, wParam, lParam);
    try {
        CSkinRes* pSkin = GetSkin();
        CDirectUI* pUI = pSkin ? pSkin->FindWindowUI(hWnd) : nullptr;
        if (message == WM_NCDESTROY) {
            // Unwind our link first so that the procedures below find the
            // chain as they left it when they unwind theirs.
            if (pUI)
                pUI->Detach();
            if (reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hWnd, GWLP_WNDPROC)) == &CDirectUI::SubclassProc)
                ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(pfnPrev));
            ::RemovePropW(hWnd, kPrevProcProp);
            return ::CallWindowProcW(pfnPrev, hWnd, message, wParam, lParam);
        }
        if (pUI)
            return pUI->WndProc(pfnPrev, message, wParam, lParam);
    } catch (...) {
        // Nothing may unwind into the system's dispatch code.
        return 0;
    }
    return ::CallWindowProcW(pfnPrev, hWnd, message, wParam, lParam);
}
