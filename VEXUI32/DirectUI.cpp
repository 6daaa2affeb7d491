// Attaching a layout to a window: the subclassed procedure, mouse and caption
// handling, and click notification.
#include "VEXUI32/DirectUI.h"

#include <windowsx.h>
#include <commctrl.h>
#include <oleacc.h>

#include <algorithm>

#include "VEXUI32/DUIAccess.h"
#include "VEXUI32/SkinRes.h"

namespace {

// The previous window procedure lives on the window itself, not in our
// objects, so a window whose chain cannot be unwound (someone subclassed on
// top of us) keeps forwarding after the skin is freed.
const wchar_t kPrevProcProp[] = L"VEXUI32.PrevProc";

// Far above the program's own timer numbers.
const UINT_PTR kSpinTimerId = 0x5645;
const UINT kSpinPeriodMs = 80;

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

// The window's own DPI where the system knows one per window (per-monitor
// scaling), else the DPI of its screen.
int WindowDpi(HWND hWnd)
{
    typedef UINT(WINAPI * PFN_GETDPIFORWINDOW)(HWND);
    static PFN_GETDPIFORWINDOW pfnGetDpi = reinterpret_cast<PFN_GETDPIFORWINDOW>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    UINT uDpi = pfnGetDpi ? pfnGetDpi(hWnd) : 0;
    if (uDpi == 0) {
        HDC hdc = ::GetDC(hWnd);
        if (hdc) {
            uDpi = static_cast<UINT>(::GetDeviceCaps(hdc, LOGPIXELSY));
            ::ReleaseDC(hWnd, hdc);
        }
    }
    // Anything outside what screens use is a broken answer, not a reason to
    // draw a window ten times its size.
    return uDpi >= 48 && uDpi <= 960 ? static_cast<int>(uDpi) : 96;
}

// The executable's first icon: the application's own, whatever its number
// or name (a name is valid only during the enumeration, so it is copied).
struct CIconGroup {
    ULONG_PTR uId = 0;
    std::wstring strName;
    LPCWSTR Resource() const { return uId ? MAKEINTRESOURCEW(uId) : strName.empty() ? nullptr : strName.c_str(); }
};

BOOL CALLBACK OnFirstIconGroup(HMODULE, LPCWSTR, LPWSTR pszName, LONG_PTR lParam)
{
    CIconGroup* pGroup = reinterpret_cast<CIconGroup*>(lParam);
    try {
        if (IS_INTRESOURCE(pszName))
            pGroup->uId = reinterpret_cast<ULONG_PTR>(pszName);
        else
            pGroup->strName = pszName;
    } catch (...) {
        // No icon rather than an exception through the system's enumeration.
    }
    return FALSE;
}

// Keeps a rectangle of the given size inside the work area.
void KeepOnScreen(const RECT& rcWork, int& x, int& y, int cx, int cy)
{
    x = std::max<int>(rcWork.left, std::min<int>(x, rcWork.right - cx));
    y = std::max<int>(rcWork.top, std::min<int>(y, rcWork.bottom - cy));
}

}  // namespace

RECT CDirectUI::ScaleRect(const RECT& rc) const
{
    return {Scale(rc.left), Scale(rc.top), Scale(rc.right), Scale(rc.bottom)};
}

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
    FreeBackBuffer();
    if (m_hrgnDirty)
        ::DeleteObject(m_hrgnDirty);
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

    m_nDpi = WindowDpi(hWnd);
    int cx = Scale(m_layout.cx);
    int cy = Scale(m_layout.cy);
    int x = 0;
    int y = 0;
    UINT uFlags = SWP_NOZORDER | SWP_NOACTIVATE;
    MONITORINFO mi = {};
    mi.cbSize = sizeof(mi);
    if (::GetMonitorInfoW(::MonitorFromWindow(hWnd, MONITOR_DEFAULTTOPRIMARY), &mi)) {
        RECT rcNow;
        ::GetWindowRect(hWnd, &rcNow);
        x = rcNow.left;
        y = rcNow.top;
        if (m_layout.bCenter) {
            x = mi.rcWork.left + (mi.rcWork.right - mi.rcWork.left - cx) / 2;
            y = mi.rcWork.top + (mi.rcWork.bottom - mi.rcWork.top - cy) / 2;
        }
        // Larger at a high DPI, the window must still be whole on the screen.
        KeepOnScreen(mi.rcWork, x, y, cx, cy);
    } else {
        uFlags |= SWP_NOMOVE;
    }
    ::SetWindowPos(hWnd, nullptr, x, y, cx, cy, uFlags);
    SetIcons();
    m_pAccessible = new CDUIAccessible(this);
    UpdateSpinTimer();
    Invalidate();
    return true;
}

