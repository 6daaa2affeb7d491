#include "upgrade/ClientNotices.h"

#include "include/DazuvuVevUpgradeClient.h"
#include "log/Log.h"
#include "upgrade/ProgressFormat.h"
#include "win/ProcessFacts.h"

#include <atomic>
#include <mutex>

// The client reads the outcome's number with the header's enumeration.
static_assert(static_cast<int>(UpgradeResult::SetupStarted) == UPGRADE_OUTCOME_SETUP_STARTED, "outcome numbers");
static_assert(static_cast<int>(UpgradeResult::UserDeclined) == UPGRADE_OUTCOME_USER_DECLINED, "outcome numbers");
static_assert(static_cast<int>(UpgradeResult::Hidden) == UPGRADE_OUTCOME_HIDDEN, "outcome numbers");
static_assert(static_cast<int>(UpgradeResult::ReadyWaiting) == UPGRADE_OUTCOME_READY_WAITING, "outcome numbers");
static_assert(static_cast<int>(UpgradeResult::HeldWaiting) == UPGRADE_OUTCOME_HELD_WAITING, "outcome numbers");
static_assert(static_cast<int>(UpgradeResult::DownloadFailed) == UPGRADE_OUTCOME_DOWNLOAD_FAILED, "outcome numbers");
static_assert(static_cast<int>(UpgradeResult::DigestMismatch) == UPGRADE_OUTCOME_DIGEST_MISMATCH, "outcome numbers");
static_assert(static_cast<int>(UpgradeResult::NetworkLost) == UPGRADE_OUTCOME_NETWORK_LOST, "outcome numbers");
static_assert(static_cast<int>(UpgradeResult::Refused) == UPGRADE_OUTCOME_REFUSED, "outcome numbers");
static_assert(static_cast<int>(UpgradeResult::Superseded) == UPGRADE_OUTCOME_SUPERSEDED, "outcome numbers");
static_assert(static_cast<int>(UpgradeResult::CouldNotCheck) == UPGRADE_OUTCOME_COULD_NOT_CHECK, "outcome numbers");
static_assert(static_cast<int>(UpgradeResult::StartFailed) == UPGRADE_OUTCOME_START_FAILED, "outcome numbers");
static_assert(static_cast<int>(UpgradeResult::SignatureRefused) == UPGRADE_OUTCOME_SIGNATURE_REFUSED,
              "outcome numbers");

namespace {

// The window that hears the notices and the process that owned it when it
// was named. Process-wide: the instance watch tells a superseded run's end
// from its own thread.
struct NOTICE_TARGET {
    HWND hWnd;
    DWORD dwProcessId;
};
std::mutex g_targetLock;
NOTICE_TARGET g_target = {nullptr, 0};
std::atomic<bool> g_bOutcomeTold(false);

NOTICE_TARGET CurrentTarget()
{
    std::lock_guard<std::mutex> guard(g_targetLock);
    return g_target;
}

void SetTarget(HWND hWnd, DWORD dwProcessId)
{
    std::lock_guard<std::mutex> guard(g_targetLock);
    g_target = NOTICE_TARGET{hWnd, dwProcessId};
}

// The current target, or none once its window is gone: said once, by the
// post that finds it gone.
NOTICE_TARGET LiveTarget()
{
    const NOTICE_TARGET target = CurrentTarget();
    if (!target.hWnd || IsSameNoticeWindow(target.hWnd, target.dwProcessId))
        return target;
    bool bForgotten = false;
    {
        std::lock_guard<std::mutex> guard(g_targetLock);
        if (g_target.hWnd == target.hWnd && g_target.dwProcessId == target.dwProcessId) {
            g_target = NOTICE_TARGET{nullptr, 0};
            bForgotten = true;
        }
    }
    if (bForgotten)
        LOG_WARN(L"CClientNotices::PostNotice",
                 L"the client's notice window %p of process %lu is gone: no more notices to it", target.hWnd,
                 target.dwProcessId);
    return NOTICE_TARGET{nullptr, 0};
}

bool PostTo(HWND hWnd, LPCWSTR pszName, WPARAM wParam)
{
    const UINT uMsg = ::RegisterWindowMessageW(pszName);
    // A client that stopped reading costs the notice and nothing else.
    return uMsg && ::PostMessageW(hWnd, uMsg, wParam, static_cast<LPARAM>(::GetCurrentProcessId()));
}

bool PostNotice(LPCWSTR pszName, WPARAM wParam)
{
    const NOTICE_TARGET target = LiveTarget();
    return target.hWnd && PostTo(target.hWnd, pszName, wParam);
}

DWORD OwnerOf(HWND hWnd)
{
    DWORD dwOwner = 0;
    return hWnd && ::GetWindowThreadProcessId(hWnd, &dwOwner) ? dwOwner : 0;
}

}  // namespace

bool IsNoticeWindow(HWND hWnd, DWORD dwOwnProcessId)
{
    if (!hWnd || !::IsWindow(hWnd))
        return false;
    DWORD dwOwner = 0;
    if (!::GetWindowThreadProcessId(hWnd, &dwOwner) || dwOwner == 0 || dwOwner == dwOwnProcessId)
        return false;
    DWORD dwTheirs = 0, dwOurs = 0;
    return SessionOfProcess(dwOwner, &dwTheirs) && SessionOfProcess(::GetCurrentProcessId(), &dwOurs) &&
           dwTheirs == dwOurs;
}

bool IsSameNoticeWindow(HWND hWnd, DWORD dwNamedProcessId)
{
    return hWnd && dwNamedProcessId && ::IsWindow(hWnd) && OwnerOf(hWnd) == dwNamedProcessId;
}

