// The network watch: reports the first loss of the network to the window.
#include "upgrade/UpgradeDlgDUI.h"

#include "log/Log.h"
#include "netlib/NubraSdk.h"

namespace {

// Waits for the library's signals until one finds the network lost; false
// when there is nothing to wait on.
bool WaitForNetworkLoss(HANDLE hTrackEvent)
{
    // Without an event, or with a wait that fails, the thread could only spin:
    // it ends instead, and the upgrade goes on without the watch.
    if (!hTrackEvent) {
        LOG_WARN(L"CUpgradeDlgDUI::NetThread", L"net track event missing, watch not started");
        return false;
    }
    for (;;) {
        const DWORD dwWait = ::WaitForSingleObject(hTrackEvent, INFINITE);
        if (dwWait == WAIT_FAILED) {
            LOG_WARN(L"CUpgradeDlgDUI::NetThread", L"net track wait failed, error %u", ::GetLastError());
            return false;
        }
        if (dwWait == WAIT_OBJECT_0 && !InternetTrackCheckNetState())
            return true;
    }
}

}  // namespace

DWORD WINAPI CUpgradeDlgDUI::NetThread(LPVOID lpParameter)
{
    try {
        const NET_WATCH_TARGET* pTarget = static_cast<const NET_WATCH_TARGET*>(lpParameter);
        if (!WaitForNetworkLoss(pTarget ? pTarget->hTrackEvent : nullptr))
            return 1;

        LOG_INFO(L"CUpgradeDlgDUI::NetThread", L"net cutdown");
        g_bNetAlive = false;
        if (g_bInstallPrompting)
            return 1;

        // This run's own window, not the first of its class: an older
        // companion's window, or any other program's of that class, would
        // take the report and leave this run waiting for it.
        const HWND hWnd = pTarget->hWnd;
        DWORD dwOwner = 0;
        if (hWnd && ::IsWindow(hWnd) && ::GetWindowThreadProcessId(hWnd, &dwOwner) &&
            dwOwner == ::GetCurrentProcessId())
            ::PostMessageW(hWnd, WM_MSG_NET_BREAK, 0, UPGRADE_COMM_TAG);
    } catch (...) {
        // Nothing to report with; the upgrade goes on without the watch.
    }
    return 1;
}
