// Progress reports of the network library, the end of the download, and the
// loss of the network.
#include "upgrade/UpgradeDlgDUI.h"

#include "log/Log.h"
#include "netlib/DownloadRecord.h"
#include "netlib/NubraSdkExtras.h"
#include "ui/SkinLayer.h"
#include "upgrade/LibraryRecord.h"
#include "upgrade/ProgressFormat.h"
#include "upgrade/TransferSummary.h"
#include "upgrade/SetupNaming.h"
#include "upgrade/StateFile.h"
#include "win/AwakeClock.h"
#include "win/EnvLimit.h"


namespace {
// Gives the library time to close the file, and the network watch time to
// report a loss that caused a failure, before the result is judged. On a
// timer: the client's orders and commands are answered meanwhile.
const DWORD kSettleDelayMs = 3000;
// A library that stops reporting must not hold the upgrade, and every later
// order, for ever: a transfer without any record for this long has ended.
// Tests may only shorten it, and not below the floor: the environment is
// the client's, inherited from whoever started it, and a library reports a
// download over a slow link more often than that.
const DWORD kRecordSilenceMs = 10 * 60 * 1000;
const DWORD kRecordSilenceFloorMs = 5000;

DWORD RecordSilenceLimitMs()
{
    return static_cast<DWORD>(
        EnvironmentLimit(L"DAZUVUVEV_RECORD_SILENCE_MS", kRecordSilenceFloorMs, kRecordSilenceMs));
}

// The loaded network library's file, for the record that blames it.
std::wstring LibraryFileName()
{
    wchar_t szPath[MAX_PATH] = {};
    const HMODULE hLibrary = ::GetModuleHandleW(NUBRA_LIBRARY_NAME);
    if (!hLibrary || !::GetModuleFileNameW(hLibrary, szPath, MAX_PATH))
        return NUBRA_LIBRARY_NAME;
    return szPath;
}
}  // namespace

bool CUpgradeDlgDUI::ReadLibraryRecord(WPARAM wParam, DOWNLOAD_PROGRESS* pRecord) const
{
    // Any process of the session can post this message with any pointer: a
    // record is read only while our transfer runs and only when it is
    // readable memory. Its counts are the library's own business (it may
    // count the real file, whatever size was ordered): the display clamps
    // them, and the digest decides what the file is.
    return m_bDownloadRunning && CopyProgressRecord(reinterpret_cast<const void*>(wParam), pRecord);
}

void CUpgradeDlgDUI::StartRecordWatch()
{
    const DWORD dwLimitMs = RecordSilenceLimitMs();
    m_recordSilence.Start(AwakeTickMs(), dwLimitMs);
    SetTimer(TIMER_RECORD_SILENCE, dwLimitMs < 10000 ? dwLimitMs / 4 + 1 : 5000);
}

void CUpgradeDlgDUI::OnRecordSilenceTick()
{
    if (!m_bDownloadRunning) {
        KillTimer(TIMER_RECORD_SILENCE);
        return;
    }
    // After a final record, the wait for its file decides (UpgradeDlgChecks.cpp),
    // unless more of the transfer overtakes it.
    if (m_bFinalSeen || !m_recordSilence.IsSilent(AwakeTickMs()))
        return;
    KillTimer(TIMER_RECORD_SILENCE);
    m_bDownloadRunning = false;
    m_bDownloadEnded = true;
    m_bSilentEnd = true;
    LOG_ERROR(L"CUpgradeDlgDUI::OnRecordSilenceTick",
              L"the network library %s sent no record of progress for %lu s: the transfer is taken as ended, its "
              L"files are kept",
              LibraryFileName().c_str(), static_cast<unsigned long>(m_recordSilence.LimitMs() / 1000));
    // A library that never sends its final record may still have written the
    // whole file: its digest decides. Anything else (a file that does not
    // match yet, or one its library still writes) is a partial download.
    if (IsFilePresent(m_strTemp)) {
        const CheckAnswer answer = IsNewSetupFileExist();
        if (answer == CheckAnswer::Passed) {
            OnDownloadVerified();
            return;
        }
        if (answer == CheckAnswer::Against && m_setupCheckFailure == UpgradeResult::SignatureRefused) {
            OnDownloadChecked(answer);
            return;
        }
    }
    SweepAfterFailure(UpgradeResult::DownloadFailed,
                      KeptFilesText(L"the network library went silent before the setup was whole").c_str(), true);
}

