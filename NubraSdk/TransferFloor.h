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
// Both are measured in time the machine was awake (win/AwakeClock.h): a
// laptop that sleeps through the night wakes to a transfer that goes on,
// not to one that has run out its deadline or stalled while nothing could
// arrive.
//
// Tests shorten the period with NUBRA_FLOOR_PERIOD_MS (1.5 to 60 s) and the
// deadline with NUBRA_TRANSFER_DEADLINE_MS (down to 3 s, or to the ordered
// size at 64 KiB/s when that takes longer, so that a normal download over a
// slow link still ends in time); neither is ever lengthened.
#pragma once

#include <windows.h>

#include "win/AwakeClock.h"

namespace nubra {

constexpr ULONGLONG kFloorBytes = 1024;
constexpr DWORD kFloorPeriodMs = 60000;
constexpr DWORD kFloorPeriodFloorMs = 1500;

DWORD FloorPeriodMs();

constexpr ULONGLONG kMinDeadlineMs = 2 * 60 * 60 * 1000;
constexpr ULONGLONG kDeadlinePaceBytes = 4 * 1024;  // a second
constexpr ULONGLONG kDeadlineFloorMs = 3000;
constexpr ULONGLONG kDeadlineFloorPaceBytes = 64 * 1024;  // a second: a slow link

// The deadline of a call for a file of the ordered size (<= 0: unknown).
ULONGLONG TransferDeadlineMs(LONGLONG llOrdered);

// A time limit that runs on a clock of milliseconds (AwakeTickMs, or a test's).
class CTransferDeadline {
public:
    typedef ULONGLONG (*PFN_CLOCK)();
    explicit CTransferDeadline(PFN_CLOCK pfnClock = &AwakeTickMs) : m_pfnClock(pfnClock) {}
    void Start(ULONGLONG ullLengthMs);
    ULONGLONG LengthMs() const { return m_ullLengthMs; }
    // What is left, in ms (0 once it has passed), below INFINITE.
    DWORD MsLeft() const;

private:
    PFN_CLOCK m_pfnClock;
    ULONGLONG m_ullEndMs = 0;
    ULONGLONG m_ullLengthMs = 0;
};

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
