// The upgrade window: the hidden dialog that the client addresses, the hub of
// the whole upgrade. Its member definitions are split by concern, one file
// UpgradeDlg<Concern>.cpp each:
//   UpgradeDlgDUI.cpp         creation, timers, clicks, showing, failure notices, quitting
//   UpgradeDlgNetWatch.cpp    the network watch thread
//   UpgradeDlgOrders.cpp      the client's order and commands
//   UpgradeDlgDownload.cpp    download progress, completion and failure
//   UpgradeDlgStateFile.cpp   the state file accessors
//   UpgradeDlgSetupFiles.cpp  upgrade folder, setup path, verification, sweep
//   UpgradeDlgHandoff.cpp     asking, closing the client, starting the setup
//   UpgradeDlgProgress.cpp    file name, version, speed, amount and bar
// and, without the window, named after what they decide: UpgradeProtocol.h
// (what the client sends), OrderRules (checks of an arriving order),
// LibraryRecord (which progress records come from the network library),
// StateFile (the upgrade folder and its state file), SetupNaming (the setup's
// name and digest match), SetupSweep (emptying the folder of setups),
// SetupFileLock (the verified setup held until it runs), SetupLaunch
// (starting exactly that file), ProgressFormat
// (number formats), TransferSummary (the record that closes a transfer),
// UpgradePrompts (the boxes), ClientNotices (what the client's window hears).
#pragma once

#include "afx/afxwin.h"
#include "ui/DUIDefs.h"
#include "upgrade/ClientNotices.h"
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
    bool PrepareForDownload();
    void StartDownload();
    LRESULT OnUpgradeCommand(WPARAM wParam, LPARAM lParam, bool* pbHandled);
    bool RunCleanUpStep();
    // An order is being handled, or its download has not ended yet.
    bool IsOrderBusy() const;

    // Download messages.
    LRESULT OnDownloadProgress(WPARAM wParam);
    // Copies the record of a WM_MSG_DOWNLOAD message into *pRecord; false
    // when it cannot come from this order's transfer (see LibraryRecord.h).
    bool ReadLibraryRecord(WPARAM wParam, DOWNLOAD_PROGRESS* pRecord) const;
    // The closing record of a transfer: status, error, bytes, time, speed.
    void LogTransferEnd(const DOWNLOAD_PROGRESS& record);
    // The watch on a library that stops reporting (see RecordSilenceLimitMs).
    void StartRecordWatch();
    void OnRecordSilenceTick();
    // The setup file is at least as long as the order says: whole, if wrong.
    bool IsOrderedSizeReached() const;
    LRESULT OnDownloadOver();
    LRESULT OnDownloadFail();
    LRESULT OnNetBreak();

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
    // The setup matches the order's digest (MD5 through the library and
    // again through the held file, or SHA-256 of its own) and its signature
    // is acceptable; it is held from then on. When false,
    // m_setupCheckFailure tells which check failed.
    bool IsNewSetupFileExist();
    // The held setup's Authenticode signature, judged with the pinned publisher.
    bool IsHeldSetupTrusted();
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
    // What the last failed IsNewSetupFileExist found: DigestMismatch or
    // SignatureRefused, and the digest it computed, for the error record.
    UpgradeResult m_setupCheckFailure = UpgradeResult::DigestMismatch;
    std::wstring m_strLocalDigest;
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
    // The last record of the transfer, and how long the library may be silent.
    ULONGLONG m_ullLastRecordTick = 0;
    DWORD m_dwRecordSilenceMs = 0;
    static constexpr UINT_PTR TIMER_RECORD_SILENCE = 2;
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
