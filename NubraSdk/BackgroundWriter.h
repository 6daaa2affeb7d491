// Writes a transfer's blocks to its file on a second thread, so that the
// network is read while the previous block goes to disk.
//
// One block is in flight at a time: the transfer fills one buffer while the
// writer empties the other, so memory stays two buffers whatever the file's
// size. The transfer learns of a failed write at its next hand-over or
// Finish(), and then stops.
//
// Not started, it writes in place; the transfer uses it that way, because
// the thread cost more than it saved where cores are few (see Receive).
#pragma once

#include <windows.h>

#include "win/Handles.h"

namespace nubra {

class CBackgroundWriter {
public:
    explicit CBackgroundWriter(HANDLE hFile) : m_hFile(hFile) {}
    ~CBackgroundWriter();
    CBackgroundWriter(const CBackgroundWriter&) = delete;
    CBackgroundWriter& operator=(const CBackgroundWriter&) = delete;

    // False when no thread could be started; Write then writes in place.
    bool Start();
    // Waits for the block before, then hands this one over. The bytes must
    // stay untouched until the next Write or Finish returns. False when a
    // write failed (this block is not written then).
    bool Write(const BYTE* p, DWORD cb);
    // Waits until every handed-over byte is written; false when one failed.
    bool Finish();
    DWORD Error() const { return m_dwError; }

private:
    static DWORD WINAPI ThreadProc(void* pParam);
    bool WriteNow(const BYTE* p, DWORD cb);

    HANDLE m_hFile;
    CKernelHandle m_hThread;
    CKernelHandle m_hWork;  // auto-reset: a block (or the stop) is waiting
    CKernelHandle m_hIdle;  // manual-reset: no block is in flight
    const BYTE* m_pBlock = nullptr;
    DWORD m_cbBlock = 0;
    volatile bool m_bStop = false;
    // Written by the writer thread only while a block is in flight; read by
    // the transfer only after m_hIdle is set.
    bool m_bFailed = false;
    DWORD m_dwError = 0;
};

}  // namespace nubra
