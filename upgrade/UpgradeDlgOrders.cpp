// The client's upgrade order and its four commands.
#include "upgrade/UpgradeDlgDUI.h"

#include "log/Log.h"
#include "netlib/NubraSdk.h"
#include "upgrade/OrderRules.h"
#include "upgrade/SetupNaming.h"
#include "upgrade/UpgradePrompts.h"
#include "upgrade/StateFile.h"

#include <shlwapi.h>

#include <cstring>
#include <cwchar>

namespace {

bool IsInteractiveType(const UPGRADE_COMM& stComm)
{
    return std::wcscmp(stComm.szUpgradeType, UPGRADE_TYPE_INTERACTIVE) == 0;
}

}  // namespace

bool CUpgradeDlgDUI::IsOrderBusy() const
{
    return m_bInOrder || m_bDownloadRunning || m_bOverPending || m_bFailPending || m_checkFor != CheckFor::None ||
           m_settle != Settle::None || m_bClientClosing;
}

bool CUpgradeDlgDUI::RunCleanUpStep(bool bKeepOrderDownload)
{
    if (SweepWithRetry(bKeepOrderDownload)) {
        SetClearFlags(kFlagFalse);
        return true;
    }
    SetClearFlags(kFlagTrue);
    // Whatever is still in use goes at the next order's clean-up; only this
    // order's own old files, where its download is to go, stop it.
    if (bKeepOrderDownload || !IsAnyOwnSetupFileLeft(m_strTemp)) {
        LOG_WARN(L"CUpgradeDlgDUI::OnCopyData",
                 L"old setup programs could not all be swept; the next order tries again, this one goes on");
        return true;
    }
    GiveFailureNotice(Notice::DownloadFailed, UpgradeResult::DownloadFailed,
                      L"old setup programs could not be swept; the next order tries again");
    return false;
}

BOOL CUpgradeDlgDUI::OnCopyData(CWnd* pWnd, PCOPYDATASTRUCT pCopyDataStruct)
{
    if (!pCopyDataStruct)
        return CDialog::OnCopyData(pWnd, pCopyDataStruct);
    const DWORD dwData = static_cast<DWORD>(pCopyDataStruct->dwData);
    if (HIWORD(dwData) != UPGRADE_COMM_TAG || (LOWORD(dwData) != 0 && LOWORD(dwData) != 1))
        return CDialog::OnCopyData(pWnd, pCopyDataStruct);
    const int nMode = LOWORD(dwData);

    // Without the upgrade folder there is nowhere to sweep or download to;
    // the quit is already on its way.
    if (!m_bUpgradeDirReady) {
        LOG_WARN(L"CUpgradeDlgDUI::OnCopyData", L"order refused, the upgrade folder is not ready");
        return TRUE;
    }
    UPGRADE_COMM stOrder;
    if (!ReceiveOrder(*pCopyDataStruct, nMode, stOrder))
        return TRUE;
    // The framework's pWnd wraps only windows of ours; the sender's is raw.
    m_clientNotices.SetClientWindow(reinterpret_cast<HWND>(GetCurrentMessage()->wParam));

    CBusyOrder busy(m_bInOrder);
    m_nMode = nMode;
    m_stComm = stOrder;
    // A setup verified for an earlier order is no business of this one.
    m_setupLock.Release();
    if (!IsOrderUsable())
        return TRUE;
    // Only now: before the checks a field could carry line breaks into the log.
    LOG_INFO(L"CUpgradeDlgDUI::OnCopyData", L"order accepted: mode %d, type %s, version %s, size %s, MD5 %s, URL %s",
             m_nMode, m_stComm.szUpgradeType, m_stComm.szVersion, m_stComm.szSize, m_stComm.szMD5, m_stComm.szURL);
    ContinueOrder();
    return TRUE;
}

void CUpgradeDlgDUI::ContinueOrder()
{
    // An empty read of a state file in use would look like a new version and
    // sweep a good setup: nothing it decides is decided while it is in use.
    if (IsStateFileInUse(m_szIniPath)) {
        BeginCheck(CheckFor::StateFile);
        return;
    }
    if (PrepareForDownload())
        StartDownload();
}

