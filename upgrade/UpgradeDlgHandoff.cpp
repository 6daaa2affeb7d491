// Asking the user, closing the client and starting the setup program.
#include "upgrade/UpgradeDlgDUI.h"

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

}  // namespace

bool KillProcessByName(LPCWSTR pszName, bool (*pfnSessionOf)(DWORD dwPid, DWORD* pdwSession))
{
    if (!pfnSessionOf)
        pfnSessionOf = &SessionOfProcess;
    DWORD dwOwnSession = 0;
    if (!pfnSessionOf(::GetCurrentProcessId(), &dwOwnSession)) {
        LOG_ERROR(L"KillProcessByName", L"this process's session cannot be told, client %s not closed", pszName);
        return false;
    }
    CKernelHandle hSnapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!hSnapshot.IsValid()) {
        LOG_ERROR(L"KillProcessByName", L"no process list to find the client %s in, error %lu", pszName,
                  ::GetLastError());
        return false;
    }
    PROCESSENTRY32W pe = {};
    pe.dwSize = sizeof(pe);
    for (BOOL bMore = ::Process32FirstW(hSnapshot.Get(), &pe); bMore; bMore = ::Process32NextW(hSnapshot.Get(), &pe)) {
        if (_wcsicmp(pe.szExeFile, pszName) != 0)
            continue;
        DWORD dwSession = 0;
        if (!pfnSessionOf(pe.th32ProcessID, &dwSession) || dwSession != dwOwnSession) {
            LOG_INFO(L"KillProcessByName", L"client %s (process %lu) of another session left running", pszName,
                     pe.th32ProcessID);
            continue;
        }
        CKernelHandle hProcess(::OpenProcess(PROCESS_TERMINATE, FALSE, pe.th32ProcessID));
        if (hProcess.IsValid() && ::TerminateProcess(hProcess.Get(), 0)) {
            LOG_INFO(L"KillProcessByName", L"client %s (process %lu) closed", pszName, pe.th32ProcessID);
            return true;
        }
        LOG_ERROR(L"KillProcessByName", L"client %s (process %lu) could not be closed, error %lu", pszName,
                  pe.th32ProcessID, ::GetLastError());
        return false;
    }
    LOG_INFO(L"KillProcessByName", L"client %s not found running", pszName);
    return false;
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
    // The setup starts whether or not a running client was found and closed;
    // KillProcessByName logs which it was.
    if (bCloseClient)
        KillProcessByName(kClientExeName);
    // Held until here, checked again after the client's end (see SetupLaunch.h).
    SetupLaunch launch = LaunchHeldSetup(m_setupLock, kSetupParameters);
    if (launch == SetupLaunch::Failed && bCloseClient) {
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