LRESULT CUpgradeDlgDUI::OnDownloadProgress(WPARAM wParam)
{
    DOWNLOAD_PROGRESS record;
    if (!ReadLibraryRecord(wParam, &record)) {
        LOG_WARN(L"CUpgradeDlgDUI::WindowProc",
                 L"WM_MSG_DOWNLOAD ignored: no transfer of this order runs, or its record is unreadable, wParam=%x",
                 static_cast<unsigned>(wParam));
        return 1;
    }
    // Only a record that shows the transfer moving keeps it alive.
    const bool bMoved = m_recordSilence.OnRecord(record, m_nTotalSize, AwakeTickMs());
    const DOWNLOAD_PROGRESS* const pRecord = &record;
    LOG_INFO(L"CUpgradeDlgDUI::WindowProc",
             L"Receive WM_MSG_DOWNLOAD, t->iState=%d, t->unFileSize=%d, t->unPosition=%d ", pRecord->iState,
             pRecord->unFileSize, pRecord->unPosition, pRecord->unReceived, pRecord->unExtra);
    m_clientNotices.OnTransferRecord(*pRecord, m_nTotalSize, ::GetTickCount64());
    if (pRecord->unPosition != 0)
        m_bResumedTransfer = true;

    switch (pRecord->iState) {
    case DOWNLOAD_STATE_PROGRESS: {
        if (m_bFinalSeen && bMoved)
            CancelFinalWait(L"more of the transfer came after its final record");
        // The first report switches from the waiting face to the download face.
        if (GetCtrlVisible(m_pLoadingAnimate)) {
            SetCtrlVisible(m_pLoadingStatic, false);
            SetCtrlVisible(m_pLoadingAnimate, false);
            SetCtrlVisible(m_pUpgradeForm, true);
        }
        if (pRecord->unFileSize == 0 && pRecord->unPosition == 0)
            break;
        ShowSpeed(pRecord->dSpeed >= 0 && pRecord->dSpeed < 1e12 ? static_cast<float>(pRecord->dSpeed) : 0.0f);
        ShowProgress(DownloadFraction(m_nTotalSize, pRecord->unFileSize, pRecord->unReceived));
        break;
    }
    case DOWNLOAD_STATE_FINISHED:
        LogTransferEnd(*pRecord);
        // Anyone can post a final record: the transfer stays watched until
        // its file is there and let go of (UpgradeDlgChecks.cpp), and more
        // of the transfer overtakes it.
        if (m_bFinalSeen)
            break;
        m_bFinalSeen = true;
        m_bOverPending = PostMessage(WM_MSG_DOWNLOAD_OVER) != FALSE;
        break;
    case DOWNLOAD_STATE_NET_FAILED:
    case DOWNLOAD_STATE_FILE_FAILED:
        LogTransferEnd(*pRecord);
        if (m_bFinalSeen)
            CancelFinalWait(L"a failure record came after the final record");
        m_bDownloadRunning = false;
        m_iFailState = pRecord->iState;
        m_bFailPending = PostMessage(WM_MSG_DOWNLOAD_FAIL) != FALSE;
        break;
    default:
        break;
    }
    return 1;
}

void CUpgradeDlgDUI::CancelFinalWait(LPCWSTR pszWhy)
{
    LOG_WARN(L"CUpgradeDlgDUI::OnDownloadProgress", L"%s: it was not the transfer's end, the transfer is watched on",
             pszWhy);
    m_bFinalSeen = false;
    m_bDownloadEnded = false;
    if (m_checkFor == CheckFor::Download) {
        KillTimer(TIMER_CHECK);
        m_checkFor = CheckFor::None;
    }
    if (m_settle == Settle::Over) {
        KillTimer(TIMER_SETTLE);
        m_settle = Settle::None;
    }
    m_setupLock.Release();
}

