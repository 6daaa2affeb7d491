// A client of the upgrade companion written against the client header alone,
// as the client's developers would: it sends one order, prints the notices
// the companion posts to its window, and waits until the companion has ended.
//
//   SampleClient.exe [OPTIONS] URL VERSION SIZE MD5 [WAIT_MS]
//
//   --start COMPANION_EXE  start the companion and send the order to the
//                          window of that process (the way to order);
//                          without, the order goes to the first companion
//                          window found
//   --install-when-ready   hold the installation before the order, order in
//                          mode 1, and send the install command as soon as
//                          the companion says the setup is ready: the recipe
//                          for a setup that is fresh or already downloaded
//   --running-flag         own the client's running flag while it runs, as
//                          the client does (run it as Dazuvuvev.exe to be
//                          the client the companion closes)
//   --ignore-close         do not close when the companion asks; it then
//                          ends this process itself
//   --again-at PERCENT     once the download is that far, destroy the notice
//                          window, make a new one and send the same order
//                          again naming it, as a client that re-creates its
//                          window does
//
// It prints "progress N", "ready", "refused N", "close requested N" and
// "outcome N WORD" as the notices arrive. Asked to close, it closes its
// window, prints "closed on request" and exits at once with code 0. Exit
// code 0 when the companion took the order and ended, 1 when its window did
// not appear within WAIT_MS (default 30000), 2 on bad arguments, 3 when it
// could not be started, did not answer or did not end in time.
#include "include/DazuvuVevUpgradeClient.h"

#include <stdio.h>
#include <wchar.h>

#include <string>

namespace {

HWND g_hCompanion = NULL;  // the companion's window, for the install command
bool g_bInstallWhenReady = false;
bool g_bIgnoreClose = false;
bool g_bCloseAsked = false;
int g_nAgainAt = -1;  // --again-at; -1 once done or never
bool g_bAgainDue = false;

bool CopyField(wchar_t (&field)[UPGRADE_TEXT_CCH], const wchar_t* pszValue)
{
    return wcsncpy_s(field, pszValue, _TRUNCATE) == 0;  // STRUNCATE: too long for the record
}

// Starts the companion from its own folder, where its libraries and skin
// lie, as the client does; false when it cannot be started.
bool StartCompanion(const std::wstring& strExe, PROCESS_INFORMATION& pi)
{
    const size_t nSlash = strExe.find_last_of(L"\\/");
    const std::wstring strFolder = nSlash == std::wstring::npos ? std::wstring() : strExe.substr(0, nSlash);
    std::wstring strCommandLine = L"\"" + strExe + L"\" " UPGRADE_COMMAND_WORD L":user:pass";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    return CreateProcessW(strExe.c_str(), &strCommandLine[0], NULL, NULL, FALSE, 0, NULL,
                          strFolder.empty() ? NULL : strFolder.c_str(), &si, &pi) != FALSE;
}

int ReportSendFailure(DWORD dwError)
{
    if (dwError == ERROR_NOT_FOUND) {
        fwprintf(stderr, L"the companion's window was not found\n");
        return 1;
    }
    fwprintf(stderr, L"the companion did not answer (error %lu)\n", dwError);
    return 3;
}

LRESULT CALLBACK NoticeProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    UPGRADE_NOTICE notice;
    switch (DecodeUpgradeNotice(uMsg, wParam, lParam, &notice)) {
    case UPGRADE_NOTICE_PROGRESS:
        wprintf(L"progress %d\n", notice.nPercent);
        if (g_nAgainAt >= 0 && notice.nPercent >= g_nAgainAt && notice.nPercent < 100)
            g_bAgainDue = true;
        break;
    case UPGRADE_NOTICE_READY:
        wprintf(L"ready\n");
        // Posted: the install command starts the setup and ends the companion.
        if (g_bInstallWhenReady && g_hCompanion != NULL)
            PostMessageW(g_hCompanion, WM_MSG_UPGRADE_CMD, UPGRADE_CMD_INSTALL, UPGRADE_COMM_TAG);
        break;
    case UPGRADE_NOTICE_OUTCOME:
        wprintf(L"outcome %d %ls\n", notice.nOutcome, UpgradeOutcomeWord(notice.nOutcome));
        break;
    case UPGRADE_NOTICE_REFUSED:
        wprintf(L"refused %d\n", notice.nRefusal);
        break;
    case UPGRADE_NOTICE_CLOSE:
        // The setup waits for this process to end: the window goes now and
        // the wait loop ends the process (a real client would save its work
        // first, within notice.dwCloseWaitMs).
        wprintf(L"close requested %lu\n", notice.dwCloseWaitMs);
        if (!g_bIgnoreClose) {
            g_bCloseAsked = true;
            DestroyWindow(hWnd);
        }
        break;
    default:
        return DefWindowProcW(hWnd, uMsg, wParam, lParam);
    }
    fflush(stdout);
    return 0;
}

