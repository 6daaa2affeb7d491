// Window layer: attaching a layout to a window and detaching it again: the
// subclassed procedure, the window's size and place at its DPI, its icons.
#include "VEXUI32/DirectUI.h"

#include <algorithm>

#include "VEXUI32/DUIAccess.h"
#include "VEXUI32/DUIOrigin.h"

namespace {

// The window's own DPI where the system knows one per window (per-monitor
// scaling), else the DPI of its screen.
int WindowDpi(HWND hWnd)
{
    typedef UINT(WINAPI * PFN_GETDPIFORWINDOW)(HWND);
    static PFN_GETDPIFORWINDOW pfnGetDpi = reinterpret_cast<PFN_GETDPIFORWINDOW>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    UINT uDpi = pfnGetDpi ? pfnGetDpi(hWnd) : 0;
    if (uDpi == 0) {
        CWindowDC dc(hWnd);
        if (dc)
            uDpi = static_cast<UINT>(::GetDeviceCaps(dc.Get(), LOGPIXELSY));
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
    return FALSE;  // the first group is the one: stop here
}

}  // namespace

bool CDirectUI::Attach(HWND hWnd, std::wstring& strError)
{
    WNDPROC pfnPrev = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hWnd, GWLP_WNDPROC));
    if (!pfnPrev || !::SetPropW(hWnd, kPrevProcProp, reinterpret_cast<HANDLE>(pfnPrev))) {
        strError = L"cannot subclass the window";
        return false;
    }
    m_hWnd = hWnd;
    ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CDirectUI::SubclassProc));
    m_dwWatchThread = DUIOrigin::Watch(hWnd);

    m_nDpi = WindowDpi(hWnd);
    int cx = Scale(m_layout.cx);
    int cy = Scale(m_layout.cy);
    RECT rcNow = {};
    ::GetWindowRect(hWnd, &rcNow);
    int x = rcNow.left;
    int y = rcNow.top;
    MONITORINFO mi = {};
    mi.cbSize = sizeof(mi);
    if (m_layout.bCenter && ::GetMonitorInfoW(::MonitorFromWindow(hWnd, MONITOR_DEFAULTTOPRIMARY), &mi)) {
        x = mi.rcWork.left + (mi.rcWork.right - mi.rcWork.left - cx) / 2;
        y = mi.rcWork.top + (mi.rcWork.bottom - mi.rcWork.top - cy) / 2;
    }
    PlaceOnWorkArea(x, y, cx, cy);
    SetIcons();
    m_pAccessible = new CDUIAccessible(this);
    UpdateSpinTimer();
    Invalidate();
    return true;
}

void CDirectUI::PlaceOnWorkArea(int x, int y, int cx, int cy)
{
    UINT uFlags = SWP_NOZORDER | SWP_NOACTIVATE;
    RECT rcAt = {x, y, x + cx, y + cy};
    MONITORINFO mi = {};
    mi.cbSize = sizeof(mi);
    if (::GetMonitorInfoW(::MonitorFromRect(&rcAt, MONITOR_DEFAULTTONEAREST), &mi)) {
        // Larger at a high DPI, the window must still be whole on the screen;
        // where it cannot be, its top left corner (the caption) is.
        const RECT& rcWork = mi.rcWork;
        x = std::max<int>(rcWork.left, std::min<int>(x, rcWork.right - cx));
        y = std::max<int>(rcWork.top, std::min<int>(y, rcWork.bottom - cy));
    } else {
        uFlags |= SWP_NOMOVE;
    }
    ::SetWindowPos(m_hWnd, nullptr, x, y, cx, cy, uFlags);
}

void CDirectUI::OnDpiChanged(WPARAM wParam)
{
    // The system gives both axes the same DPI; anything else is not its.
    const int nDpi = HIWORD(wParam);
    if (LOWORD(wParam) != nDpi || nDpi < 48 || nDpi > 960)
        return;
    RECT rcNow = {};
    if (!::GetWindowRect(m_hWnd, &rcNow))
        return;
    SetDpi(nDpi);
    // The same layout at the new DPI, around the same centre.
    const int cx = Scale(m_layout.cx);
    const int cy = Scale(m_layout.cy);
    PlaceOnWorkArea((rcNow.left + rcNow.right - cx) / 2, (rcNow.top + rcNow.bottom - cy) / 2, cx, cy);
}

void CDirectUI::SetIcons()
{
    HMODULE hExe = ::GetModuleHandleW(nullptr);
    CIconGroup group;
    // Reports a failure whenever the callback stops it, which it does at the
    // first group; what was found is in group.
    ::EnumResourceNamesW(hExe, MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */, &OnFirstIconGroup,
                         reinterpret_cast<LONG_PTR>(&group));
    LPCWSTR pszGroup = group.Resource();
    if (!pszGroup)
        return;
    // The taskbar and Alt+Tab want the large size, the caption the small
    // one; both at the window's DPI, so that nothing is stretched.
    int nBig = Scale(32);
    int nSmall = Scale(16);
    CIconHandle iconBig(static_cast<HICON>(::LoadImageW(hExe, pszGroup, IMAGE_ICON, nBig, nBig, 0)));
    CIconHandle iconSmall(static_cast<HICON>(::LoadImageW(hExe, pszGroup, IMAGE_ICON, nSmall, nSmall, 0)));
    if (iconBig)
        ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(iconBig.Get()));
    if (iconSmall)
        ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(iconSmall.Get()));
    // The old ones go once the window shows the new ones.
    m_iconBig = std::move(iconBig);
    m_iconSmall = std::move(iconSmall);
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
    if (m_iconBig || m_iconSmall) {
        if (::IsWindow(hWnd)) {
            if (reinterpret_cast<HICON>(::SendMessageW(hWnd, WM_GETICON, ICON_BIG, 0)) == m_iconBig.Get())
                ::SendMessageW(hWnd, WM_SETICON, ICON_BIG, 0);
            if (reinterpret_cast<HICON>(::SendMessageW(hWnd, WM_GETICON, ICON_SMALL, 0)) == m_iconSmall.Get())
                ::SendMessageW(hWnd, WM_SETICON, ICON_SMALL, 0);
        }
        m_iconBig.Reset();
        m_iconSmall.Reset();
    }
    m_fonts.Drop();
    if (m_dwWatchThread)
        DUIOrigin::Unwatch(m_dwWatchThread);
    m_dwWatchThread = 0;
    m_bInitSeen = false;
    m_mapClicksInFlight.clear();
    m_hWnd = nullptr;
    m_pHover = nullptr;
    m_pPressed = nullptr;
    m_pFocus = nullptr;
    m_bTrackingLeave = false;
}