void CDirectUI::SetIcons()
{
    HMODULE hExe = ::GetModuleHandleW(nullptr);
    CIconGroup group;
    ::EnumResourceNamesW(hExe, MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */, &OnFirstIconGroup,
                         reinterpret_cast<LONG_PTR>(&group));
    LPCWSTR pszGroup = group.Resource();
    if (!pszGroup)
        return;
    // The taskbar and Alt+Tab want the large size, the caption the small
    // one; both at the window's DPI, so that nothing is stretched.
    int nBig = ::MulDiv(32, m_nDpi, 96);
    int nSmall = ::MulDiv(16, m_nDpi, 96);
    HICON hBig = static_cast<HICON>(::LoadImageW(hExe, pszGroup, IMAGE_ICON, nBig, nBig, 0));
    HICON hSmall = static_cast<HICON>(::LoadImageW(hExe, pszGroup, IMAGE_ICON, nSmall, nSmall, 0));
    if (hBig)
        ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(hBig));
    if (hSmall)
        ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(hSmall));
    if (m_hIconBig)
        ::DestroyIcon(m_hIconBig);
    if (m_hIconSmall)
        ::DestroyIcon(m_hIconSmall);
    m_hIconBig = hBig;
    m_hIconSmall = hSmall;
}

void CDirectUI::Detach()
{
    if (!m_hWnd)
        return;
    HWND hWnd = m_hWnd;
    if (m_bSpinTimerOn)
        ::KillTimer(hWnd, kSpinTimerId);
    m_bSpinTimerOn = false;
    FreeBackBuffer();
    if (::GetCapture() == hWnd && m_pPressed)
        ::ReleaseCapture();
    if (reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hWnd, GWLP_WNDPROC)) == &CDirectUI::SubclassProc) {
        HANDLE hPrev = ::GetPropW(hWnd, kPrevProcProp);
        if (hPrev) {
            ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(hPrev));
            ::RemovePropW(hWnd, kPrevProcProp);
        }
    }
    if (m_pAccessible) {
        // Readers may hold the object longer than the window lives.
        m_pAccessible->Disconnect();
        m_pAccessible->Release();
        m_pAccessible = nullptr;
    }
    if (m_hTip) {
        ::DestroyWindow(m_hTip);
        m_hTip = nullptr;
    }
    m_mapTipped.clear();
    // The window keeps its icons until it is gone; they are freed only once
    // it no longer uses them.
    if (m_hIconBig || m_hIconSmall) {
        if (::IsWindow(hWnd)) {
            if (reinterpret_cast<HICON>(::SendMessageW(hWnd, WM_GETICON, ICON_BIG, 0)) == m_hIconBig)
                ::SendMessageW(hWnd, WM_SETICON, ICON_BIG, 0);
            if (reinterpret_cast<HICON>(::SendMessageW(hWnd, WM_GETICON, ICON_SMALL, 0)) == m_hIconSmall)
                ::SendMessageW(hWnd, WM_SETICON, ICON_SMALL, 0);
        }
        if (m_hIconBig)
            ::DestroyIcon(m_hIconBig);
        if (m_hIconSmall)
            ::DestroyIcon(m_hIconSmall);
        m_hIconBig = m_hIconSmall = nullptr;
    }
    DropFonts();
    m_hWnd = nullptr;
    m_pHover = nullptr;
    m_pPressed = nullptr;
    m_pFocus = nullptr;
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
        RECT rc = ScaleRect(pCtrl->m_state.rc);
        if (IsClickable(pCtrl) && ::PtInRect(&rc, pt))
            return pCtrl;
    }
    return nullptr;
}

void CDirectUI::Invalidate()
{
    // Whatever made everything change may have changed the looks kept aside.
    m_spinFrames.Drop();
    m_barParts.Drop();
    m_bAllDirty = true;
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
        HRGN hrgn = ::CreateRectRgnIndirect(&rc);
        if (hrgn && !m_hrgnDirty) {
            m_hrgnDirty = hrgn;
        } else if (hrgn) {
            ::CombineRgn(m_hrgnDirty, m_hrgnDirty, hrgn, RGN_OR);
            ::DeleteObject(hrgn);
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