bool CUpgradeDlgDUI::ReceiveOrder(const COPYDATASTRUCT& cds, int nMode, UPGRADE_COMM& stOrder)
{
    const bool bBusy = IsOrderBusy();
    // The framework's pWnd wraps only windows of ours; the sender's is raw in wParam.
    const HWND hSender = reinterpret_cast<HWND>(GetCurrentMessage()->wParam);
    if (cds.cbData != sizeof(UPGRADE_COMM) || !cds.lpData) {
        LOG_INFO(L"CUpgradeDlgDUI::OnCopyData", L"COPYDATASTRUCT ERROR! Address of m_stComm:%x",
                 static_cast<unsigned>(reinterpret_cast<UINT_PTR>(&m_stComm)));
        // A running download is never ended by a later order.
        if (!bBusy) {
            ExistMainThread(UpgradeResult::Refused, L"order refused, its record is malformed");
        } else {
            LOG_WARN(L"CUpgradeDlgDUI::OnCopyData", L"malformed order ignored while the download runs");
            CClientNotices::TellRefused(hSender, UPGRADE_REFUSAL_MALFORMED);
        }
        return false;
    }
    std::memcpy(&stOrder, cds.lpData, sizeof(UPGRADE_COMM));
    TerminateOrderFields(stOrder);

    // One transfer per target: a second one would fail on the locked partial
    // file, and its failure would sweep the good one away.
    if (bBusy) {
        // The address goes into the log only without line breaks, which
        // would let a sender forge records of its own.
        if (LPCWSTR pszField = FindControlCharacterField(stOrder)) {
            LOG_WARN(L"CUpgradeDlgDUI::OnCopyData", L"order refused while a download runs, control character in %s",
                     pszField);
            CClientNotices::TellRefused(hSender, UPGRADE_REFUSAL_MALFORMED);
            return false;
        }
        // A client that re-creates its window, or restarts, sends its order
        // again: the notices follow it; the order stays the running one's.
        if (IsSameOrder(stOrder, nMode, m_stComm, m_nMode)) {
            LOG_INFO(L"CUpgradeDlgDUI::OnCopyData", L"same order again while its download runs, URL= %s",
                     stOrder.szURL);
            if (!m_clientNotices.FollowClient(hSender))
                CClientNotices::TellRefused(hSender, UPGRADE_REFUSAL_HEARD_ELSEWHERE);
        } else {
            LOG_WARN(L"CUpgradeDlgDUI::OnCopyData", L"order refused while the download of %s runs, URL= %s",
                     m_stComm.szURL, stOrder.szURL);
            CClientNotices::TellRefused(hSender, UPGRADE_REFUSAL_OTHER_ORDER);
        }
        return false;
    }
    return true;
}

bool CUpgradeDlgDUI::IsOrderUsable()
{
    // A line break would add keys to the state file; any control character
    // makes the order as unusable as a bad address.
    if (LPCWSTR pszField = FindControlCharacterField(m_stComm)) {
        LOG_WARN(L"CUpgradeDlgDUI::OnCopyData", L"order check failure, control character in %s", pszField);
        ExistMainThread(UpgradeResult::Refused, L"order refused, a field holds a control character");
        return false;
    }

    // An address the setup's name cannot be taken from is as unusable as one
    // without a scheme.
    if (!m_stComm.szURL[0] || !std::wcsstr(m_stComm.szURL, L"://") || !MakeCurrentSetupPath()) {
        LOG_INFO(L"CUpgradeDlgDUI::OnCopyData", L"URL check failure,URL= %s", m_stComm.szURL);
        ExistMainThread(UpgradeResult::Refused, L"order refused, no setup file can be taken from its address");
        return false;
    }
    return true;
}

bool CUpgradeDlgDUI::PrepareForDownload()
{
    // A pending clean-up never takes this order's own setup, which may be
    // verified below, nor its partial download, which the transfer resumes.
    if (IsNeedClear() && !RunCleanUpStep(true))
        return false;

    if (!IsSameVersion()) {
        LOG_INFO(L"CUpgradeDlgDUI::OnCopyData", L"new version %s: old setup programs are swept", m_stComm.szVersion);
        if (!RunCleanUpStep(false))
            return false;
        WriteUpgradeValue(m_szIniPath, kKeyVersion, m_stComm.szVersion);
        SaveSetupPath();
    } else if (IsDownloadOver()) {
        const CheckAnswer answer = IsNewSetupFileExist();
        if (answer == CheckAnswer::CouldNot) {
            BeginCheck(CheckFor::ReadySetup);
            return false;
        }
        return OnReadySetupChecked(answer);
    }
    return true;
}

bool CUpgradeDlgDUI::OnReadySetupChecked(CheckAnswer answer)
{
    if (answer == CheckAnswer::Passed) {
        m_bSetupReady = true;
        if (m_nMode == 1 && m_bInstallAsked) {
            ExistMainThread(RunSetup(), L"the client's install command, given while the setup was checked");
            return false;
        }
        if (m_nMode == 1) {
            LOG_INFO(L"CUpgradeDlgDUI::OnCopyData",
                     L"setup of version %s already downloaded and verified, waiting for the client's command",
                     m_stComm.szVersion);
            m_clientNotices.NotifyReady();
            return false;  // the client decides with its commands
        }
        const UpgradeResult result = UpdateProcesses();
        // Asked to close itself, the client is waited for; the hand-off ends the run.
        if (!m_bClientClosing)
            ExistMainThread(result, L"the setup of this version was found ready");
        return false;
    }
    if (m_bKeepRefusedSetup) {
        GiveFailureNotice(Notice::SignatureRefused, UpgradeResult::SignatureRefused,
                          L"the configured publisher pin cannot be applied; the setup is kept and not started");
        return false;
    }
    LOG_WARN(L"CUpgradeDlgDUI::OnCopyData",
             L"version %s was downloaded before, but its setup is gone or changed: downloading again",
             m_stComm.szVersion);
    return RunCleanUpStep(false);
}

