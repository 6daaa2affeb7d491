// The rules of a transfer as figures and small pure functions: its limits
// in time and size, which failures are tried again and after what pause,
// how much an answer may deliver, where a redirect may lead, what a length
// is. The loop of Transfer.cpp asks them; none touches the network, and
// Download.h says what they promise the caller. Time runs on the awake
// clock (win/AwakeClock.h): a laptop that slept through the night wakes to
// a transfer that goes on. Tests may shorten the limits through the
// environment, never lengthen them nor below their floors (EnvSetting.h).
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>

#include "win/AwakeClock.h"

namespace nubra {

constexpr DWORD kConnectTimeoutMs = 15000, kConnectTimeoutFloorMs = 1500;
constexpr DWORD kReceiveTimeoutMs = 30000, kReceiveTimeoutFloorMs = 2000;
constexpr ULONGLONG kFloorBytes = 1024;
constexpr DWORD kFloorPeriodMs = 60000, kFloorPeriodFloorMs = 1500;
// 2 h or the ordered size at 4 KB/s; shortened, not below 3 s or the size at
// 64 KiB/s (a normal download over a slow link).
constexpr ULONGLONG kMinDeadlineMs = 2 * 60 * 60 * 1000;
constexpr ULONGLONG kDeadlinePaceBytes = 4 * 1024, kDeadlineFloorMs = 3000, kDeadlineFloorPaceBytes = 64 * 1024;
// Pauses of 1, 2 and 4 s: shorter ones would hammer a server that just failed.
constexpr int kMaxRetries = 3;
constexpr DWORD kFirstRetryPauseMs = 1000, kFirstRetryPauseFloorMs = 100;
constexpr LONGLONG kMaxRetryAfterSeconds = 60;
// The most a transfer without an ordered or announced size may fetch, and
// the largest size accepted at all: an order names no larger file.
constexpr ULONGLONG kUnsizedCapBytes = 0x7FFFFFFFull, kUnsizedCapFloorBytes = 256 * 1024;
constexpr int kMaxRedirects = 10;
// Lengths have at most this many digits: more would overflow 64 bits.
constexpr size_t kMaxLengthDigits = 18;

// The limits of one transfer, as NUBRA_CONNECT_TIMEOUT_MS, _RECEIVE_TIMEOUT_MS,
// _FLOOR_PERIOD_MS, _RETRY_PAUSE_MS, _RETRY_LIMIT, _TRANSFER_DEADLINE_MS and
// _SIZE_CAP_BYTES may have shortened them. The receive time-out is never
// longer than the floor's period; the size cap applies only without an
// ordered size, so that no value can refuse a normal upgrade.
struct CTransferLimits {
    DWORD dwConnectMs, dwReceiveMs, dwFloorPeriodMs, dwFirstPauseMs;
    int nRetries;
    ULONGLONG ullCapBytes, ullDeadlineMs;
};
CTransferLimits TransferLimits(LONGLONG llOrdered);
// The deadline of a call for a file of the ordered size (<= 0: unknown).
ULONGLONG TransferDeadlineMs(LONGLONG llOrdered);

// A time limit on a clock of milliseconds (AwakeTickMs, or a test's).
class CTransferDeadline {
public:
    typedef ULONGLONG (*PFN_CLOCK)();
    explicit CTransferDeadline(PFN_CLOCK pfnClock = &AwakeTickMs) : m_pfnClock(pfnClock) {}
    void Start(ULONGLONG ullLengthMs) { m_ullEndMs = m_pfnClock() + (m_ullLengthMs = ullLengthMs); }
    ULONGLONG LengthMs() const { return m_ullLengthMs; }
    // What is left, in ms (0 once it has passed), below INFINITE.
    DWORD MsLeft() const
    {
        const ULONGLONG ullNow = m_pfnClock();
        return ullNow >= m_ullEndMs ? 0 : static_cast<DWORD>((std::min)(m_ullEndMs - ullNow, ULONGLONG{INFINITE - 1}));
    }

private:
    PFN_CLOCK m_pfnClock;
    ULONGLONG m_ullEndMs = 0, m_ullLengthMs = 0;
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
    // just run out brought fewer than the floor (PeriodBytes in PeriodMs).
    bool Check(ULONGLONG ullNowMs, ULONGLONG ullReceived)
    {
        if (ullNowMs - m_ullStartMs < m_dwPeriodMs)
            return true;
        m_ullPeriodBytes = ullReceived - m_ullStartBytes;
        m_ullPeriodMs = ullNowMs - m_ullStartMs;
        m_ullStartMs = ullNowMs;
        m_ullStartBytes = ullReceived;
        return m_ullPeriodBytes >= m_ullFloorBytes;
    }
    ULONGLONG PeriodBytes() const { return m_ullPeriodBytes; }
    ULONGLONG PeriodMs() const { return m_ullPeriodMs; }
    ULONGLONG FloorBytes() const { return m_ullFloorBytes; }
    DWORD FloorMs() const { return m_dwPeriodMs; }

private:
    ULONGLONG m_ullStartMs, m_ullStartBytes;
    DWORD m_dwPeriodMs;
    ULONGLONG m_ullFloorBytes, m_ullPeriodBytes = 0, m_ullPeriodMs = 0;
};

// How an attempt failed, as far as trying again is concerned.
enum class FailureKind {
    Reset,     // the connection broke, or closed before the announced end
    Timeout,   // connect, headers or a read took too long
    Stall,     // bytes came, but fewer than the floor
    Deadline,  // the whole call ran out of time; not tried again
    Status,    // the server answered with an error status
    Refused,   // the answer is malformed or contradicts the order
    Local,     // the local file could not be written
    Other      // anything else of the network
};

struct CAttemptFailure {
    FailureKind kind = FailureKind::Other;
    DWORD dwError = 0;                  // Windows or WinINet code
    DWORD dwStatus = 0;                 // HTTP status, 0 when none came
    LONGLONG llRetryAfterSeconds = -1;  // the answer's Retry-After, -1 when none
};

// The kind of a failed WinINet call's error code.
FailureKind KindOfError(DWORD dwError);
// The code in WinINet's terms: under Wine a read reports a reset connection
// with the socket's own code.
DWORD InternetErrorOf(DWORD dwError);
bool IsRetryable(const CAttemptFailure& failure);
// Why a failure is not tried again, for the record that ends the transfer;
// nullptr for one that is.
LPCWSTR WhyNotRetried(const CAttemptFailure& failure);
// The pause before retry nRetry (1 for the first), and at least what the
// server asked for.
DWORD RetryPauseMs(int nRetry, DWORD dwFirstPauseMs, LONGLONG llRetryAfterSeconds);
// Seconds a Retry-After value asks for: delta-seconds, or an HTTP date counted
// from strNow (the answer's Date, or the local clock's in the same form). -1
// when there is no usable value.
LONGLONG RetryAfterSeconds(const std::wstring& strValue, const std::wstring& strNow);

// What BodyBounds found wrong with an answer.
enum class BoundsVerdict {
    Accepted,
    BeyondOrder,      // the announced file is longer than the order and its margin
    BelowOrder,       // the announced file is shorter than the order less its margin
    BeyondCap,        // announced or ordered beyond the cap
    Inconsistent,     // the length is not the rest of the announced total
    OffsetBeyondFile  // the range starts past the end of the file
};

// What the answer to a request from ullOffset may deliver, given the ordered
// size (<= 0: none), the announced body length and Content-Range total (-1:
// none). Unless Accepted, nothing of it may be kept; else ullMaxBody is the
// most it may deliver, and bExact whether fewer mean a broken transfer.
BoundsVerdict BodyBounds(LONGLONG llOrdered, ULONGLONG ullOffset, LONGLONG llLength, LONGLONG llRangeTotal,
                         ULONGLONG ullCap, ULONGLONG& ullMaxBody, bool& bExact);

// Why a redirect is not followed.
enum class RedirectVerdict {
    Follow,
    Malformed,   // no usable Location
    NotWeb,      // leads to something other than http or https
    LeavesHttps  // from https to plain http: the rest would travel unprotected
};
// Where a redirect's Location leads, resolved against the address that answered.
RedirectVerdict RedirectTarget(const std::wstring& strFrom, const std::wstring& strLocation, std::wstring& strTo);
bool IsRedirectStatus(DWORD dwStatus);

// A length as an answer states it: 1 to kMaxLengthDigits decimal digits.
bool ParseLength(const std::wstring& strText, LONGLONG& llLength);

}  // namespace nubra
