// Delivery of DOWNLOAD_PROGRESS records to the caller's window.
//
// The window reads a record through the pointer in wParam while it handles the
// message, so the record must outlive the handling, yet the program never
// waits for a transfer and may exit with messages still queued. Records
// therefore go out with SendMessageCallbackW from a small fixed pool owned by
// the transfer: the system calls our callback on the worker thread (while it
// pumps its own queue) after the window procedure has returned, and only then
// is the slot reused. When no slot is free a progress report is skipped; one
// slot is always kept back for the final record. A window that never handles
// its messages therefore costs a few hundred bytes and never a deadlock.
//
// The slots themselves are a block of the library's one record array, which
// lies in a section of its own (netlib/DownloadRecord.h): the window checks
// that a record pointer names one of them before it reads anything.
#pragma once

#include <windows.h>

#include "netlib/DownloadRecord.h"

namespace nubra {

class CRecordPool {
public:
    CRecordPool(HWND hWnd, UINT uMsg);
    ~CRecordPool();
    CRecordPool(const CRecordPool&) = delete;
    CRecordPool& operator=(const CRecordPool&) = delete;

    // Sends a progress record if a slot other than the reserved one is free.
    bool SendProgress(const DOWNLOAD_PROGRESS& rec);
    // Sends the final record, waiting (and pumping) for a slot if needed.
    bool SendFinal(const DOWNLOAD_PROGRESS& rec);
    // Runs the callbacks of records the window has finished with.
    void Pump();
    // Waits up to dwTimeout ms until the window has handled every record.
    // False means some are still queued: the pool must then not be freed.
    bool WaitAllReleased(DWORD dwTimeout);

    int BusyCount() const;

private:
    static constexpr int kSlots = 4;
    bool SendInSlot(const DOWNLOAD_PROGRESS& rec, int nKeepFree);
    static void CALLBACK OnHandled(HWND, UINT, ULONG_PTR dwData, LRESULT);

    HWND m_hWnd;
    UINT m_uMsg;
    // A block of the shared array; with every block taken (only when more
    // than a dozen transfers run at once) records of the pool's own, which
    // the upgrade window would not accept.
    int m_nBlock = -1;
    DOWNLOAD_PROGRESS* m_pRecords = nullptr;
    DOWNLOAD_PROGRESS m_aOwnRecords[kSlots] = {};
    // Touched only on the worker thread: the callback runs there too.
    bool m_abBusy[kSlots] = {};
};

}  // namespace nubra
