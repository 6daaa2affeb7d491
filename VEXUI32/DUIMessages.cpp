// Window layer: the subclassed window procedure. It hands the messages the
// skin cares about to the layout and the rest to the window's own procedure.
#include "VEXUI32/DirectUI.h"

#include <windowsx.h>
#include <commctrl.h>
#include <oleacc.h>

#include "VEXUI32/DUIAccess.h"
#include "VEXUI32/DUIOrigin.h"
#include "VEXUI32/SkinUI.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

LRESULT CDirectUI::WndProc(WNDPROC pfnPrev, UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND hWnd = m_hWnd;
    // Client coordinates for the mouse messages, screen ones for WM_NCHITTEST.
    const POINT ptMouse = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    switch (message) {
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_ERASEBKGND:
        // The whole face is painted from a back buffer; erasing would flicker.
        return 1;
    case WM_TIMER:
        if (wParam == kSpinTimerId) {
            // A tick posted while no spinner turns is no tick.
            if (m_bSpinTimerOn)
                OnSpinTick();
            return 0;
        }
        break;
    case WM_WINDOWPOSCHANGED: {
        // Shown, hidden, minimised or restored.
        LRESULT lResult = ::CallWindowProcW(pfnPrev, hWnd, message, wParam, lParam);
        UpdateSpinTimer();
        return lResult;
    }
    case WM_NCHITTEST:
        return OnNcHitTest(::CallWindowProcW(pfnPrev, hWnd, message, wParam, lParam), ptMouse);
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT && m_pHover) {
            ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        }
        break;
    case WM_MOUSEMOVE:
        RelayToTip(message, wParam, lParam);
        OnMouseMove(ptMouse);
        break;
    case WM_MOUSELEAVE:
        OnMouseLeave();
        break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        RelayToTip(message, wParam, lParam);
        if (OnButtonDown(ptMouse))
            return 0;
        break;
    case WM_LBUTTONUP:
        if (OnButtonUp(ptMouse))
            return 0;
        break;
    case WM_CAPTURECHANGED:
        OnCaptureChanged(reinterpret_cast<HWND>(lParam));
        break;
    case WM_GETDLGCODE:
        return OnGetDlgCode(reinterpret_cast<const MSG*>(lParam));
    case WM_KEYDOWN:
        if (OnKeyDown(wParam, lParam))
            return 0;
        break;
    case WM_CHAR:
        // Space, Enter, Esc and Tab were handled as keys; their characters
        // must not reach the dialog procedure a second time.
        if (wParam == L' ' || wParam == L'\r' || wParam == 27 || wParam == L'\t')
            return 0;
        break;
    case WM_ACTIVATE: {
        LRESULT lResult = ::CallWindowProcW(pfnPrev, hWnd, message, wParam, lParam);
        // Only what the system says, not what wParam claims: a posted
        // WM_ACTIVATE must not pull the focus into a window in the back.
        OnActivated(::GetActiveWindow() == hWnd);
        return lResult;
    }
    case WM_SETFOCUS:
        // Not passed on: the dialog procedure would hand the focus on to a
        // first child, and there is none. Readers hear of the focus only
        // when the window has it.
        if (::GetFocus() == hWnd)
            Notify(EVENT_OBJECT_FOCUS, FocusedControl());
        Invalidate();
        return 0;
    case WM_KILLFOCUS:
        Invalidate();
        break;
    case WM_DPICHANGED:
        OnDpiChanged(wParam);
        return 0;
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
        // High contrast may have been switched on or off.
        Invalidate();
        break;
    case WM_GETOBJECT:
        // A reader sends it and claims the object the result names; each
        // posted one would leave the object marshalled for a reader that
        // never comes.
        if (static_cast<LONG>(lParam) == OBJID_CLIENT && m_pAccessible) {
            if (!IsGenuine(message, wParam, lParam))
                return 0;
            return ::LresultFromObject(IID_IAccessible, wParam, m_pAccessible);
        }
        break;
    case WM_INITDIALOG:
    case WM_DESTROY:
    case WM_DUI_CLICK:
        if (!IsGenuine(message, wParam, lParam))
            return message == WM_INITDIALOG ? FALSE : 0;
        break;
    case WM_SETTEXT: {
        LRESULT lResult = ::CallWindowProcW(pfnPrev, hWnd, message, wParam, lParam);
        OnTextChanged();
        return lResult;
    }
    default:
        break;
    }
    return ::CallWindowProcW(pfnPrev, hWnd, message, wParam, lParam);
}

LRESULT CDirectUI::OnNcHitTest(LRESULT lHit, POINT ptScreen)
{
    if (lHit != HTCLIENT)
        return lHit;
    POINT pt = ptScreen;
    ::ScreenToClient(m_hWnd, &pt);
    // The caption band drags the borderless window, except where a control
    // wants the click.
    if (pt.y >= 0 && pt.y < Scale(m_layout.nCaption) && !HitTest(pt))
        return HTCAPTION;
    return HTCLIENT;
}

