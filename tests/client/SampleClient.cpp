// A client of the upgrade companion written against the client header alone,
// as the client's developers would: it sends one order and waits until the
// companion has ended.
//
//   SampleClient.exe [--start COMPANION_EXE] URL VERSION SIZE MD5 [WAIT_MS]
//
// With --start it starts the companion itself and sends the order to the
// window of the process it started (the way to order); without, it sends the
// order to the first companion window it finds.
//
// Exit code 0 when the companion took the order and ended, 1 when its window
// did not appear within WAIT_MS (default 30000), 2 on bad arguments, 3 when
// it could not be started, did not answer or did not end in time.
#include "include/DazuvuVevUpgradeClient.h"

#include <stdio.h>
#include <wchar.h>

#include <string>

namespace {

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

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring strCompanion;
    if (argc > 2 && wcscmp(argv[1], L"--start") == 0) {
        strCompanion = argv[2];
        argc -= 2;
        argv += 2;
    }
    if (argc != 5 && argc != 6) {
        fwprintf(stderr, L"usage: SampleClient [--start COMPANION_EXE] URL VERSION SIZE MD5 [WAIT_MS]\n");
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

    DWORD_PTR dwResult = 0;
    if (!strCompanion.empty()) {
        PROCESS_INFORMATION pi = {};
        if (!StartCompanion(strCompanion, pi)) {
            fwprintf(stderr, L"the companion could not be started (error %lu)\n", GetLastError());
            return 3;
        }
        CloseHandle(pi.hThread);
        wprintf(L"companion started: pid %lu\n", pi.dwProcessId);
        fflush(stdout);
        // Only the window of the process just started may take the order:
        // an older companion's window can still be there for a moment.
        if (!SendUpgradeOrderToProcess(pi.dwProcessId, &order, UPGRADE_MODE_AUTO, dwWaitMs, UPGRADE_SEND_TIMEOUT_MS,
                                       &dwResult)) {
            const int nExit = ReportSendFailure(GetLastError());
            CloseHandle(pi.hProcess);
            return nExit;
        }
        wprintf(L"order taken: result=%lu\n", static_cast<unsigned long>(dwResult));
        fflush(stdout);
        const DWORD dwWait = WaitForSingleObject(pi.hProcess, 120000);
        CloseHandle(pi.hProcess);
        if (dwWait != WAIT_OBJECT_0) {
            fwprintf(stderr, L"the companion still runs after 120 s\n");
            return 3;
        }
        wprintf(L"companion ended\n");
        return 0;
    }

    if (!SendUpgradeOrder(&order, UPGRADE_MODE_AUTO, dwWaitMs, UPGRADE_SEND_TIMEOUT_MS, &dwResult))
        return ReportSendFailure(GetLastError());
    wprintf(L"order taken: result=%lu\n", static_cast<unsigned long>(dwResult));
    fflush(stdout);

    // The companion's window goes when it has ended; the state file then
    // tells what it reached (see docs/client-protocol.md).
    for (int i = 0; i < 1200; ++i) {
        if (FindWindowW(UPGRADE_WINDOW_CLASS, NULL) == NULL) {
            wprintf(L"companion ended\n");
            return 0;
        }
        Sleep(100);
    }
    fwprintf(stderr, L"the companion still runs after 120 s\n");
    return 3;
}