// A message-only window: it receives posted notices and is never shown.
HWND CreateNoticeWindow()
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = NoticeProc;
    wc.hInstance = GetModuleHandleW(NULL);
    wc.lpszClassName = L"SampleClientNotices";
    RegisterClassW(&wc);
    return CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, wc.hInstance, NULL);
}

void DispatchWaiting()
{
    MSG msg;
    while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
}

// Sends the same order again from a new window, as a client that re-creates
// its window does; the new window is returned.
HWND OrderAgainFromNewWindow(HWND hOld, const UPGRADE_COMM& order, UpgradeMode nMode)
{
    DestroyWindow(hOld);
    const HWND hNew = CreateNoticeWindow();
    DWORD_PTR dwResult = 0;
    if (SendUpgradeOrderToWindowEx(g_hCompanion, &order, nMode, hNew, 10000, &dwResult))
        wprintf(L"order again: result=%lu\n", static_cast<unsigned long>(dwResult));
    else
        wprintf(L"order again: not delivered (error %lu)\n", GetLastError());
    fflush(stdout);
    return hNew;
}

enum WaitEnd { WAIT_ENDED, WAIT_TIMED_OUT, WAIT_CLOSE_ASKED };

// Waits for hProcess (or, without it, for the class's window to go) while
// the notices are dispatched.
WaitEnd WaitForCompanionEnd(HANDLE hProcess, DWORD dwWaitMs, HWND hNotices, const UPGRADE_COMM& order,
                            UpgradeMode nMode)
{
    const DWORD dwStart = GetTickCount();
    while (GetTickCount() - dwStart < dwWaitMs) {
        DispatchWaiting();
        if (g_bCloseAsked)
            return WAIT_CLOSE_ASKED;
        if (g_bAgainDue) {
            g_bAgainDue = false;
            g_nAgainAt = -1;
            hNotices = OrderAgainFromNewWindow(hNotices, order, nMode);
        }
        if (hProcess != NULL ? WaitForSingleObject(hProcess, 0) == WAIT_OBJECT_0
                             : FindWindowW(UPGRADE_WINDOW_CLASS, NULL) == NULL) {
            // The outcome was posted before the end: it is in the queue now.
            DispatchWaiting();
            return g_bCloseAsked ? WAIT_CLOSE_ASKED : WAIT_ENDED;
        }
        MsgWaitForMultipleObjects(hProcess != NULL ? 1 : 0, &hProcess, FALSE, 100, QS_ALLINPUT);
    }
    return WAIT_TIMED_OUT;
}