int TransferPercent(const DOWNLOAD_PROGRESS& record, int nTotalSize, int nLastPercent)
{
    if (record.iState == DOWNLOAD_STATE_FINISHED)
        return 100;
    if (record.unFileSize == 0 && record.unPosition == 0)
        return nLastPercent < 0 ? 0 : nLastPercent;
    if (nTotalSize <= 0)
        return 0;
    // As the window's bar counts it.
    return static_cast<int>(DownloadedOfTotal(nTotalSize, record.unFileSize, record.unReceived) * 100 / nTotalSize);
}

bool IsProgressNoticeDue(int nState, int nPercent, int nLastState, int nLastPercent, ULONGLONG ullNow,
                         ULONGLONG ullLastNotice)
{
    if (nState != nLastState)
        return true;
    return nPercent != nLastPercent && ullNow - ullLastNotice >= kProgressNoticeGapMs;
}

void CClientNotices::SetClientWindow(HWND hWnd)
{
    const bool bQualifies = IsNoticeWindow(hWnd, ::GetCurrentProcessId());
    if (hWnd && !bQualifies)
        LOG_WARN(L"CClientNotices::SetClientWindow",
                 L"the order's sender window %p is not another window of this session: no notices", hWnd);
    else if (bQualifies)
        LOG_INFO(L"CClientNotices::SetClientWindow", L"notices go to the order's sender window %p of process %lu", hWnd,
                 OwnerOf(hWnd));
    SetTarget(bQualifies ? hWnd : nullptr, bQualifies ? OwnerOf(hWnd) : 0);
}

bool CClientNotices::FollowClient(HWND hWnd)
{
    if (!IsNoticeWindow(hWnd, ::GetCurrentProcessId())) {
        if (hWnd)
            LOG_WARN(L"CClientNotices::FollowClient",
                     L"the order's sender window %p is not another window of this session: the notices stay", hWnd);
        return false;
    }
    const DWORD dwOwner = OwnerOf(hWnd);
    const NOTICE_TARGET current = LiveTarget();
    if (current.hWnd == hWnd)
        return true;
    // Another process may not take a client's notices away from it.
    if (current.hWnd && current.dwProcessId != dwOwner) {
        LOG_INFO(L"CClientNotices::FollowClient",
                 L"the notices stay with window %p of process %lu, not window %p of process %lu", current.hWnd,
                 current.dwProcessId, hWnd, dwOwner);
        return false;
    }
    SetTarget(hWnd, dwOwner);
    LOG_INFO(L"CClientNotices::FollowClient", L"the notices follow the client to window %p of process %lu", hWnd,
             dwOwner);
    if (m_nLastPercent >= 0)
        PostNotice(UPGRADE_NOTICE_PROGRESS_NAME, static_cast<WPARAM>(m_nLastPercent));
    return true;
}

void CClientNotices::TellRefused(HWND hWnd, UpgradeRefusal refusal)
{
    if (!IsNoticeWindow(hWnd, ::GetCurrentProcessId()))
        return;
    if (PostTo(hWnd, UPGRADE_NOTICE_REFUSED_NAME, static_cast<WPARAM>(refusal)))
        LOG_INFO(L"CClientNotices::TellRefused", L"refused notice %d posted to the order's sender window %p",
                 static_cast<int>(refusal), hWnd);
}

void CClientNotices::OnTransferRecord(const DOWNLOAD_PROGRESS& record, int nTotalSize, ULONGLONG ullNow)
{
    if (record.iState < DOWNLOAD_STATE_PROGRESS || record.iState > DOWNLOAD_STATE_FILE_FAILED)
        return;
    const int nPercent = TransferPercent(record, nTotalSize, m_nLastPercent);
    if (!IsProgressNoticeDue(record.iState, nPercent, m_nLastState, m_nLastPercent, ullNow, m_ullLastNotice))
        return;
    m_nLastState = record.iState;
    m_nLastPercent = nPercent;
    m_ullLastNotice = ullNow;
    PostNotice(UPGRADE_NOTICE_PROGRESS_NAME, static_cast<WPARAM>(nPercent));
}

void CClientNotices::NotifyReady()
{
    const NOTICE_TARGET target = LiveTarget();
    if (target.hWnd && PostTo(target.hWnd, UPGRADE_NOTICE_READY_NAME, 0))
        LOG_INFO(L"CClientNotices::NotifyReady", L"ready notice posted to the client's window %p", target.hWnd);
}

void CClientNotices::NotifyOutcome(UpgradeResult result)
{
    if (g_bOutcomeTold.exchange(true))
        return;
    const NOTICE_TARGET target = LiveTarget();
    if (target.hWnd && PostTo(target.hWnd, UPGRADE_NOTICE_OUTCOME_NAME, static_cast<WPARAM>(result)))
        LOG_INFO(L"CClientNotices::NotifyOutcome", L"outcome notice %d (%s) posted to the client's window %p",
                 static_cast<int>(result), UpgradeResultWord(result), target.hWnd);
}

bool CClientNotices::AskClientToClose(DWORD dwWaitMs)
{
    const NOTICE_TARGET target = LiveTarget();
    if (!target.hWnd || !PostTo(target.hWnd, UPGRADE_NOTICE_CLOSE_NAME, static_cast<WPARAM>(dwWaitMs)))
        return false;
    LOG_INFO(L"CClientNotices::AskClientToClose",
             L"the client's window %p of process %lu asked to close itself within %lu ms", target.hWnd,
             target.dwProcessId, dwWaitMs);
    return true;
}

DWORD CClientNotices::ClientProcessId()
{
    return LiveTarget().dwProcessId;
}
