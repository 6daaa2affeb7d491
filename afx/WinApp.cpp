// CWinApp and the framework's process-wide helpers.
#include "afx/afxwin.h"

#include <commctrl.h>
#include <shlwapi.h>

namespace {
CWinApp* g_pApp = nullptr;
}

CWinApp::CWinApp(LPCWSTR pszAppName)
{
    g_pApp = this;
    m_pszAppName = pszAppName;
}

void AfxRunMessageLoop(PFN_AFX_DROP_MESSAGE pfnDrop)
{
    MSG msg;
    BOOL bRet;
    while ((bRet = ::GetMessageW(&msg, nullptr, 0, 0)) != 0) {
        if (bRet == -1 || (pfnDrop && pfnDrop(msg)))
            continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

int CWinApp::Run()
{
    // No main window: the loop only empties the queue up to this quit.
    ::PostQuitMessage(0);
    AfxRunMessageLoop();
    return ExitInstance();
}

CWinApp* AfxGetApp()
{
    return g_pApp;
}

HINSTANCE AfxGetInstanceHandle()
{
    if (g_pApp && g_pApp->m_hInstance)
        return g_pApp->m_hInstance;
    return ::GetModuleHandleW(nullptr);
}

BOOL AfxRegisterClass(WNDCLASSW* lpWndClass)
{
    WNDCLASSW wndcls;
    if (::GetClassInfoW(lpWndClass->hInstance, lpWndClass->lpszClassName, &wndcls))
        return TRUE;
    return ::RegisterClassW(lpWndClass) != 0;
}

static LPCWSTR AppTitle()
{
    static wchar_t szTitle[MAX_PATH];
    if (g_pApp && g_pApp->m_pszAppName)
        return g_pApp->m_pszAppName;
    if (!szTitle[0]) {
        wchar_t szPath[MAX_PATH] = {};
        ::GetModuleFileNameW(nullptr, szPath, MAX_PATH);
        ::lstrcpynW(szTitle, ::PathFindFileNameW(szPath), MAX_PATH);
        ::PathRemoveExtensionW(szTitle);
    }
    return szTitle;
}

int AfxMessageBox(LPCWSTR lpszText, UINT nType, UINT /*nIDHelp*/)
{
    return ::MessageBoxW(nullptr, lpszText, AppTitle(), nType);
}

void AfxEnableControlContainer()
{
    // The program hosts no ActiveX controls; the call is kept for its place
    // in the start-up order.
}

int AfxWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR, int)
{
    CWinApp* pApp = AfxGetApp();
    if (!pApp)
        return -1;
    pApp->m_hInstance = hInstance;
    if (!pApp->m_pszAppName)
        pApp->m_pszAppName = AppTitle();

    if (!pApp->InitInstance())
        return pApp->ExitInstance();
    return pApp->Run();
}