void CUpgradeDlgDUI::LogTransferEnd(const DOWNLOAD_PROGRESS& record)
{
    const TRANSFER_FIGURES figures = TransferFiguresOf(record, m_ullDownloadStartTick, ::GetTickCount64());
    LOG_AT(IsTransferSuccess(figures) ? LOGLEVEL_INFO : LOGLEVEL_ERROR, L"CUpgradeDlgDUI::OnDownloadProgress", L"%s",
           TransferSummaryText(figures).c_str());
}

bool CUpgradeDlgDUI::SweepWithRetry(bool bKeepOrderDownload)
{
    // A scanner or the client may hold a file for a moment.
    const int kAttempts = 3;
    const DWORD kPauseMs = 150;
    for (int nAttempt = 1;; ++nAttempt) {
        if (DeleteFileExpireEx(bKeepOrderDownload))
            return true;
        if (nAttempt == kAttempts)
            return false;
        ::Sleep(kPauseMs);
    }
}

void CUpgradeDlgDUI::SweepAfterFailure(UpgradeResult result, LPCWSTR pszEndReason, bool bKeepOrderDownload)
{
    SetClearFlags(SweepWithRetry(bKeepOrderDownload) ? kFlagFalse : kFlagTrue);
    GiveFailureNotice(result == UpgradeResult::SignatureRefused ? Notice::SignatureRefused : Notice::DownloadFailed,
                      result, pszEndReason);
}

std::wstring CUpgradeDlgDUI::KeptFilesText(LPCWSTR pszWhat) const
{
    return std::wstring(pszWhat) + (IsAnyOwnSetupFileLeft(m_strTemp) ? L"; its partial file is kept for a resume, older setups were swept"
                                          : L"; nothing of it was received, older setups were swept");
}

LRESULT CUpgradeDlgDUI::OnDownloadOver()
{
    // Only the one we posted ourselves: a foreign one would sweep a setup
    // that is still downloading, or clear "over".
    if (!m_bOverPending || !m_bUpgradeDirReady) {
        LOG_WARN(L"CUpgradeDlgDUI::WindowProc", L"WM_MSG_DOWNLOAD_OVER not posted by this window ignored");
        return 1;
    }
    m_bOverPending = false;
    if (!m_bFinalSeen)
        return 1;  // overtaken by more of the transfer meanwhile
    m_bDownloadEnded = true;
    // The fixed pause before the setup is verified and handed over: the
    // library closes the file first.
    m_settle = Settle::Over;
    SetTimer(TIMER_SETTLE, kSettleDelayMs);
    return 1;
}

void CUpgradeDlgDUI::OnSettleTick()
{
    KillTimer(TIMER_SETTLE);
    const Settle settle = m_settle;
    m_settle = Settle::None;
    if (m_bEnded)
        return;
    if (settle == Settle::Over && m_bFinalSeen)
        BeginCheck(CheckFor::Download);
    else if (settle == Settle::Fail)
        OnFailSettled();
}

void CUpgradeDlgDUI::OnDownloadChecked(CheckAnswer answer)
{
    m_bDownloadRunning = false;
    if (answer == CheckAnswer::Passed) {
        OnDownloadVerified();
        return;
    }
    if (m_setupCheckFailure == UpgradeResult::SignatureRefused) {
        if (m_bKeepRefusedSetup)
            GiveFailureNotice(Notice::SignatureRefused, UpgradeResult::SignatureRefused,
                              L"the configured publisher pin cannot be applied; the setup is kept and not started");
        else
            SweepAfterFailure(UpgradeResult::SignatureRefused,
                              L"the downloaded setup's signature was refused and the setup swept");
        return;
    }
    if (m_bSilentEnd) {
        // Perhaps only part of the file: kept for the next order to resume.
        SweepAfterFailure(UpgradeResult::DownloadFailed,
                          KeptFilesText(L"the network library went silent before the setup was whole").c_str(), true);
        return;
    }
    LOG_ERROR(L"CUpgradeDlgDUI::OnDownloadOver", L"the downloaded setup's digest %s does not match the order's digest %s",
              m_strLocalDigest.empty() ? L"(none)" : m_strLocalDigest.c_str(), m_stComm.szMD5);
    if (m_bResumedTransfer && !m_bRefetched && RefetchWholeSetup())
        return;
    SweepAfterFailure(UpgradeResult::DigestMismatch, L"the downloaded setup failed its check and was swept");
}

