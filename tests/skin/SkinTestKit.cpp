#include "tests/skin/SkinTestKit.h"

#include <shellapi.h>

#include "win/Handles.h"

namespace {

const wchar_t kWindowProp[] = L"SkinTest.Window";

thread_local CTestWindow* t_pPending = nullptr;
thread_local HHOOK t_hHook = nullptr;

LRESULT CALLBACK FrameworkProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto pWnd = static_cast<CTestWindow*>(::GetPropW(hWnd, kWindowProp));
    if (!pWnd)
        return ::DefWindowProcW(hWnd, message, wParam, lParam);
    WNDPROC pfnPrev = pWnd->pfnPrev;
    switch (message) {
    case WM_CREATE: {
        LRESULT lResult = ::CallWindowProcW(pfnPrev, hWnd, message, wParam, lParam);
        if (lResult == -1)
            return -1;
        pWnd->hWnd = hWnd;
        pWnd->pDirectUI = AttachSkinWindow(pWnd->pRes, pWnd->strLayout.c_str(), hWnd);
        return lResult;
    }
    case WM_DUI_CLICK:
        pWnd->vecClicks.push_back(wParam);
        return 0;
    case WM_APP:
        ++pWnd->nAppMessages;
        return 0;
    case WM_TIMER:
        pWnd->vecTimerIds.push_back(wParam);
        return 0;
    case WM_INITDIALOG:
        ++pWnd->nInitDialogs;
        return ::CallWindowProcW(pfnPrev, hWnd, message, wParam, lParam);
    case WM_DESTROY:
        ++pWnd->nDestroys;
        return ::CallWindowProcW(pfnPrev, hWnd, message, wParam, lParam);
    case WM_NCDESTROY:
        ++pWnd->nNcDestroys;
        pWnd->bChainRestored = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hWnd, GWLP_WNDPROC)) == &FrameworkProc;
        ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(pfnPrev));
        ::RemovePropW(hWnd, kWindowProp);
        pWnd->hWnd = nullptr;
        return ::CallWindowProcW(pfnPrev, hWnd, message, wParam, lParam);
    default:
        return ::CallWindowProcW(pfnPrev, hWnd, message, wParam, lParam);
    }
}

// Subclasses at creation, before WM_CREATE, as the program's framework does.
LRESULT CALLBACK CbtHook(int nCode, WPARAM wParam, LPARAM lParam)
{
    if (nCode == HCBT_CREATEWND && t_pPending) {
        HWND hWnd = reinterpret_cast<HWND>(wParam);
        CTestWindow* pWnd = t_pPending;
        t_pPending = nullptr;
        ::SetPropW(hWnd, kWindowProp, pWnd);
        pWnd->pfnPrev = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FrameworkProc)));
    }
    return ::CallNextHookEx(t_hHook, nCode, wParam, lParam);
}

INT_PTR CALLBACK DialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

INPUT MouseInput(DWORD dwFlags, POINT pt)
{
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = dwFlags;
    if (dwFlags & MOUSEEVENTF_ABSOLUTE) {
        int cx = ::GetSystemMetrics(SM_CXSCREEN);
        int cy = ::GetSystemMetrics(SM_CYSCREEN);
        input.mi.dx = static_cast<LONG>((pt.x * 65536LL + cx / 2) / cx);
        input.mi.dy = static_cast<LONG>((pt.y * 65536LL + cy / 2) / cy);
    }
    return input;
}

void SendMouse(std::vector<INPUT> inputs)
{
    ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

}  // namespace

CTestWindow::~CTestWindow()
{
    if (hWnd)
        ::DestroyWindow(hWnd);
}

std::unique_ptr<CTestWindow> CreateSkinnedWindow(IDUIRes* pRes, const wchar_t* pszLayout)
{
    auto pWnd = std::make_unique<CTestWindow>();
    pWnd->pRes = pRes;
    pWnd->strLayout = pszLayout;
    struct alignas(4) {
        DLGTEMPLATE dlg;
        WORD wMenu, wClass, wTitle;
    } tmpl = {};
    tmpl.dlg.style = WS_POPUP;
    tmpl.dlg.cx = 200;
    tmpl.dlg.cy = 80;
    t_pPending = pWnd.get();
    t_hHook = ::SetWindowsHookExW(WH_CBT, &CbtHook, nullptr, ::GetCurrentThreadId());
    HWND hWnd = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), &tmpl.dlg, nullptr, &DialogProc, 0);
    ::UnhookWindowsHookEx(t_hHook);
    t_hHook = nullptr;
    t_pPending = nullptr;
    if (!hWnd)
        return nullptr;
    pWnd->hWnd = hWnd;
    return pWnd;
}

void PumpFor(DWORD dwMs)
{
    PumpUntil([] { return false; }, dwMs);
}

