#include "upgrade/ClientNotices.h"

#include "include/DazuvuVevUpgradeClient.h"
#include "log/Log.h"
#include "upgrade/ProgressFormat.h"
#include "win/ProcessFacts.h"

#include <atomic>

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
static_assert(static_cast<int>(UpgradeResult::SignatureRefused) == UPGRADE_OUTCOME_SIGNATURE_REFUSED,
              "outcome numbers");

namespace {

// Process-wide: the instance watch tells a superseded run's end from its
// own thread.
std::atomic<HWND> g_hClientWindow(nullptr);
std::atomic<bool> g_bOutcomeTold(false);

void PostNotice(LPCWSTR pszName, WPARAM wParam)
{
    const HWND hWnd = g_hClientWindow;
    const UINT uMsg = ::RegisterWindowMessageW(pszName);
    if (!hWnd || !uMsg)
        return;
    // A window that went away, or a client that stopped reading, costs the
    // notice and nothing else.
    ::PostMessageW(hWnd, uMsg, wParam, static_cast<LPARAM>(::GetCurrentProcessId()));
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
        LOG_INFO(L"CClientNotices::SetClientWindow", L"notices go to the order's sender window %p", hWnd);
    g_hClientWindow = bQualifies ? hWnd : nullptr;
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
    PostNotice(UPGRADE_NOTICE_READY_NAME, 0);
}

void CClientNotices::NotifyOutcome(UpgradeResult result)
{
    if (g_bOutcomeTold.exchange(true))
        return;
    PostNotice(UPGRADE_NOTICE_OUTCOME_NAME, static_cast<WPARAM>(result));
}
