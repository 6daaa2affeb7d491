// The least a running transfer must receive, and the figures of its other
// time limits.
//
// Per-call time-outs alone let a server hold a transfer for ever: one byte
// every few seconds satisfies every read, and headers sent slowly satisfy
// every receive. So a transfer also has a floor: fewer than kFloorBytes in
// one period of kFloorPeriodMs ends it as a stall (state 3 once its retries
// are spent), and the answer's headers must arrive within the connect
// time-out (HttpQuery.h). Its bytes stay on disk for a resume.
//
// A body just above the floor would still hold a large file for weeks, so
// the whole call, retries included, also has a deadline: two hours, or
// longer for a file that needs longer at 4 KB/s. When it passes the transfer
// fails and keeps its bytes for a resume.
//
// Tests shorten the period with NUBRA_FLOOR_PERIOD_MS (100 to 60000) and the
// deadline with NUBRA_TRANSFER_DEADLINE_MS (100 up to its figure); neither
// is ever lengthened.
#pragma once

#include <windows.h>

namespace nubra {

constexpr ULONGLONG kFloorBytes = 1024;
constexpr DWORD kFloorPeriodMs = 60000;

DWORD FloorPeriodMs();

constexpr ULONGLONG kMinDeadlineMs = 2 * 60 * 60 * 1000;
constexpr ULONGLONG kDeadlinePaceBytes = 4 * 1024;  // a second

// The deadline of a call for a file of the ordered size (<= 0: unknown).
ULONGLONG TransferDeadlineMs(LONGLONG llOrdered);

// Judges a transfer's pace in consecutive periods: the bytes of each period
// that has run its length must reach the floor.
class CTransferFloor {
public:
    CTransferFloor(ULONGLONG ullNowMs, ULONGLONG ullReceived, DWORD dwPeriodMs, ULONGLONG ullFloorBytes)
        : m_ullStartMs(ullNowMs), m_ullStartBytes(ullReceived), m_dwPeriodMs(dwPeriodMs), m_ullFloorBytes(ullFloorBytes)
    {
    }

    // ullReceived counts every byte so far. False when the period that has
    // just run out brought fewer than the floor; PeriodBytes() and
    // PeriodMs() then tell what it did bring.
    bool Check(ULONGLONG ullNowMs, ULONGLONG ullReceived);

    ULONGLONG PeriodBytes() const { return m_ullPeriodBytes; }
    ULONGLONG PeriodMs() const { return m_ullPeriodMs; }
    ULONGLONG FloorBytes() const { return m_ullFloorBytes; }
    DWORD FloorMs() const { return m_dwPeriodMs; }

private:
    ULONGLONG m_ullStartMs;
    ULONGLONG m_ullStartBytes;
    DWORD m_dwPeriodMs;
    ULONGLONG m_ullFloorBytes;
    ULONGLONG m_ullPeriodBytes = 0;
    ULONGLONG m_ullPeriodMs = 0;
};

}  // namespace nubra
