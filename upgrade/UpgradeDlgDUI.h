// The upgrade window: the hidden dialog that the client addresses, the hub of
// the whole upgrade. Its member definitions are split by concern, one file
// UpgradeDlg<Concern>.cpp each:
//   UpgradeDlgDUI.cpp         creation, timers, clicks, showing, failure notices, quitting
//   UpgradeDlgNetWatch.cpp    the network watch thread
//   UpgradeDlgOrders.cpp      the client's order and commands
//   UpgradeDlgDownload.cpp    download progress, completion and failure
//   UpgradeDlgStateFile.cpp   the state file accessors
//   UpgradeDlgSetupFiles.cpp  upgrade folder, setup path, verification, sweep
//   UpgradeDlgChecks.cpp      checks that could not be made, tried again from a timer
//   UpgradeDlgHandoff.cpp     asking, closing the client, starting the setup
//   UpgradeDlgProgress.cpp    file name, version, speed, amount and bar
// and, without the window, named after what they decide: UpgradeProtocol.h
// (what the client sends), OrderRules (checks of an arriving order),
// LibraryRecord (which progress records come from the network library),
// StateFile (the upgrade folder and its state file), SetupNaming (the setup's
// name and digest match), SetupSweep (emptying the folder of setups),
// SetupFileLock (the verified setup held until it runs), SetupLaunch
// (starting exactly that file), SetupCheck (the three answers of a check),
// RecordSilence (a library that stops reporting), ProgressFormat
// (number formats), TransferSummary (the record that closes a transfer),
// UpgradePrompts (the boxes), ClientNotices (what the client's window hears).
#pragma once

#include "afx/afxwin.h"
#include "ui/DUIDefs.h"
#include "upgrade/ClientNotices.h"
#include "upgrade/RecordSilence.h"
#include "upgrade/SetupCheck.h"
#include "upgrade/SetupFileLock.h"
#include "upgrade/UpgradeProtocol.h"
#include "upgrade/UpgradeResult.h"
#include "win/Handles.h"

#include <string>

// Written by the network watch thread, read by the download-failed handler.
extern volatile bool g_bNetAlive;
// True while the install prompt is on screen; the network watch stays quiet then.
extern volatile bool g_bInstallPrompting;

#include "netlib/DownloadRecord.h"

// What the network watch thread is given: the event it waits on and this
// run's own window, the only one it reports to. Kept in the window object,
// which outlives the thread.
struct NET_WATCH_TARGET {
    HANDLE hTrackEvent;
    HWND hWnd;
};

class CUpgradeDlgDUI : public CDialog {
public:
    CUpgradeDlgDUI();
    ~CUpgradeDlgDUI() override;

    // Ends the message loop once the current handler has returned. The
    // result and its reason go to the log first, and the result to the state
    // file, so that the client and a log show how every run ended; the first
    // end of a run is the one recorded.
    void ExistMainThread(UpgradeResult result, LPCWSTR pszReason);
    static DWORD WINAPI NetThread(LPVOID lpParameter);

protected:
    BOOL OnInitDialog() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    int OnCreate(LPCREATESTRUCT lpCreateStruct);
    LRESULT OnCtrlClick(WPARAM wParam, LPARAM lParam);
    void OnTimer(UINT_PTR nIDEvent);
    BOOL OnCopyData(CWnd* pWnd, PCOPYDATASTRUCT pCopyDataStruct);

    DECLARE_MESSAGE_MAP()

private:
    // Showing and hiding; pszBy names what asked for it, for the log.
    void ShowUpgradeWindow(LPCWSTR pszBy);
    // Every close of the shown window (its close button, Alt+F4, WM_CLOSE,
    // the taskbar) only takes it off the screen.
    void HideByUser(LPCWSTR pszBy);
    void OnOK() override;
    void OnCancel() override;
    void HideAfterError();
    enum class Notice { DownloadFailed, NetworkLost, SignatureRefused };
    // What the user sees of a failure: a shown window goes away and the box
    // tells what went wrong; a hidden upgrade fails without a word. With a
    // reason the upgrade then ends with that result.
    void GiveFailureNotice(Notice notice, UpgradeResult result, LPCWSTR pszEndReason);
    void StartWaitForClientExit();