void CDirectUI::RelayToTip(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!m_hTip)
        return;
    MSG msg = {m_hWnd, message, wParam, lParam, static_cast<DWORD>(::GetMessageTime()), {}};
    ::SendMessageW(m_hTip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
}

void CDirectUI::OnMouseLeave()
{
    m_bTrackingLeave = false;
    if (m_pHover) {
        m_pHover = nullptr;
        Invalidate();
    }
}

bool CDirectUI::OnButtonDown(POINT pt)
{
    CDUIControl* pHit = HitTest(pt);
    if (!pHit)
        return false;
    m_pPressed = pHit;
    m_pHover = pHit;
    ::SetCapture(m_hWnd);
    Invalidate();
    return true;
}

bool CDirectUI::OnButtonUp(POINT pt)
{
    if (!m_pPressed)
        return false;
    CDUIControl* pPressed = m_pPressed;
    m_pPressed = nullptr;
    if (::GetCapture() == m_hWnd)
        ::ReleaseCapture();
    if (HitTest(pt) == pPressed) {
        // A clicked button or check box takes the focus, as controls of the
        // system do.
        if (IsFocusable(pPressed))
            SetFocusTo(pPressed);
        Activate(pPressed);
    }
    Invalidate();
    return true;
}

void CDirectUI::OnCaptureChanged(HWND hNewCapture)
{
    if (m_pPressed && hNewCapture != m_hWnd) {
        m_pPressed = nullptr;
        Invalidate();
    }
}

LRESULT CDirectUI::OnGetDlgCode(const MSG* pMsg)
{
    // Tab and the arrows move the skin's own focus. Enter and Esc stay with
    // the dialog manager where a window has one (its OK and cancel commands
    // are what a dialog promises for them), except Enter on a button that is
    // not the default: that button is what the user chose.
    LRESULT lCode = DLGC_WANTARROWS | DLGC_WANTTAB | DLGC_WANTCHARS;
    if (pMsg && pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_RETURN) {
        CDUIControl* pFocus = FocusedControl();
        if (pFocus && pFocus->m_state.eKind == EDuiKind::Button && !pFocus->m_state.bDefault)
            lCode |= DLGC_WANTMESSAGE;
    }
    return lCode;
}

bool CDirectUI::IsGenuine(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        // A dialog is initialised once, by the system, before anyone can
        // find it; later ones would run the program's set-up again.
        if (m_bInitSeen || DUIOrigin::TakePosted(m_hWnd, message, wParam, lParam))
            return false;
        m_bInitSeen = true;
        return true;
    case WM_DESTROY:
    case WM_NCDESTROY:
        return DUIOrigin::IsBeingDestroyed(m_hWnd);
    case WM_GETOBJECT:
        return !DUIOrigin::TakePosted(m_hWnd, message, wParam, lParam);
    case WM_DUI_CLICK: {
        // Clicks are the library's to report; one it did not post is not
        // the user's.
        auto it = m_mapClicksInFlight.find(wParam);
        if (it == m_mapClicksInFlight.end())
            return false;
        if (--it->second == 0)
            m_mapClicksInFlight.erase(it);
        return true;
    }
    default:
        return true;
    }
}

void CDirectUI::OnActivated(bool bActive)
{
    // A dialog without child windows would leave the keyboard focus nowhere;
    // the skin's controls live in this window, so it takes it.
    if (bActive && ::IsWindow(m_hWnd) && ::GetFocus() != m_hWnd)
        ::SetFocus(m_hWnd);
}

void CDirectUI::OnTextChanged()
{
    // Title controls without a label of their own show the window text.
    for (const auto& pCtrl : m_vecCtrls) {
        if (pCtrl->m_state.eKind == EDuiKind::Title && pCtrl->m_state.strLabel.empty())
            Notify(EVENT_OBJECT_NAMECHANGE, pCtrl.get());
    }
    Invalidate();
}

LRESULT CALLBACK CDirectUI::SubclassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    WNDPROC pfnPrev = reinterpret_cast<WNDPROC>(::GetPropW(hWnd, kPrevProcProp));
    if (!pfnPrev)
        return ::DefWindowProcW(hWnd, message, wParam, lParam);
    try {
        CSkinUI* pSkin = GetSkin();
        CDirectUI* pUI = pSkin ? pSkin->FindWindowUI(hWnd) : nullptr;
        if (message == WM_NCDESTROY) {
            // Only the system's, at the end of DestroyWindow, ends the
            // skin's life on the window; anyone else's changes nothing.
            if (pUI && !pUI->IsGenuine(message, wParam, lParam))
                return 0;
            DUIOrigin::Destroyed(hWnd);
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
