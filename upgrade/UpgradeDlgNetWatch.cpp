// The network watch: tells the window when a network reached in this run is lost.
#include "upgrade/UpgradeDlgDUI.h"

#include "log/Log.h"
#include "netlib/NubraSdk.h"
#include "upgrade/NetLossRule.h"

namespace {

// Asks the library's watch once at the start, so that a network already
// reached before the first signal counts, and again after each signal,
// until an answer is a loss (see upgrade/NetLossRule.h); false when there
// is nothing to wait on.
bool WaitForNetworkLoss(HANDLE hTrackEvent)
{
    // Without an event, or with a wait that fails, the thread could only spin:
    // it ends instead, and the upgrade goes on without the watch.
    if (!hTrackEvent) {
        LOG_WARN(L"CUpgradeDlgDUI::NetThread", L"net track event missing, watch not started");
        return false;
    }
    CNetLossRule rule;
    bool bUncountedLogged = false;
    for (bool bAsk = true;;) {
        if (bAsk) {
            const bool bReachable = InternetTrackCheckNetState() != 0;
            if (rule.IsLoss(bReachable))
                return true;
            if (!bReachable && !bUncountedLogged) {
                LOG_INFO(L"CUpgradeDlgDUI::NetThread",
                         L"net track answers lost before it answered reachable in this run: not counted as a loss");
                bUncountedLogged = true;
            }
        }
        const DWORD dwWait = ::WaitForSingleObject(hTrackEvent, INFINITE);
        if (dwWait == WAIT_FAILED) {
            LOG_WARN(L"CUpgradeDlgDUI::NetThread", L"net track wait failed, error %u", ::GetLastError());
            return false;
        }
        bAsk = dwWait == WAIT_OBJECT_0;
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