void CUpgradeDlgDUI::StartDownload()
{
    if (m_nMode == 0 && IsInteractiveType(m_stComm)) {
        SetForegroundWindow();
        if (ShowUpgradePrompt(true) == 1)
            ShowUpgradeWindow(L"the user's answer to the upgrade prompt");
    }
    m_bRefetched = false;
    StartTransfer();
}

void CUpgradeDlgDUI::StartTransfer()
{
    InitProgressText(::StrToIntW(m_stComm.szSize), m_stComm.szVersion, m_stComm.szFileName);
    SetOverFlags(L"");
    ShowProgress(0);
    LOG_INFO(L"CUpgradeDlgDUI::OnCopyData", L"Nubra_SDK::UpgradeDownLoadFile, URL=%s, m_strTemp=%s, m_stComm.szSize=%s",
             m_stComm.szURL, m_strTemp.c_str(), m_stComm.szSize);
    m_ullDownloadStartTick = ::GetTickCount64();
    // Its result means nothing that every library agrees on: from now on the
    // transfer's records tell how it goes.
    m_bDownloadRunning = true;
    m_bDownloadEnded = false;
    m_bSilentEnd = false;
    m_bFinalSeen = false;
    m_bResumedTransfer = false;
    StartRecordWatch();
    UpgradeDownLoadFile(m_stComm.szURL, m_strTemp.c_str(), 0, m_hWnd, WM_MSG_DOWNLOAD, 0,
                        static_cast<__int64>(_wtol(m_stComm.szSize)), 0);
}

LRESULT CUpgradeDlgDUI::OnUpgradeCommand(WPARAM wParam, LPARAM lParam, bool* pbHandled)
{
    *pbHandled = LOWORD(lParam) == UPGRADE_COMM_TAG;
    if (!*pbHandled)
        return 0;
    if (m_bClientClosing) {
        LOG_INFO(L"CUpgradeDlgDUI::OnUpgradeCommand", L"client command %u ignored: the setup is being started",
                 static_cast<unsigned>(wParam));
        return 1;
    }

    switch (wParam) {
    case UPGRADE_CMD_PROMPT: {
        if (m_bSetupReady || !IsInteractiveType(m_stComm) || m_bPrompting) {
            LPCWSTR pszWhy = m_bSetupReady  ? L"the setup is ready"
                             : m_bPrompting ? L"a prompt is open"
                                            : L"not an interactive order";
            LOG_INFO(L"CUpgradeDlgDUI::OnUpgradeCommand", L"client command: prompt, not shown (%s)", pszWhy);
            return 1;
        }
        LOG_INFO(L"CUpgradeDlgDUI::OnUpgradeCommand", L"client command: prompt");
        SetForegroundWindow();
        m_bPrompting = true;
        const int nResult = ShowUpgradePrompt(true);
        const bool bOver = IsDownloadOver();
        if (nResult == 1) {
            if (bOver) {
                ExistMainThread(RunSetup(), L"the user chose to upgrade after the download had finished");
            } else {
                ShowUpgradeWindow(L"the user's answer to the client's prompt command");
            }
        } else if (bOver) {
            ExistMainThread(UpgradeResult::UserDeclined,
                            L"the user declined the upgrade after the download had finished");
        }
        m_bPrompting = false;
        return 0;
    }
    case UPGRADE_CMD_HOLD:
        LOG_INFO(L"CUpgradeDlgDUI::OnUpgradeCommand", L"client command: hold the installation");
        m_bHold = true;
        return 1;
    case UPGRADE_CMD_INSTALL:
        LOG_INFO(L"CUpgradeDlgDUI::OnUpgradeCommand", L"client command: install");
        m_bHold = false;
        if (m_checkFor == CheckFor::StateFile || m_checkFor == CheckFor::ReadySetup) {
            // Answered at once; the check's outcome carries the command out.
            LOG_INFO(L"CUpgradeDlgDUI::OnUpgradeCommand", L"the install command waits for the check of the order");
            m_bInstallAsked = true;
        } else if ((m_nMode == 1 && m_bSetupReady) || IsDownloadOver()) {
            ExistMainThread(RunSetup(), L"the client's install command");
        } else if (!m_bSetupReady) {
            ShowUpgradeWindow(L"the client's install command");
        }
        return 1;
    case UPGRADE_CMD_RELEASE:
        LOG_INFO(L"CUpgradeDlgDUI::OnUpgradeCommand", L"client command: release the installation");
        m_bHold = false;
        if (IsDownloadOver())
            ExistMainThread(UpgradeResult::ReadyWaiting,
                            L"the client released the finished download without installing");
        return 1;
    default:
        return 1;
    }
}
