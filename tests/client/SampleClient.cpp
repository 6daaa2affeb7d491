// A client of the upgrade companion written against the client header alone,
// as the client's developers would: it sends one order, prints the notices
// the companion posts to its window, and waits until the companion has ended.
//
//   SampleClient.exe [--start COMPANION_EXE [--install-when-ready]] URL VERSION SIZE MD5 [WAIT_MS]
//
// With --start it starts the companion itself and sends the order to the
// window of the process it started (the way to order); without, it sends the
// order to the first companion window it finds. --install-when-ready holds
// the installation before the order and sends the install command as soon
// as the companion says the setup is ready.
//
// It prints "progress N", "ready" and "outcome N WORD" as the notices arrive.
// Exit code 0 when the companion took the order and ended, 1 when its window
// did not appear within WAIT_MS (default 30000), 2 on bad arguments, 3 when
// it could not be started, did not answer or did not end in time.
#include "include/DazuvuVevUpgradeClient.h"

#include <stdio.h>
#include <wchar.h>

#include <string>

namespace {

HWND g_hCompanion = NULL;  // the companion's window, for the install command
bool g_bInstallWhenReady = false;

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

// Waits for hProcess (or, without it, for the class's window to go) while
// the notices are dispatched; false after dwWaitMs.
bool WaitForCompanionEnd(HANDLE hProcess, DWORD dwWaitMs)
{
    const DWORD dwStart = GetTickCount();
    while (GetTickCount() - dwStart < dwWaitMs) {
        DispatchWaiting();
        if (hProcess != NULL ? WaitForSingleObject(hProcess, 0) == WAIT_OBJECT_0
                             : FindWindowW(UPGRADE_WINDOW_CLASS, NULL) == NULL) {
            // The outcome was posted before the end: it is in the queue now.
            DispatchWaiting();
            return true;
        }
        MsgWaitForMultipleObjects(hProcess != NULL ? 1 : 0, &hProcess, FALSE, 100, QS_ALLINPUT);
    }
    return false;
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
    if (argc > 2 && wcscmp(argv[1], L"--start") == 0) {
        strCompanion = argv[2];
        argc -= 2;
        argv += 2;
        g_bInstallWhenReady = argc > 1 && wcscmp(argv[1], L"--install-when-ready") == 0;
        argc -= g_bInstallWhenReady ? 1 : 0;
        argv += g_bInstallWhenReady ? 1 : 0;
    }
    if (argc != 5 && argc != 6) {
        fwprintf(stderr,
                 L"usage: SampleClient [--start COMPANION_EXE [--install-when-ready]] URL VERSION SIZE MD5 "
                 L"[WAIT_MS]\n");
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
        if (!SendUpgradeOrderToProcessEx(pi.dwProcessId, &order, UPGRADE_MODE_AUTO, hNotices, dwWaitMs,
                                         UPGRADE_SEND_TIMEOUT_MS, &dwResult)) {
            const int nExit = ReportSendFailure(GetLastError());
            CloseHandle(hProcess);
            return nExit;
        }
        g_hCompanion = FindUpgradeWindowOfProcess(pi.dwProcessId);
    } else {
        if (!SendUpgradeOrderEx(&order, UPGRADE_MODE_AUTO, hNotices, dwWaitMs, UPGRADE_SEND_TIMEOUT_MS, &dwResult))
            return ReportSendFailure(GetLastError());
        g_hCompanion = FindWindowW(UPGRADE_WINDOW_CLASS, NULL);
    }
    wprintf(L"order taken: result=%lu\n", static_cast<unsigned long>(dwResult));
    fflush(stdout);

    // The state file then tells what it reached (see docs/client-protocol.md).
    const bool bEnded = WaitForCompanionEnd(hProcess, 120000);
    if (hProcess != NULL)
        CloseHandle(hProcess);
    if (!bEnded) {
        fwprintf(stderr, L"the companion still runs after 120 s\n");
        return 3;
    }
    wprintf(L"companion ended\n");
    return 0;
}