// Before the order: a hold that arrives first cannot miss the end of a
// quick download, which would otherwise end the companion unheld.
void HoldFirstIfAsked(DWORD dwProcessId, DWORD dwWaitMs)
{
    const DWORD dwStart = GetTickCount();
    while (g_bInstallWhenReady && (g_hCompanion = FindUpgradeWindowOfProcess(dwProcessId)) == NULL &&
           GetTickCount() - dwStart < dwWaitMs)
        Sleep(50);
    if (g_hCompanion != NULL)
        SendMessageTimeoutW(g_hCompanion, WM_MSG_UPGRADE_CMD, UPGRADE_CMD_HOLD, UPGRADE_COMM_TAG,
                            SMTO_NORMAL | SMTO_ABORTIFHUNG, 10000, NULL);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring strCompanion;
    bool bRunningFlag = false;
    for (; argc > 1 && wcsncmp(argv[1], L"--", 2) == 0; --argc, ++argv) {
        if (wcscmp(argv[1], L"--start") == 0 && argc > 2) {
            strCompanion = argv[2];
            --argc;
            ++argv;
        } else if (wcscmp(argv[1], L"--again-at") == 0 && argc > 2) {
            g_nAgainAt = _wtoi(argv[2]);
            --argc;
            ++argv;
        } else if (wcscmp(argv[1], L"--install-when-ready") == 0) {
            g_bInstallWhenReady = true;
        } else if (wcscmp(argv[1], L"--running-flag") == 0) {
            bRunningFlag = true;
        } else if (wcscmp(argv[1], L"--ignore-close") == 0) {
            g_bIgnoreClose = true;
        } else {
            break;
        }
    }
    if (argc != 5 && argc != 6) {
        fwprintf(stderr,
                 L"usage: SampleClient [--start COMPANION_EXE] [--install-when-ready] [--running-flag] "
                 L"[--ignore-close] [--again-at PERCENT] URL VERSION SIZE MD5 [WAIT_MS]\n");
        return 2;
    }
    UPGRADE_COMM order = {};
    const wchar_t* pszName = wcsrchr(argv[1], L'/');
    if (!CopyField(order.szURL, argv[1]) || !CopyField(order.szVersion, argv[2]) || !CopyField(order.szSize, argv[3]) ||
        !CopyField(order.szMD5, argv[4]) || !CopyField(order.szFileName, pszName != NULL ? pszName + 1 : argv[1])) {
        fwprintf(stderr, L"a value is longer than %d characters\n", UPGRADE_TEXT_CCH - 1);
        return 2;
    }
    const DWORD dwWaitMs = argc == 6 ? wcstoul(argv[5], NULL, 10) : 30000;
    // Mode 1 waits for the commands when the setup is already there; mode 0
    // would ask the user instead, and a held companion asks nobody.
    const UpgradeMode nMode = g_bInstallWhenReady ? UPGRADE_MODE_COMMANDS : UPGRADE_MODE_AUTO;
    // Released when the process ends, however it ends.
    const HANDLE hRunningFlag = bRunningFlag ? CreateMutexW(NULL, TRUE, UPGRADE_CLIENT_RUNNING_FLAG) : NULL;
    (void)hRunningFlag;
    const HWND hNotices = CreateNoticeWindow();

    DWORD_PTR dwResult = 0;
    HANDLE hProcess = NULL;
    if (!strCompanion.empty()) {
        PROCESS_INFORMATION pi = {};
        if (!StartCompanion(strCompanion, pi)) {
            fwprintf(stderr, L"the companion could not be started (error %lu)\n", GetLastError());
            return 3;
        }
        CloseHandle(pi.hThread);
        hProcess = pi.hProcess;
        wprintf(L"companion started: pid %lu\n", pi.dwProcessId);
        fflush(stdout);
        HoldFirstIfAsked(pi.dwProcessId, dwWaitMs);
        // Only the window of the process just started may take the order:
        // an older companion's window can still be there for a moment.
        if (!SendUpgradeOrderToProcessEx(pi.dwProcessId, &order, nMode, hNotices, dwWaitMs, UPGRADE_SEND_TIMEOUT_MS,
                                         &dwResult)) {
            const int nExit = ReportSendFailure(GetLastError());
            CloseHandle(hProcess);
            return nExit;
        }
        g_hCompanion = FindUpgradeWindowOfProcess(pi.dwProcessId);
    } else {
        if (!SendUpgradeOrderEx(&order, nMode, hNotices, dwWaitMs, UPGRADE_SEND_TIMEOUT_MS, &dwResult))
            return ReportSendFailure(GetLastError());
        g_hCompanion = FindWindowW(UPGRADE_WINDOW_CLASS, NULL);
    }
    wprintf(L"order taken: result=%lu\n", static_cast<unsigned long>(dwResult));
    fflush(stdout);

    // The state file then tells what it reached (see docs/client-protocol.md).
    const WaitEnd end = WaitForCompanionEnd(hProcess, 120000, hNotices, order, nMode);
    if (hProcess != NULL)
        CloseHandle(hProcess);
    if (end == WAIT_CLOSE_ASKED) {
        wprintf(L"closed on request\n");
        return 0;
    }
    if (end == WAIT_TIMED_OUT) {
        fwprintf(stderr, L"the companion still runs after 120 s\n");
        return 3;
    }
    wprintf(L"companion ended\n");
    return 0;
}
