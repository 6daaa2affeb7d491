// The application object: claims the newest-instance slot, checks the command
// line, starts log and skin, creates the upgrade window, runs the loop and
// tears everything down in a fixed order.
#include "app/DazuvuVevUpgrade.h"

#include "app/NewerInstance.h"
#include "app/StartBanner.h"
#include "ProductVersion.h"
#include "log/Log.h"
#include "netlib/NubraSdk.h"
#include "res/resource.h"
#include "ui/SkinLayer.h"
#include "upgrade/StateFile.h"
#include "upgrade/UpgradeDlgDUI.h"

#include <commctrl.h>

#include <atomic>
#include <cwchar>

// Every process started from this executable sees the same slot; it holds
// the id of the instance that started last.
__attribute__((section("MyData"), shared)) volatile DWORD g_dwNewestInstancePid = 0;

CDazuvuVevUpgradeApp theApp;

namespace {

const wchar_t kUpgradeClassName[] = UPGRADE_WINDOW_CLASS;
const wchar_t kDialogClassName[] = L"#32770";
const wchar_t kLayoutFile[] = L"UISkin\\DazuvuVev.dui";
const wchar_t kSkinFile[] = L"UISkin\\Default.skn";
const wchar_t kLogInitFailed[] = L"Initialize log failed";
const wchar_t kSkinInitFailed[] = L"Initialize Skin failed!";

// Set once, by the main thread, before the watch may use it: whether the
// log has its place yet (before, a record would land beside the executable).
std::atomic<bool> g_bLogReady(false);

// The watch re-examines an id it ignored now and then: its process may have
// ended and the id been reused by a newer instance that wrote the same number.
const ULONGLONG kIgnoredSlotRecheckMs = 500;
// Ignored ids are logged once each, and only so many: whoever writes the
// slot must not fill the log.
const int kIgnoredSlotRecords = 10;

// The last words of a run that a newer instance ends: no orderly end
// follows, so the log and the state file say it here, unless the run has
// recorded its own end already.
void RecordSuperseded(DWORD dwNewerPid)
{
    if (!ClaimRunEnd())
        return;
    if (g_bLogReady)
        LOG_INFO(L"InstanceWatchThread", L"upgrade ends: %s: ended by a newer instance (process %lu)",
                 UpgradeResultWord(UpgradeResult::Superseded), dwNewerPid);
    if (const wchar_t* pszStateFile = RunStateFile())
        WriteUpgradeResult(pszStateFile, UpgradeResult::Superseded);
    CClientNotices::NotifyOutcome(UpgradeResult::Superseded);
}

void LogStateFileRefused(LPCWSTR pszIniPath, LPCWSTR pszWhy)
{
    LOG_WARN(L"ClaimStateFile", L"state file( %s ) refused, %s: replaced by a new, empty one", pszIniPath, pszWhy);
}

// A newer instance of this session ends this one at once: the client only
// ever talks to the companion it started last.
DWORD WINAPI InstanceWatchThread(LPVOID)
{
    try {
        const DWORD dwOwnPid = ::GetCurrentProcessId();
        INSTANCE_FACTS own = {};
        // A fact that cannot be told is left out of every comparison (see
        // app/NewerInstance.h); the log says which, once it has its place.
        OwnInstanceFacts(&own);
        bool bOwnFactsLogged = own.dwKnown == kAllInstanceFacts;
        DWORD dwIgnoredPid = dwOwnPid;
        ULONGLONG ullIgnoredAt = 0;
        DWORD dwLoggedPid = dwOwnPid;
        int nLogged = 0;
        for (;;) {
            if (!bOwnFactsLogged && g_bLogReady) {
                LOG_WARN(L"InstanceWatchThread",
                         L"this process's own %s cannot be told: a newer start is told by the rest",
                         UnknownInstanceFactsText(own.dwKnown).c_str());
                bOwnFactsLogged = true;
            }
            const DWORD dwNewest = g_dwNewestInstancePid;
            const ULONGLONG ullNow = ::GetTickCount64();
            if (dwNewest != dwIgnoredPid || ullNow - ullIgnoredAt >= kIgnoredSlotRecheckMs) {
                LPCWSTR pszWhyNot = nullptr;
                if (IsNewerInstance(dwNewest, dwOwnPid, own, &InstanceFactsOf, &pszWhyNot)) {
                    RecordSuperseded(dwNewest);
                    ::TerminateProcess(::GetCurrentProcess(), 0);
                }
                dwIgnoredPid = dwNewest;
                ullIgnoredAt = ullNow;
                if (dwNewest != dwOwnPid && dwNewest != dwLoggedPid && g_bLogReady && nLogged < kIgnoredSlotRecords) {
                    LOG_WARN(L"InstanceWatchThread", L"instance slot names process %lu, ignored: %s", dwNewest,
                             pszWhyNot);
                    dwLoggedPid = dwNewest;
                    ++nLogged;
                }
            }
            ::Sleep(10);  // a newer instance takes over within about 10 ms
        }
    } catch (...) {
        // The watch only ever ends this process; without it the run goes on.
    }
    return 0;
}

// The upgrade window has no default button: whatever control a skin gives
// the focus, a stray Enter must not press it and so take the window away,
// which would keep the verified setup from starting. Esc and the close
// cross still hide it.
bool IsEnterForUpgradeWindow(const MSG& msg)
{
    if ((msg.message != WM_KEYDOWN && msg.message != WM_KEYUP && msg.message != WM_CHAR) || msg.wParam != VK_RETURN)
        return false;
    const HWND hUpgrade = theApp.m_pUpgradeDlg ? theApp.m_pUpgradeDlg->m_hWnd : nullptr;
    if (!hUpgrade || (msg.hwnd != hUpgrade && !::IsChild(hUpgrade, msg.hwnd)))
        return false;
    if (msg.message == WM_KEYDOWN)
        LOG_INFO(L"CDazuvuVevUpgradeApp::InitInstance", L"Enter ignored: the window has no default button");
    return true;
}

// From the end of the loop on, a fault only ends the process, quietly.
LONG WINAPI QuietExceptionFilter(EXCEPTION_POINTERS*)
{
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

CDazuvuVevUpgradeApp::CDazuvuVevUpgradeApp() : CWinApp(nullptr) {}

BOOL CDazuvuVevUpgradeApp::InitInstance()
{
    g_dwNewestInstancePid = ::GetCurrentProcessId();
    CKernelHandle watch(::CreateThread(nullptr, 0, &InstanceWatchThread, nullptr, 0, nullptr));
    watch.Reset();  // the watch needs no control: its handle is closed at once
    // Gives the watch of an older instance time to see this one and end it.
    ::Sleep(50);

    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);

    CWinApp::InitInstance();
    AfxEnableControlContainer();

    if (!ParseUpgradeCommandLine(::GetCommandLineW(), m_strProxyUser, m_strProxyPassword)) {
        m_strProxyUser.clear();
        m_strProxyPassword.clear();
        return TRUE;
    }

    if (!InitLog()) {
        AfxMessageBox(kLogInitFailed, MB_ICONERROR);
        return FALSE;
    }
    g_bLogReady = true;
    SetStateFileRefusalSink(&LogStateFileRefused);
    LOG_INFO(L"CDazuvuVevUpgradeApp::InitInstance", L"%s",
             StartBannerText(PRODUCT_VERSION_TEXT, MaskedCommandLine(::GetCommandLineW()), WindowsVersionText(),
                             ::GetACP())
                 .c_str());

    m_pDUIRes = OpenSkinW(kLayoutFile, kSkinFile, 0, 0, 0);
    if (!m_pDUIRes) {
        // The box says only that it failed; support needs the file and line,
        // which only our own skin library can give.
        const std::wstring strReason = SkinLastError();
        LOG_ERROR(L"CDazuvuVevUpgradeApp::InitInstance", L"OpenSkinW failed: %s",
                  strReason.empty() ? L"the skin library gives no reason" : strReason.c_str());
        AfxMessageBox(kSkinInitFailed, MB_ICONERROR);
        return FALSE;
    }

    // The client finds the upgrade window by this class name; it behaves
    // exactly like the system's dialog class.
    WNDCLASSW wndcls = {};
    // The system's dialog class always exists; its information is copied as it is.
    ::GetClassInfoW(m_hInstance, kDialogClassName, &wndcls);
    wndcls.hInstance = m_hInstance;
    wndcls.lpszClassName = kUpgradeClassName;
    AfxRegisterClass(&wndcls);

    m_dwMainThreadId = ::GetCurrentThreadId();
    m_pUpgradeDlg = new CUpgradeDlgDUI;
    // Not checked, by design: without its window the loop runs on until a
    // newer instance ends this one; OnCreate's records say why.
    m_pUpgradeDlg->Create(IDD_UPGRADE_DIALOG, nullptr);

    AfxRunMessageLoop(&IsEnterForUpgradeWindow);
    ShutDown();
    // FALSE: the loop has already run here, so the framework goes straight to ExitInstance.
    return FALSE;
}

void CDazuvuVevUpgradeApp::ShutDown()
{
    // Support reads this record as the orderly end of the loop; its place is fixed.
    CLog::GetInstance()->Log(LOGLEVEL_INFO, L".\\DazuvuVevUpgrade", 167, L"CDazuvuVevUpgradeApp::InitInstance",
                             L"GetMessage QUIT!");
    ::SetUnhandledExceptionFilter(&QuietExceptionFilter);
    m_dwMainThreadId = 0;

    if (m_pUpgradeDlg && ::IsWindow(m_pUpgradeDlg->m_hWnd)) {
        InternetTrackDeAttach();
        InternetTrackShutDownNetTrack();
        if (m_netThread.IsValid()) {
            // The watch may be blocked in its wait; it holds nothing that
            // needs an orderly end.
            ::TerminateThread(m_netThread.Get(), 0);
            m_netThread.Reset();
        }
        m_pUpgradeDlg->DestroyWindow();
        delete m_pUpgradeDlg;
        m_pUpgradeDlg = nullptr;
    }
}

int CDazuvuVevUpgradeApp::ExitInstance()
{
    FreeSkin();
    return 0;
}
