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
#include "upgrade/StateFile.h"

#include <cwchar>

namespace {
// Gives the library time to close the file, and the network watch time to
// report a loss that caused a failure, before the result is judged.
const DWORD kSettleDelayMs = 3000;
// A library that stops reporting must not hold the upgrade, and every later
// order, for ever: a transfer without any record for this long has ended.
// Tests may only shorten it.
const DWORD kRecordSilenceMs = 10 * 60 * 1000;
const wchar_t kRecordSilenceEnv[] = L"DAZUVUVEV_RECORD_SILENCE_MS";

DWORD RecordSilenceLimitMs()
{
    wchar_t sz[16] = {};
    const DWORD n = ::GetEnvironmentVariableW(kRecordSilenceEnv, sz, 16);
    const unsigned long ulMs = n > 0 && n < 16 ? std::wcstoul(sz, nullptr, 10) : 0;
    return ulMs >= 100 && ulMs < kRecordSilenceMs ? static_cast<DWORD>(ulMs) : kRecordSilenceMs;
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

bool IsFilePresent(const std::wstring& strPath)
{
    const DWORD dwAttributes = ::GetFileAttributesW(strPath.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}
}  // namespace

bool CUpgradeDlgDUI::IsOrderedSizeReached() const
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    const LONGLONG llOrdered = _wtoi64(m_stComm.szSize);
    if (llOrdered <= 0 || !::GetFileAttributesExW(m_strTemp.c_str(), GetFileExInfoStandard, &data))
        return false;
    return ((static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) >= llOrdered;
}

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
    m_dwRecordSilenceMs = RecordSilenceLimitMs();
    m_ullLastRecordTick = ::GetTickCount64();
    SetTimer(TIMER_RECORD_SILENCE, m_dwRecordSilenceMs < 10000 ? m_dwRecordSilenceMs / 4 + 1 : 5000);
}

void CUpgradeDlgDUI::OnRecordSilenceTick()
{
    if (!m_bDownloadRunning) {
        KillTimer(TIMER_RECORD_SILENCE);
        return;
    }
    if (::GetTickCount64() - m_ullLastRecordTick < m_dwRecordSilenceMs)
        return;
    KillTimer(TIMER_RECORD_SILENCE);
    m_bDownloadRunning = false;
    LOG_ERROR(L"CUpgradeDlgDUI::OnRecordSilenceTick",
              L"the network library %s sent no record for %lu s: the transfer is taken as ended, its files are kept",
              LibraryFileName().c_str(), m_dwRecordSilenceMs / 1000);
    // A library that never sends its final record may still have written the
    // whole file: its digest decides, as after a final record.
    if (IsFilePresent(m_strTemp)) {
        m_bSilentEnd = true;
        m_bOverPending = PostMessage(WM_MSG_DOWNLOAD_OVER) != FALSE;
        return;
    }
    m_bDownloadEnded = true;
    SweepAfterFailure(UpgradeResult::DownloadFailed,
                      L"the network library went silent; a partial download is kept for a resume, older setups were "
                      L"swept",
                      true);
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
    m_ullLastRecordTick = ::GetTickCount64();
    const DOWNLOAD_PROGRESS* const pRecord = &record;
    LOG_INFO(L"CUpgradeDlgDUI::WindowProc",
             L"Receive WM_MSG_DOWNLOAD, t->iState=%d, t->unFileSize=%d, t->unPosition=%d ", pRecord->iState,
             pRecord->unFileSize, pRecord->unPosition, pRecord->unReceived, pRecord->unExtra);
    m_clientNotices.OnTransferRecord(*pRecord, m_nTotalSize, ::GetTickCount64());

    switch (pRecord->iState) {
    case DOWNLOAD_STATE_PROGRESS: {
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
        m_bDownloadRunning = false;
        m_bOverPending = PostMessage(WM_MSG_DOWNLOAD_OVER) != FALSE;
        break;
    case DOWNLOAD_STATE_NET_FAILED:
    case DOWNLOAD_STATE_FILE_FAILED:
        LogTransferEnd(*pRecord);
        m_bDownloadRunning = false;
        m_iFailState = pRecord->iState;
        m_bFailPending = PostMessage(WM_MSG_DOWNLOAD_FAIL) != FALSE;
        break;
    default:
        break;
    }
    return 1;
}

void CUpgradeDlgDUI::LogTransferEnd(const DOWNLOAD_PROGRESS& record)
{
    const TRANSFER_FIGURES figures = TransferFiguresOf(record, m_ullDownloadStartTick, ::GetTickCount64());
    LOG_AT(IsTransferSuccess(figures) ? LOGLEVEL_INFO : LOGLEVEL_ERROR, L"CUpgradeDlgDUI::OnDownloadProgress", L"%s",
           TransferSummaryText(figures).c_str());
}

void CUpgradeDlgDUI::SweepAfterFailure(UpgradeResult result, LPCWSTR pszEndReason, bool bKeepOrderDownload)
{
    SetClearFlags(DeleteFileExpireEx(bKeepOrderDownload) ? kFlagFalse : kFlagTrue);
    GiveFailureNotice(result == UpgradeResult::SignatureRefused ? Notice::SignatureRefused : Notice::DownloadFailed,
                      result, pszEndReason);
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
    m_bDownloadEnded = true;
    // The fixed pause before the setup is verified and handed over: the
    // library closes the file first.
    ::Sleep(kSettleDelayMs);

    // No file is no broken file: nothing was downloaded that could be swept.
    if (!IsFilePresent(m_strTemp)) {
        LOG_ERROR(L"CUpgradeDlgDUI::OnDownloadOver", L"the transfer's end left no file( %s )", m_strTemp.c_str());
        GiveFailureNotice(Notice::DownloadFailed, UpgradeResult::DownloadFailed, L"the transfer's end left no file");
        return 1;
    }
    if (!IsNewSetupFileExist()) {
        if (m_setupCheckFailure == UpgradeResult::SignatureRefused) {
            SweepAfterFailure(UpgradeResult::SignatureRefused,
                              L"the downloaded setup's signature was refused and the setup swept");
        } else if (m_bSilentEnd && !IsOrderedSizeReached()) {
            // Perhaps only part of the file: kept for the next order to resume.
            SweepAfterFailure(UpgradeResult::DownloadFailed,
                              L"the network library went silent before the setup was complete; its files are kept",
                              true);
        } else {
            LOG_ERROR(L"CUpgradeDlgDUI::OnDownloadOver",
                      L"the downloaded setup's digest %s does not match the order's digest %s",
                      m_strLocalDigest.empty() ? L"(none)" : m_strLocalDigest.c_str(), m_stComm.szMD5);
            SweepAfterFailure(UpgradeResult::DigestMismatch, L"the downloaded setup failed its check and was swept");
        }
        return 1;
    }

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
    return 1;
}

LRESULT CUpgradeDlgDUI::OnDownloadFail()
{
    if (!m_bFailPending || !m_bUpgradeDirReady) {
        LOG_WARN(L"CUpgradeDlgDUI::WindowProc", L"WM_MSG_DOWNLOAD_FAIL not posted by this window ignored");
        return 1;
    }
    m_bFailPending = false;
    // A loss of the network that caused the failure is reported meanwhile.
    ::Sleep(kSettleDelayMs);
    if (!g_bNetAlive) {
        LOG_WARN(L"CUpgradeDlgDUI::OnDownloadFail", L"download failed with the network lost; the partial file is kept");
        return 1;  // the pending network message ends the upgrade
    }
    m_bDownloadEnded = true;
    // A transfer that failed on the network is resumed by the next order.
    if (m_iFailState == DOWNLOAD_STATE_NET_FAILED)
        SweepAfterFailure(UpgradeResult::DownloadFailed,
                          L"the download failed; its partial file is kept for a resume, older setups were swept", true);
    else
        SweepAfterFailure(UpgradeResult::DownloadFailed, L"the download failed and its files were swept");
    return 1;
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