bool CUpgradeDlgDUI::RefetchWholeSetup()
{
    // A resumed file joins bytes of two fetches; the part kept from before
    // may be another build's. One whole fetch settles it.
    m_bRefetched = true;
    if (!SweepWithRetry(false)) {
        LOG_ERROR(L"CUpgradeDlgDUI::OnDownloadOver", L"the resumed setup cannot be swept for a whole fetch");
        return false;
    }
    LOG_WARN(L"CUpgradeDlgDUI::OnDownloadOver",
             L"the setup was resumed from a partial download and does not match: it is fetched once more, whole");
    StartTransfer();
    return true;
}

void CUpgradeDlgDUI::OnDownloadVerified()
{
    m_bDownloadRunning = false;
    LOG_INFO(L"CUpgradeDlgDUI::OnDownloadOver", L"download verified, window hidden");
    ShowWindow(SW_HIDE);  // m_bHidden keeps what the user chose
    SetOverFlags(kOverFlagsDone);
    if (m_bHold) {
        LOG_INFO(L"CUpgradeDlgDUI::OnDownloadOver", L"the client holds the installation: waiting for it to exit");
        StartWaitForClientExit();
        m_clientNotices.NotifyReady();
    } else if (m_bPrompting) {
        // The open prompt of the client's command decides.
        LOG_INFO(L"CUpgradeDlgDUI::OnDownloadOver", L"the open upgrade prompt decides");
    } else if (m_bHidden) {
        // Nobody watched: the next order finds the finished download.
        ExistMainThread(UpgradeResult::Hidden, L"download verified while hidden; the setup waits for the next order");
    } else {
        ExistMainThread(RunSetup(), L"download verified while the user watched");
    }
}

LRESULT CUpgradeDlgDUI::OnDownloadFail()
{
    if (!m_bFailPending || !m_bUpgradeDirReady) {
        LOG_WARN(L"CUpgradeDlgDUI::WindowProc", L"WM_MSG_DOWNLOAD_FAIL not posted by this window ignored");
        return 1;
    }
    m_bFailPending = false;
    // A loss of the network that caused the failure is reported meanwhile.
    m_settle = Settle::Fail;
    SetTimer(TIMER_SETTLE, kSettleDelayMs);
    return 1;
}

void CUpgradeDlgDUI::OnFailSettled()
{
    if (!g_bNetAlive) {
        LOG_WARN(L"CUpgradeDlgDUI::OnDownloadFail", L"download failed with the network lost; the partial file is kept");
        return;  // the pending network message ends the upgrade
    }
    m_bDownloadEnded = true;
    // Whatever failed, the order's partial download stays for the next
    // order to resume; only a digest or a validator proves it wrong.
    SweepAfterFailure(UpgradeResult::DownloadFailed,
                      KeptFilesText(m_iFailState == DOWNLOAD_STATE_NET_FAILED ? L"the download failed"
                                                                                : L"the download failed writing its file")
                          .c_str(),
                      true);
}

LRESULT CUpgradeDlgDUI::OnNetBreak()
{
    // The network watch clears the flag before it posts; with the flag still
    // set the message came from elsewhere.
    if (g_bNetAlive) {
        LOG_WARN(L"CUpgradeDlgDUI::WindowProc", L"WM_MSG_NET_BREAK without a lost network ignored");
        return 1;
    }
    if (m_bDownloadEnded) {
        LOG_INFO(L"CUpgradeDlgDUI::OnNetBreak", L"network lost after the download had ended: nothing to do");
        return 1;
    }
    GiveFailureNotice(Notice::NetworkLost, UpgradeResult::NetworkLost,
                      L"the network was lost; the partial download is kept for a resume");
    return 1;
}
