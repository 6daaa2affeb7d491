// Asking the user, closing the client and starting the setup program.
#include "upgrade/UpgradeDlgDUI.h"

#include "win/AwakeClock.h"
#include "win/Handles.h"
#include "win/ProcessFacts.h"
#include "log/Log.h"
#include "upgrade/SetupLaunch.h"
#include "upgrade/UpgradePrompts.h"
#include "upgrade/StateFile.h"

#include <tlhelp32.h>

#include <cwchar>

namespace {

const wchar_t kClientExeName[] = UPGRADE_CLIENT_EXE_NAME;
const wchar_t kSetupParameters[] = UPGRADE_SETUP_SWITCH;
const DWORD kStartRetryMs = 1000;
const UINT kClientCloseTickMs = 200;

}  // namespace

DWORD FirstProcessOfThisSession(LPCWSTR pszName, bool (*pfnSessionOf)(DWORD dwPid, DWORD* pdwSession))
{
    if (!pfnSessionOf)
        pfnSessionOf = &SessionOfProcess;
    DWORD dwOwnSession = 0;
    if (!pfnSessionOf(::GetCurrentProcessId(), &dwOwnSession)) {
        LOG_ERROR(L"KillProcessByName", L"this process's session cannot be told, client %s not closed", pszName);
        return 0;
    }
    CKernelHandle hSnapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!hSnapshot.IsValid()) {
        LOG_ERROR(L"KillProcessByName", L"no process list to find the client %s in, error %lu", pszName,
                  ::GetLastError());
        return 0;
    }
    PROCESSENTRY32W pe = {};
    pe.dwSize = sizeof(pe);
    for (BOOL bMore = ::Process32FirstW(hSnapshot.Get(), &pe); bMore; bMore = ::Process32NextW(hSnapshot.Get(), &pe)) {
        if (_wcsicmp(pe.szExeFile, pszName) != 0)
            continue;
        DWORD dwSession = 0;
        if (pfnSessionOf(pe.th32ProcessID, &dwSession) && dwSession == dwOwnSession)
            return pe.th32ProcessID;
        LOG_INFO(L"KillProcessByName", L"client %s (process %lu) of another session left running", pszName,
                 pe.th32ProcessID);
    }
    LOG_INFO(L"KillProcessByName", L"client %s not found running", pszName);
    return 0;
}

bool KillProcessByName(LPCWSTR pszName, bool (*pfnSessionOf)(DWORD dwPid, DWORD* pdwSession))
{
    const DWORD dwPid = FirstProcessOfThisSession(pszName, pfnSessionOf);
    if (!dwPid)
        return false;
    CKernelHandle hProcess(::OpenProcess(PROCESS_TERMINATE, FALSE, dwPid));
    if (hProcess.IsValid() && ::TerminateProcess(hProcess.Get(), 0)) {
        LOG_INFO(L"KillProcessByName", L"client %s (process %lu) closed", pszName, dwPid);
        return true;
    }
    LOG_ERROR(L"KillProcessByName", L"client %s (process %lu) could not be closed, error %lu", pszName, dwPid,
              ::GetLastError());
    return false;
}

bool CUpgradeDlgDUI::BeginGentleClose()
{
    // Only a client that named its window can be asked, and only when that
    // window's process is the very one that would be ended.
    const DWORD dwNotified = CClientNotices::ClientProcessId();
    if (!dwNotified)
        return false;
    const DWORD dwClient = FirstProcessOfThisSession(kClientExeName);
    if (dwClient != dwNotified) {
        LOG_INFO(L"CUpgradeDlgDUI::AskAndInstall",
                 L"the notice window belongs to process %lu, not to the client to close (process %lu): not asked",
                 dwNotified, dwClient);
        return false;
    }
    // Held from here: the id cannot go to another process meanwhile.
    m_closingClient.Reset(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, dwClient));
    if (!m_closingClient.IsValid())
        return false;
    // Asked from a posted message: the client is often still inside its
    // send of the order, which must be answered first.
    m_bClosePosted = PostMessage(WM_MSG_CLOSE_CLIENT) != FALSE;
    m_bClientClosing = m_bClosePosted;
    if (!m_bClientClosing)
        m_closingClient.Reset();
    return m_bClientClosing;
}

LRESULT CUpgradeDlgDUI::OnCloseClient()
{
    if (!m_bClosePosted) {
        LOG_WARN(L"CUpgradeDlgDUI::WindowProc", L"WM_MSG_CLOSE_CLIENT not posted by this window ignored");
        return 1;
    }
    m_bClosePosted = false;
    if (!CClientNotices::AskClientToClose(UPGRADE_CLOSE_WAIT_MS)) {
        LOG_INFO(L"CUpgradeDlgDUI::OnCloseClient", L"the client's window is gone: it was not asked to close");
        FinishHandoff(false);
        return 1;
    }
    m_ullCloseAskedAt = AwakeTickMs();
    SetTimer(TIMER_CLIENT_CLOSE, kClientCloseTickMs);
    return 1;
}

void CUpgradeDlgDUI::OnClientCloseTick()
{
    const bool bGone = ::WaitForSingleObject(m_closingClient.Get(), 0) == WAIT_OBJECT_0;
    if (!bGone && AwakeMsSince(m_ullCloseAskedAt, AwakeTickMs()) < UPGRADE_CLOSE_WAIT_MS)
        return;
    KillTimer(TIMER_CLIENT_CLOSE);
    FinishHandoff(bGone);
}

