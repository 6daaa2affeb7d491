// A client of the upgrade companion written against the client header alone,
// as the client's developers would: it sends one order and waits until the
// companion has ended.
//
//   SampleClient.exe URL VERSION SIZE MD5 [WAIT_MS]
//
// Exit code 0 when the companion took the order and ended, 1 when its window
// did not appear within WAIT_MS (default 30000), 2 on bad arguments, 3 when
// it did not answer or did not end in time.
#include "include/DazuvuVevUpgradeClient.h"

#include <stdio.h>
#include <wchar.h>

namespace {

bool CopyField(wchar_t (&field)[UPGRADE_TEXT_CCH], const wchar_t* pszValue)
{
    return wcsncpy_s(field, pszValue, _TRUNCATE) == 0;  // STRUNCATE: too long for the record
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 5 && argc != 6) {
        fwprintf(stderr, L"usage: SampleClient URL VERSION SIZE MD5 [WAIT_MS]\n");
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
    if (!SendUpgradeOrder(&order, UPGRADE_MODE_AUTO, dwWaitMs, 10 * 60 * 1000, &dwResult)) {
        const DWORD dwError = GetLastError();
        fwprintf(stderr,
                 dwError == ERROR_NOT_FOUND ? L"the companion's window was not found\n"
                                            : L"the companion did not answer (error %lu)\n",
                 dwError);
        return dwError == ERROR_NOT_FOUND ? 1 : 3;
    }
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