bool PumpUntil(const std::function<bool()>& pred, DWORD dwTimeoutMs)
{
    DWORD dwStart = ::GetTickCount();
    for (;;) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (pred())
            return true;
        if (::GetTickCount() - dwStart >= dwTimeoutMs)
            return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

void ShowInFront(HWND hWnd)
{
    ::ShowWindow(hWnd, SW_SHOWNORMAL);
    // The checks read the screen: a window another test left behind must not
    // cover this one or take its mouse.
    ::SetWindowPos(hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::SetForegroundWindow(hWnd);
    ::UpdateWindow(hWnd);
    PumpFor(300);
}

std::vector<DWORD> ScreenPixels(HWND hWnd, int* pcx, int* pcy)
{
    RECT rc;
    ::GetWindowRect(hWnd, &rc);
    const int cx = rc.right - rc.left;
    const int cy = rc.bottom - rc.top;
    if (pcx)
        *pcx = cx;
    if (pcy)
        *pcy = cy;
    CWindowDC screen(nullptr);
    CMemoryDC mem(::CreateCompatibleDC(screen.Get()));
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
    bmi.bmiHeader.biWidth = cx;
    bmi.bmiHeader.biHeight = -cy;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* pBits = nullptr;
    CBitmapHandle bitmap(::CreateDIBSection(screen.Get(), &bmi, DIB_RGB_COLORS, &pBits, nullptr, 0));
    CSelectObject selected(mem.Get(), bitmap.Get());
    ::BitBlt(mem.Get(), 0, 0, cx, cy, screen.Get(), rc.left, rc.top, SRCCOPY);
    ::GdiFlush();
    const DWORD* pPixels = static_cast<const DWORD*>(pBits);
    std::vector<DWORD> vec(pPixels, pPixels + cx * cy);
    for (DWORD& dw : vec)
        dw &= 0x00FFFFFF;
    return vec;
}

RECT CtrlRect(DUI_CTRLBASE* pCtrl)
{
    RECT rc = {};
    IDUIRect* pRect = GetCtrlRect(pCtrl);
    if (pRect) {
        LONG lWidth = 0, lHeight = 0;
        pRect->get_Left(&rc.left);
        pRect->get_Top(&rc.top);
        pRect->get_Width(&lWidth);
        pRect->get_Height(&lHeight);
        rc.right = rc.left + lWidth;
        rc.bottom = rc.top + lHeight;
    }
    return rc;
}

POINT CtrlCenterOnScreen(HWND hWnd, DUI_CTRLBASE* pCtrl)
{
    RECT rc = CtrlRect(pCtrl);
    POINT pt = {(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
    ::ClientToScreen(hWnd, &pt);
    return pt;
}

void MoveCtrlBy(DUI_CTRLBASE* pCtrl, LONG dx)
{
    IDUIRect* pRect = GetCtrlRect(pCtrl);
    if (!pRect)
        return;
    LONG lLeft = 0, lRight = 0;
    pRect->get_Left(&lLeft);
    pRect->get_Right(&lRight);
    pRect->put_Left(lLeft + dx);
    pRect->put_Right(lRight + dx);
    SetCtrlRect(pCtrl, pRect);
}

void ClickAt(POINT pt)
{
    ::SetCursorPos(pt.x, pt.y);
    SendMouse({MouseInput(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, pt), MouseInput(MOUSEEVENTF_LEFTDOWN, pt),
               MouseInput(MOUSEEVENTF_LEFTUP, pt)});
}

void DragFromTo(POINT ptFrom, POINT ptTo)
{
    ::SetCursorPos(ptFrom.x, ptFrom.y);
    POINT ptMid = {(ptFrom.x + ptTo.x) / 2, (ptFrom.y + ptTo.y) / 2};
    SendMouse({MouseInput(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, ptFrom), MouseInput(MOUSEEVENTF_LEFTDOWN, ptFrom),
               MouseInput(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, ptMid),
               MouseInput(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, ptTo), MouseInput(MOUSEEVENTF_LEFTUP, ptTo)});
}

std::wstring ExeFolder()
{
    wchar_t szPath[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    std::wstring strPath = szPath;
    return strPath.substr(0, strPath.find_last_of(L'\\') + 1);
}

std::wstring MakeTempFolder(const wchar_t* pszTag)
{
    wchar_t szTemp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, szTemp);
    std::wstring strDir =
        std::wstring(szTemp) + L"skintest_" + pszTag + L"_" + std::to_wstring(::GetCurrentProcessId());
    // Only this process's own folder from an earlier call is removed.
    std::wstring strFrom = strDir + L'\0';
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = strFrom.c_str();
    op.fFlags = FOF_NO_UI;
    ::SHFileOperationW(&op);
    ::CreateDirectoryW(strDir.c_str(), nullptr);
    return strDir + L"\\";
}

void CopySkinFolder(const std::wstring& strTo)
{
    std::wstring strSrc = ExeFolder() + L"UISkin\\";
    ::CreateDirectoryW(strTo.c_str(), nullptr);
    ::CreateDirectoryW((strTo + L"images").c_str(), nullptr);
    for (const wchar_t* pszFile : {L"DazuvuVev.dui", L"Default.skn", L"images\\tip_warn.png", L"images\\tip_err.png",
                                   L"images\\tip_ask.png", L"images\\tip_success.png", L"images\\tip_update.png"})
        ::CopyFileW((strSrc + pszFile).c_str(), (strTo + pszFile).c_str(), FALSE);
}

std::string ReadFileBytes(const std::wstring& strPath)
{
    std::string strBytes;
    CKernelHandle file(
        ::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file)
        return strBytes;
    DWORD dwSize = ::GetFileSize(file.Get(), nullptr);
    strBytes.resize(dwSize);
    DWORD dwRead = 0;
    if (dwSize)
        ::ReadFile(file.Get(), &strBytes[0], dwSize, &dwRead, nullptr);
    strBytes.resize(dwRead);
    return strBytes;
}

void WriteFileBytes(const std::wstring& strPath, const std::string& strBytes)
{
    CKernelHandle file(::CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file)
        return;
    DWORD dwWritten = 0;
    ::WriteFile(file.Get(), strBytes.data(), static_cast<DWORD>(strBytes.size()), &dwWritten, nullptr);
}

std::string Narrow(const std::wstring& str)
{
    int n = ::WideCharToMultiByte(CP_UTF8, 0, str.c_str(), static_cast<int>(str.size()), nullptr, 0, nullptr, nullptr);
    std::string strOut(static_cast<size_t>(n), '\0');
    if (n)
        ::WideCharToMultiByte(CP_UTF8, 0, str.c_str(), static_cast<int>(str.size()), &strOut[0], n, nullptr, nullptr);
    return strOut;
}
