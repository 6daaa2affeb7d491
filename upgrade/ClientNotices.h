// What the client hears while the upgrade happens: progress, a held setup
// ready for the install command, how the run ended, why a later order was
// not taken, and the request to close itself before the setup starts,
// posted as the registered messages of the client header to the window an
// order names in its wParam. Posted and never sent, so that a client that
// has stopped taking messages cannot hold the companion; and only to a
// window of another process of our session, so that an order cannot aim
// them anywhere else. A window handle can be reused once its window is
// gone, so each post first checks that the window still belongs to the
// process that owned it when it was named. An order without a window, or
// with one that does not qualify, hears nothing, as older clients always
// did. No window of ours is involved.
#pragma once

#include <windows.h>

#include "include/DazuvuVevUpgradeClient.h"
#include "netlib/DownloadRecord.h"
#include "upgrade/UpgradeResult.h"

// Whether hWnd may be told: a window of our session that does not belong to
// dwOwnProcessId (the companion itself has nobody to tell).
bool IsNoticeWindow(HWND hWnd, DWORD dwOwnProcessId);

// Whether hWnd still exists and belongs to dwNamedProcessId, the process
// that owned it when it was named.
bool IsSameNoticeWindow(HWND hWnd, DWORD dwNamedProcessId);

// 0 to 100 of the whole setup that a progress record shows as on disk;
// nLastPercent when the record carries no amounts (both fields 0). A
// finished transfer is 100.
int TransferPercent(const DOWNLOAD_PROGRESS& record, int nTotalSize, int nLastPercent);

// Four progress notices a second at most, but every change of the
// transfer's state is told at once.
const ULONGLONG kProgressNoticeGapMs = 250;
bool IsProgressNoticeDue(int nState, int nPercent, int nLastState, int nLastPercent, ULONGLONG ullNow,
                         ULONGLONG ullLastNotice);

class CClientNotices {
public:
    // The sender window of an order that is being taken; a null or
    // unqualified one stops the notices.
    void SetClientWindow(HWND hWnd);
    // The sender window of the same order again while it runs. The notices
    // follow it when it belongs to the process whose window hears them now,
    // or when that window is gone or there is none; the new window then
    // hears at once how far the download is. False when they stay.
    bool FollowClient(HWND hWnd);
    // The sender window of an order that was not taken while another ran
    // hears why; where the running order's notices go does not change.
    static void TellRefused(HWND hWnd, UpgradeRefusal refusal);
    // Every record of the running transfer.
    void OnTransferRecord(const DOWNLOAD_PROGRESS& record, int nTotalSize, ULONGLONG ullNow);
    // The setup is verified, held, and waits for the install command.
    void NotifyReady();
    // Once per run, from any thread: the run's end, after the state file
    // has it, so that a client reading the file on this notice finds it.
    static void NotifyOutcome(UpgradeResult result);
    // Asks the client to close itself; the companion waits dwWaitMs before
    // it ends the client (UPGRADE_CLOSE_WAIT_MS is what the header names).
    // True when the request was posted to a window that still belongs to
    // its process.
    static bool AskClientToClose(DWORD dwWaitMs);
    // The process of the window that hears the notices; 0 when there is
    // none or it is gone.
    static DWORD ClientProcessId();

private:
    int m_nLastState = 0;
    int m_nLastPercent = -1;
    ULONGLONG m_ullLastNotice = 0;
};
