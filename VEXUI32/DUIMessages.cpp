// Window layer: the subclassed window procedure. It hands the messages the
// skin cares about to the layout and the rest to the window's own procedure.
#include "VEXUI32/DirectUI.h"

#include <windowsx.h>
#include <commctrl.h>
#include <oleacc.h>

#include "VEXUI32/DUIAccess.h"
#include "VEXUI32/SkinUI.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

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
    case WM_WINDOWPOSCHANGED: {
        // Shown, hidden, minimised or restored.
        LRESULT lResult = ::CallWindowProcW(pfnPrev, hWnd, message, wParam, lParam);
        UpdateSpinTimer();
        return lResult;
    }
    case WM_NCHITTEST: {
        LRESULT lHit = ::CallWindowProcW(pfnPrev, hWnd, message, wParam, lParam);
        if (lHit != HTCLIENT)
            return lHit;
        POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ::ScreenToClient(hWnd, &pt);
        // The caption band drags the borderless window, except where a
        // control wants the click.
        if (pt.y >= 0 && pt.y < Scale(m_layout.nCaption) && !HitTest(pt))
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
        if (m_hTip) {
            MSG msg = {hWnd, message, wParam, lParam, static_cast<DWORD>(::GetMessageTime()), {}};
            ::SendMessageW(m_hTip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
        }
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
        if (m_hTip) {
            MSG msg = {hWnd, message, wParam, lParam, static_cast<DWORD>(::GetMessageTime()), {}};
            ::SendMessageW(m_hTip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
        }
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
            // A clicked button or check box takes the focus, as controls of
            // the system do.
            if (IsFocusable(pPressed))
                SetFocusTo(pPressed);
            Activate(pPressed);
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
    case WM_GETDLGCODE: {
        // Tab and the arrows move the skin's own focus. Enter and Esc stay
        // with the dialog manager where a window has one (its OK and cancel
        // commands are what a dialog promises for them), except Enter on a
        // button that is not the default: that button is what the user chose.
        LRESULT lCode = DLGC_WANTARROWS | DLGC_WANTTAB | DLGC_WANTCHARS;
        const MSG* pMsg = reinterpret_cast<const MSG*>(lParam);
        if (pMsg && pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_RETURN) {
            CDUIControl* pFocus = FocusedControl();
            if (pFocus && pFocus->m_state.eKind == EDuiKind::Button && !pFocus->m_state.bDefault)
                lCode |= DLGC_WANTMESSAGE;
        }
        return lCode;
    }
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
        // A dialog without child windows would leave the keyboard focus
        // nowhere; the skin's controls live in this window, so it takes it.
        if (LOWORD(wParam) != WA_INACTIVE && ::IsWindow(hWnd) && ::GetFocus() != hWnd)
            ::SetFocus(hWnd);
        return lResult;
    }
    case WM_SETFOCUS:
        // Not passed on: the dialog procedure would hand the focus on to a
        // first child, and there is none.
        Notify(EVENT_OBJECT_FOCUS, FocusedControl());
        Invalidate();
        return 0;
    case WM_KILLFOCUS:
        Invalidate();
        break;
    case WM_DPICHANGED: {
        const RECT* pSuggested = reinterpret_cast<const RECT*>(lParam);
        SetDpi(HIWORD(wParam));
        if (pSuggested) {
            ::SetWindowPos(hWnd, nullptr, pSuggested->left, pSuggested->top, pSuggested->right - pSuggested->left,
                           pSuggested->bottom - pSuggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        }
        return 0;
    }
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
        // High contrast may have been switched on or off.
        Invalidate();
        break;
    case WM_GETOBJECT:
        if (static_cast<LONG>(lParam) == OBJID_CLIENT && m_pAccessible)
            return ::LresultFromObject(IID_IAccessible, wParam, m_pAccessible);
        break;
    case WM_SETTEXT: {
        // Title controls show the window text.
        LRESULT lResult = ::CallWindowProcW(pfnPrev, hWnd, message, wParam, lParam);
        for (const auto& pCtrl : m_vecCtrls) {
            if (pCtrl->m_state.eKind == EDuiKind::Title && pCtrl->m_state.strLabel.empty())
                Notify(EVENT_OBJECT_NAMECHANGE, pCtrl.get());
        }
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
        CSkinUI* pSkin = GetSkin();
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