void CUpgradeDlgDUI::FinishHandoff(bool bClosedItself)
{
    if (bClosedItself) {
        LOG_INFO(L"CUpgradeDlgDUI::AskAndInstall", L"the client closed itself when asked");
    } else if (::WaitForSingleObject(m_closingClient.Get(), 0) == WAIT_OBJECT_0) {
        LOG_INFO(L"CUpgradeDlgDUI::AskAndInstall", L"the client has gone");
    } else if (::TerminateProcess(m_closingClient.Get(), 0)) {
        LOG_INFO(L"CUpgradeDlgDUI::AskAndInstall", L"the client did not close when asked: it was ended");
    } else {
        LOG_ERROR(L"CUpgradeDlgDUI::AskAndInstall", L"the client did not close when asked and could not be ended, "
                                                    L"error %lu", ::GetLastError());
    }
    m_closingClient.Reset();
    m_bClientClosing = false;
    ExistMainThread(LaunchSetup(true), L"the setup of this version was found ready");
}

UpgradeResult CUpgradeDlgDUI::StartSetup(bool bCloseClient)
{
    // Two install commands, or a command behind an answered prompt, must not
    // start the setup twice.
    if (m_bSetupStarted) {
        LOG_INFO(L"CUpgradeDlgDUI::RunSetup", L"setup already started in this run, not started again: %s",
                 m_strTemp.c_str());
        return UpgradeResult::SetupStarted;
    }
    if (m_strTemp.empty()) {
        LOG_ERROR(L"CUpgradeDlgDUI::RunSetup", L"no setup file known, nothing started");
        return UpgradeResult::DownloadFailed;
    }
    const bool bStillVerified =
        m_setupLock.Path() == m_strTemp && m_setupLock.IsUnchanged() && m_setupLock.IsAtItsPath();
    // Everything that may have to wait is settled before the client is
    // ended: a client closed for a setup that then does not start is the
    // worst end of all.
    if (!bStillVerified) {
        const CheckAnswer answer = IsNewSetupFileExist();
        if (answer == CheckAnswer::CouldNot) {
            LOG_ERROR(L"CUpgradeDlgDUI::RunSetup", L"setup file( %s ) could not be checked again (%s): kept, not started",
                      m_strTemp.c_str(), m_strCheckWhy.c_str());
            return UpgradeResult::CouldNotCheck;
        }
        if (answer == CheckAnswer::Against) {
            LOG_ERROR(L"CUpgradeDlgDUI::RunSetup", L"setup file( %s ) no longer verified, not started",
                      m_strTemp.c_str());
            const UpgradeResult failure = m_setupCheckFailure;
            if (!m_bKeepRefusedSetup)
                SweepAfterFailure(failure, nullptr);  // the caller ends the upgrade
            return failure;
        }
    }
    if (bCloseClient) {
        // A client that hears notices is asked to close itself first; the
        // hand-off then goes on from a timer and ends the run there.
        if (BeginGentleClose())
            return UpgradeResult::SetupStarted;
        // The setup starts whether or not a running client was found and
        // closed; KillProcessByName logs which it was.
        KillProcessByName(kClientExeName);
    }
    return LaunchSetup(bCloseClient);
}

UpgradeResult CUpgradeDlgDUI::LaunchSetup(bool bClientClosed)
{
    // Held until here, checked again after the client's end (see SetupLaunch.h).
    SetupLaunch launch = LaunchHeldSetup(m_setupLock, kSetupParameters);
    if (launch == SetupLaunch::Failed && bClientClosed) {
        // The client is gone now; whatever held the setup back for a moment
        // (a scanner woken by the client's end) gets one short while.
        ::Sleep(kStartRetryMs);
        LOG_WARN(L"CUpgradeDlgDUI::RunSetup", L"setup start tried once more: %s", m_strTemp.c_str());
        launch = LaunchHeldSetup(m_setupLock, kSetupParameters);
    }
    // The started setup has its own image open now.
    m_setupLock.Release();
    if (launch == SetupLaunch::Started) {
        m_bSetupStarted = true;
        LOG_INFO(L"CUpgradeDlgDUI::RunSetup", L"setup started: %s %s", m_strTemp.c_str(), kSetupParameters);
        return UpgradeResult::SetupStarted;
    }
    // A verified setup that could not start stays, "over", for the next order.
    return launch == SetupLaunch::Refused ? UpgradeResult::Refused : UpgradeResult::StartFailed;
}

UpgradeResult CUpgradeDlgDUI::RunSetup()
{
    return StartSetup(false);
}

UpgradeResult CUpgradeDlgDUI::AskAndInstall(bool bSingle)
{
    SetForegroundWindow();
    g_bInstallPrompting = true;
    const int nResult = ShowUpgradePrompt(bSingle);
    g_bInstallPrompting = false;
    if (nResult != 1) {
        LOG_INFO(L"CUpgradeDlgDUI::AskAndInstall", L"the user did not choose to upgrade (answer %d)", nResult);
        return UpgradeResult::UserDeclined;
    }
    return StartSetup(true);
}

UpgradeResult CUpgradeDlgDUI::UpdateProcesses()
{
    if (m_bHold || m_bPrompting) {
        LOG_INFO(L"CUpgradeDlgDUI::UpdateProcesses", L"no install prompt: %s",
                 m_bHold ? L"the client holds the installation" : L"a prompt is already open");
        return UpgradeResult::ReadyWaiting;
    }
    if (std::wcscmp(m_stComm.szUpgradeType, UPGRADE_TYPE_INTERACTIVE) == 0)
        return AskAndInstall(true);
    const std::wstring strNoTips = ReadUpgradeValue(m_szIniPath, kKeyVersionNoTips);
    if (strNoTips == m_stComm.szVersion) {
        LOG_INFO(L"CUpgradeDlgDUI::UpdateProcesses", L"version_no_tips = %s", strNoTips.c_str());
        return UpgradeResult::UserDeclined;
    }
    return AskAndInstall(false);
}
