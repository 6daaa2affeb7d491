// The network watch: reports the first loss of the network to the window.
#include "upgrade/UpgradeDlgDUI.h"

#include "log/Log.h"
#include "netlib/NubraSdk.h"

namespace {
const wchar_t kUpgradeClassName[] = UPGRADE_WINDOW_CLASS;
}

DWORD WINAPI CUpgradeDlgDUI::NetThread(LPVOID lpParameter)
{
    HANDLE hTrackEvent = static_cast<HANDLE>(lpParameter);
    // Without an event, or with a wait that fails, the thread could only spin:
    // it ends instead, and the upgrade goes on without the watch.
    if (!hTrackEvent) {
        LOG_WARN(L"CUpgradeDlgDUI::NetThread", L"net track event missing, watch not started");
        return 1;
    }
    for (;;) {
        const DWORD dwWait = ::WaitForSingleObject(hTrackEvent, INFINITE);
        if (dwWait == WAIT_FAILED) {
            LOG_WARN(L"CUpgradeDlgDUI::NetThread", L"net track wait failed, error %u", ::GetLastError());
            return 1;
        }
        if (dwWait != WAIT_OBJECT_0)
            continue;
        if (InternetTrackCheckNetState())
            continue;
        break;
    }

    LOG_INFO(L"CUpgradeDlgDUI::NetThread", L"net cutdown");
    g_bNetAlive = false;
    if (g_bInstallPrompting)
        return 1;

    HWND hWnd = ::FindWindowW(kUpgradeClassName, nullptr);
    if (hWnd && ::IsWindow(hWnd))
        ::PostMessageW(hWnd, WM_MSG_NET_BREAK, 0, UPGRADE_COMM_TAG);
    return 1;
}
