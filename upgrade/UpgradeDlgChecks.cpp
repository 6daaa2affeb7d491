// Checks that could not be made: the state file in use when an order comes,
// a ready setup or a fresh download held by a scanner or by a library that
// closes its file late. Each is tried again from a timer within the
// patience's bound, while the window goes on answering the client; see
// SetupCheck.h for what the three answers allow.
#include "upgrade/UpgradeDlgDUI.h"

#include "log/Log.h"
#include "upgrade/SetupNaming.h"
#include "upgrade/StateFile.h"
#include "win/AwakeClock.h"

namespace {

const UINT kCheckRetryMs = 500;
// A final record whose file never appears, with nothing more of the
// transfer coming either, is a transfer that left no file.
const ULONGLONG kFinalWithoutFileMs = 15 * 1000;

LPCWSTR CheckName(int nWhat)
{
    static const wchar_t* const kNames[] = {L"nothing", L"the state file", L"the ready setup", L"the downloaded setup"};
    return nWhat >= 0 && nWhat < 4 ? kNames[nWhat] : L"?";
}

}  // namespace

void CUpgradeDlgDUI::BeginCheck(CheckFor what)
{
    m_checkFor = what;
    m_checkPatience.Start(AwakeTickMs(), SetupCheckPatienceMs());
    m_strCheckWhy.clear();
    // The state file and a ready setup were tried once already by the order.
    if (what == CheckFor::Download) {
        OnCheckTick();
        if (m_checkFor != what)
            return;
    }
    LOG_WARN(L"CUpgradeDlgDUI::BeginCheck", L"%s cannot be checked now (%s): tried again for up to %lu s",
             CheckName(static_cast<int>(what)),
             m_strCheckWhy.empty() ? L"it is in use by another program" : m_strCheckWhy.c_str(),
             static_cast<unsigned long>(SetupCheckPatienceMs() / 1000));
    SetTimer(TIMER_CHECK, kCheckRetryMs);
}

CheckAnswer CUpgradeDlgDUI::TryCheck(CheckFor what)
{
    switch (what) {
    case CheckFor::StateFile:
        return IsStateFileInUse(m_szIniPath) ? CheckAnswer::CouldNot : CheckAnswer::Passed;
    case CheckFor::ReadySetup:
        return IsNewSetupFileExist();
    case CheckFor::Download:
        return CheckDownloadedSetup();
    case CheckFor::None:
        break;
    }
    return CheckAnswer::Passed;
}

CheckAnswer CUpgradeDlgDUI::CheckDownloadedSetup()
{
    // A final record counts once its file is there and whoever wrote it has
    // let it go: the hold cannot be had while anyone still writes it.
    if (!IsFilePresent(m_strTemp)) {
        m_strCheckWhy = L"the transfer's end has left no file yet";
        return CheckAnswer::CouldNot;
    }
    return IsNewSetupFileExist();
}

void CUpgradeDlgDUI::OnCheckTick()
{
    const CheckFor what = m_checkFor;
    if (what == CheckFor::None) {
        KillTimer(TIMER_CHECK);
        return;
    }
    const CheckAnswer answer = TryCheck(what);
    const ULONGLONG ullNow = AwakeTickMs();
    if (answer == CheckAnswer::CouldNot) {
        const bool bNoFile = what == CheckFor::Download && !IsFilePresent(m_strTemp);
        if (!m_checkPatience.IsSpent(ullNow) && !(bNoFile && m_checkPatience.WaitedMs(ullNow) >= kFinalWithoutFileMs))
            return;
    }
    KillTimer(TIMER_CHECK);
    m_checkFor = CheckFor::None;
    if (answer == CheckAnswer::CouldNot) {
        GiveUpCheck(what);
        return;
    }
    if (m_checkPatience.WaitedMs(ullNow) > 0 && what != CheckFor::Download)
        LOG_INFO(L"CUpgradeDlgDUI::OnCheckTick", L"%s checked after %lu ms", CheckName(static_cast<int>(what)),
                 static_cast<unsigned long>(m_checkPatience.WaitedMs(ullNow)));
    CBusyOrder busy(m_bInOrder);
    switch (what) {
    case CheckFor::StateFile:
        if (PrepareForDownload())
            StartDownload();
        break;
    case CheckFor::ReadySetup:
        if (OnReadySetupChecked(answer))
            StartDownload();
        break;
    case CheckFor::Download:
        OnDownloadChecked(answer);
        break;
    case CheckFor::None:
        break;
    }
}

void CUpgradeDlgDUI::GiveUpCheck(CheckFor what)
{
    const std::wstring strWhy = m_strCheckWhy.empty() ? L"it stayed in use by another program" : m_strCheckWhy;
    LOG_ERROR(L"CUpgradeDlgDUI::GiveUpCheck", L"%s could not be checked in %lu s: %s; every file is kept",
              CheckName(static_cast<int>(what)),
              static_cast<unsigned long>(m_checkPatience.WaitedMs(AwakeTickMs()) / 1000), strWhy.c_str());
    if (what == CheckFor::Download) {
        m_bDownloadRunning = false;
        if (!IsFilePresent(m_strTemp)) {
            LOG_ERROR(L"CUpgradeDlgDUI::OnDownloadOver", L"the transfer's end left no file( %s )", m_strTemp.c_str());
            GiveFailureNotice(Notice::DownloadFailed, UpgradeResult::DownloadFailed, L"the transfer's end left no file");
            return;
        }
        GiveFailureNotice(Notice::DownloadFailed, UpgradeResult::CouldNotCheck,
                          L"the downloaded setup could not be checked; it is kept for the next order");
        return;
    }
    ExistMainThread(UpgradeResult::CouldNotCheck,
                    what == CheckFor::StateFile
                        ? L"the state file stayed in use; nothing was decided or swept"
                        : L"the setup found ready could not be checked; it is kept for the next order");
}
