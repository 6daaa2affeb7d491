// What the client hears while the upgrade happens: progress, a held setup
// ready for the install command, and how the run ended, posted as the
// registered messages of the client header to the window an order names in
// its wParam. Posted and never sent, so that a client that has stopped
// taking messages cannot hold the companion; and only to a window of
// another process of our session, so that an order cannot aim them
// anywhere else. An order without a window, or with one that does not
// qualify, hears nothing, as older clients always did. No window of ours
// is involved.
#pragma once

#include <windows.h>

#include "netlib/DownloadRecord.h"
#include "upgrade/UpgradeResult.h"

// Whether hWnd may be told: a window of our session that does not belong to
// dwOwnProcessId (the companion itself has nobody to tell).
bool IsNoticeWindow(HWND hWnd, DWORD dwOwnProcessId);

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
    // Every record of the running transfer.
    void OnTransferRecord(const DOWNLOAD_PROGRESS& record, int nTotalSize, ULONGLONG ullNow);
    // The setup is verified, held, and waits for the install command.
    void NotifyReady();
    // Once per run, from any thread: the run's end, after the state file
    // has it, so that a client reading the file on this notice finds it.
    static void NotifyOutcome(UpgradeResult result);

private:
    int m_nLastState = 0;
    int m_nLastPercent = -1;
    ULONGLONG m_ullLastNotice = 0;
};