    // The client's commands and the order. An order is received (false when
    // its record is malformed or a running download keeps it out), checked
    // (false, and the upgrade ends, when a field is unusable), prepared for
    // (false when what is already in the folder settles it) and downloaded.
    bool ReceiveOrder(const COPYDATASTRUCT& cds, int nMode, UPGRADE_COMM& stOrder);
    bool IsOrderUsable();
    // Goes on with an accepted order once the state file can be read.
    void ContinueOrder();
    bool PrepareForDownload();
    // What a check of the setup found ready for this version means for the
    // order; true when it is to be downloaded (again).
    bool OnReadySetupChecked(CheckAnswer answer);
    // The interactive prompt, then the transfer.
    void StartDownload();
    void StartTransfer();
    LRESULT OnUpgradeCommand(WPARAM wParam, LPARAM lParam, bool* pbHandled);
    // The clean-up step: false, with the failure notice given and the run
    // ended, only when this order's own files could not go and had to.
    bool RunCleanUpStep(bool bKeepOrderDownload);
    // The sweep, tried again briefly when a file is in use.
    bool SweepWithRetry(bool bKeepOrderDownload);
    // An order is being handled, waits for a check, or its download has not ended yet.
    bool IsOrderBusy() const;
    // Marks the handling of an accepted order, which a modal prompt may hold
    // open while further orders arrive.
    class CBusyOrder {
    public:
        explicit CBusyOrder(bool& bFlag) : m_bFlag(bFlag) { m_bFlag = true; }
        ~CBusyOrder() { m_bFlag = false; }
        CBusyOrder(const CBusyOrder&) = delete;
        CBusyOrder& operator=(const CBusyOrder&) = delete;

    private:
        bool& m_bFlag;
    };

    // Download messages.
    LRESULT OnDownloadProgress(WPARAM wParam);
    // Copies the record of a WM_MSG_DOWNLOAD message into *pRecord; false
    // when it cannot come from this order's transfer (see LibraryRecord.h).
    bool ReadLibraryRecord(WPARAM wParam, DOWNLOAD_PROGRESS* pRecord) const;
    // The closing record of a transfer: status, error, bytes, time, speed.
    void LogTransferEnd(const DOWNLOAD_PROGRESS& record);
    // The watch on a library that stops reporting (see RecordSilence.h).
    void StartRecordWatch();
    void OnRecordSilenceTick();
    LRESULT OnDownloadOver();
    LRESULT OnDownloadFail();
    // The fixed pause after the transfer's end, on a timer: the library
    // closes its file, the network watch reports a loss that caused a failure.
    void OnSettleTick();
    void OnFailSettled();
    // A final record was followed by more of the transfer: it was not the end.
    void CancelFinalWait(LPCWSTR pszWhy);
    // What the downloaded setup's check found.
    void OnDownloadChecked(CheckAnswer answer);
    void OnDownloadVerified();
    // A resumed file that does not match is fetched once more from byte 0.
    bool RefetchWholeSetup();
    // Why a failed transfer's files are kept, or that nothing was received.
    std::wstring KeptFilesText(LPCWSTR pszWhat) const;
    LRESULT OnNetBreak();

    // Checks that could not be made (UpgradeDlgChecks.cpp): tried again
    // from a timer within the patience's bound while the window goes on
    // handling the client; see SetupCheck.h.
    enum class CheckFor {
        None,
        StateFile,   // an order waits for the state file to be readable
        ReadySetup,  // an order found its version's setup ready
        Download,    // the transfer's final record came
    };
    void BeginCheck(CheckFor what);
    void OnCheckTick();
    // One attempt of the check that is waited for.
    CheckAnswer TryCheck(CheckFor what);
    // The downloaded setup, once its final record came: there, let go of
    // by whoever wrote it, and verified.
    CheckAnswer CheckDownloadedSetup();
    void GiveUpCheck(CheckFor what);

    // State file.
    bool IsDownloadOver();
    void SetOverFlags(LPCWSTR pszValue);
    bool IsNeedClear();
    void SetClearFlags(LPCWSTR pszValue);
    bool IsSameVersion();
    void SaveSetupPath();

    // Upgrade folder and setup file.
    bool InitUpgradeDir();
    bool MakeCurrentSetupPath();
    // Whether the setup matches the order's digest (MD5 through the library
    // beside the hold, or SHA-256 of its own) and its signature is
    // acceptable; it is held from then on when it passed. Against:
    // m_setupCheckFailure tells which check found it, m_bKeepRefusedSetup
    // whether the file stays all the same. CouldNot: m_strCheckWhy says why.
    CheckAnswer IsNewSetupFileExist();
    CheckAnswer DigestHeldSetup();
    // The held setup's Authenticode signature, judged with the pinned publisher.
    CheckAnswer JudgeHeldSetup();
    // With bKeepOrderDownload the order's own setup and partial download stay.
    bool DeleteFileExpireEx(bool bKeepOrderDownload = false);

    // Hand-off.
    // Each returns how the hand-off ended, for the caller's end of the run.
    UpgradeResult UpdateProcesses();
    UpgradeResult AskAndInstall(bool bSingle);
    UpgradeResult RunSetup();
    // Starts the setup held since its verification (verifying it first when
    // nothing is held or the held file changed); a setup that does not
    // verify is swept like a broken download instead (DigestMismatch); one
    // whose path leads elsewhere by the time it starts is not started
    // (Refused, see SetupLaunch.h). A run starts its setup once: a later
    // request is a logged no-op.
    UpgradeResult StartSetup(bool bCloseClient);
    // A failed or broken download: the folder is swept (or marked for the
    // next order's sweep) and the failure notice given; see GiveFailureNotice.
    void SweepAfterFailure(UpgradeResult result, LPCWSTR pszEndReason, bool bKeepOrderDownload = false);

    // Progress display.
    void InitProgressText(int nTotalSize, LPCWSTR pszVersion, LPCWSTR pszFileName);
    void ShowSpeed(float fSpeed);
    void ShowProgress(float fFraction);

    // Signalled by the network library when the network changes; the watch
    // thread waits on it until the application has ended that thread.
    CKernelHandle m_trackEvent;
    NET_WATCH_TARGET m_netWatch = {};
    IDirectUI* m_pDirectUI = nullptr;
    DUI_CTRLBASE* m_pLoadingStatic = nullptr;
    DUI_CTRLBASE* m_pLoadingAnimate = nullptr;
    DUI_CTRLBASE* m_pUpgradeForm = nullptr;
    DUI_CTRLBASE* m_pCloseBtn = nullptr;
    DUI_CTRLBASE* m_pCancelDownload = nullptr;
    DUI_CTRLBASE* m_pFileNameStatic = nullptr;
    DUI_CTRLBASE* m_pVersionStatic = nullptr;
    DUI_CTRLBASE* m_pSpeedStatic = nullptr;
    DUI_CTRLBASE* m_pAlreadyloadStatic = nullptr;
    DUI_CTRLBASE* m_pDownloadProgress = nullptr;

    int m_nTotalSize = 0;
    wchar_t m_szUpgradeDir[MAX_PATH] = {};
    wchar_t m_szIniPath[MAX_PATH] = {};
    std::wstring m_strTemp;
    // m_strTemp held open since it verified; see SetupFileLock.h.
    CSetupFileLock m_setupLock;
    // What the last IsNewSetupFileExist found against the setup:
    // DigestMismatch or SignatureRefused, whether the file is kept all the
    // same (a configured pin that cannot be applied), the digest it computed
    // for the error record, and why a check could not be made.
    UpgradeResult m_setupCheckFailure = UpgradeResult::DigestMismatch;
    bool m_bKeepRefusedSetup = false;
    std::wstring m_strLocalDigest;
    std::wstring m_strCheckWhy;
    // The check that waits, since when, and the timer that tries it again.
    CheckFor m_checkFor = CheckFor::None;
    CCheckPatience m_checkPatience;
    static constexpr UINT_PTR TIMER_CHECK = 3;
    // The fixed pause after the transfer's end, and which end it follows.
    enum class Settle { None, Over, Fail };
    Settle m_settle = Settle::None;
    static constexpr UINT_PTR TIMER_SETTLE = 4;
    UPGRADE_COMM m_stComm = {};
    int m_nTopMostCount = 0;
    bool m_bHidden = true;
    bool m_bDownloadEnded = false;
    bool m_bPrompting = false;
    bool m_bHold = false;
    bool m_bSetupReady = false;
    int m_nMode = 0;
    // When this run's transfer was started, for its time and mean speed.
    ULONGLONG m_ullDownloadStartTick = 0;
    CRecordSilence m_recordSilence;
    static constexpr UINT_PTR TIMER_RECORD_SILENCE = 2;
    // A final record came and has not been overtaken by more of the transfer.
    bool m_bFinalSeen = false;
    // The transfer continued a partial download; a mismatch then costs one
    // more whole fetch before the run gives up.
    bool m_bResumedTransfer = false;
    bool m_bRefetched = false;
    // The client's install command came while the order's check waited.
    bool m_bInstallAsked = false;
    // The state of the failed transfer's final record.
    int m_iFailState = 0;
    // The transfer was taken as ended because its library went silent.
    bool m_bSilentEnd = false;
    // The order's sender window, told of progress, a ready setup and the end.
    CClientNotices m_clientNotices;

    // What keeps foreign or repeated messages from steering the upgrade.
    bool m_bUpgradeDirReady = false;  // InitUpgradeDir succeeded
    bool m_bInOrder = false;          // an accepted order is being handled
    bool m_bDownloadRunning = false;  // started, its final record not yet seen
    bool m_bOverPending = false;      // we posted WM_MSG_DOWNLOAD_OVER
    bool m_bFailPending = false;      // we posted WM_MSG_DOWNLOAD_FAIL
    bool m_bSetupStarted = false;     // this run has started its setup
    bool m_bEnded = false;            // ExistMainThread has recorded the result
};

// Terminates the first running process of that executable name (any letter
// case) in this process's session: on a shared machine another user's
// client is not ours to close. True when one was terminated. The session
// lookup can be replaced for tests.
bool KillProcessByName(LPCWSTR pszName, bool (*pfnSessionOf)(DWORD dwPid, DWORD* pdwSession) = nullptr);
