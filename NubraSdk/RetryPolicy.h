// Which failures of a transfer are tried again within the same call, and
// after what pause.
//
// A reset connection (a laptop changing networks, a proxy timing out), a
// time-out, a stall below the floor (TransferFloor.h), a busy server (5xx)
// and a server that timed the request out (408) are passing troubles: the
// transfer tries again, up to kMaxRetries times, pausing 1, 2 and 4 s, each
// time resuming from the bytes already on disk. A server that asks to be
// left alone (429) is tried again only when its Retry-After asks for
// kMaxRetryAfterSeconds or less; no answer that asks for longer is tried
// again. Anything else (a refused or malformed answer, a missing file, a
// full disk) fails at once.
//
// Tests shorten the pauses with NUBRA_RETRY_PAUSE_MS (the first pause, 100 to
// 1000 ms; the others double it) and the number of retries with
// NUBRA_RETRY_LIMIT (0 to 3); neither is ever raised. A normal download
// needs no retry, and a pause shorter than the floor would only hammer a
// server that has just failed.
#pragma once

#include <windows.h>

#include <string>

namespace nubra {

constexpr int kMaxRetries = 3;
constexpr DWORD kFirstRetryPauseMs = 1000;
constexpr DWORD kFirstRetryPauseFloorMs = 100;
constexpr LONGLONG kMaxRetryAfterSeconds = 60;

int RetryLimit();
DWORD FirstRetryPauseMs();

// How an attempt failed, as far as trying again is concerned.
enum class FailureKind {
    Reset,    // the connection broke, or closed before the announced end
    Timeout,  // connect, headers or a read took too long
    Stall,    // bytes came, but fewer than the floor
    Deadline, // the whole call ran out of time; not tried again
    Status,   // the server answered with an error status
    Refused,  // the answer is malformed or contradicts the order
    Local,    // the local file could not be written
    Other     // anything else of the network
};

struct CAttemptFailure {
    FailureKind kind = FailureKind::Other;
    DWORD dwError = 0;                  // Windows or WinINet code
    DWORD dwStatus = 0;                 // HTTP status, 0 when none came
    LONGLONG llRetryAfterSeconds = -1;  // the answer's Retry-After, -1 when none
};

// The kind of a failed WinINet call's error code.
FailureKind KindOfError(DWORD dwError);

// The code a failed WinINet call reports, in WinINet's terms: under Wine a
// read reports a reset connection with the socket's own code.
DWORD InternetErrorOf(DWORD dwError);

bool IsRetryable(const CAttemptFailure& failure);

// Why a failure is not tried again, for the record that ends the transfer
// (support reads why no retry came); nullptr for a failure that is.
LPCWSTR WhyNotRetried(const CAttemptFailure& failure);

// The pause before retry nRetry (1 for the first), given the first pause,
// and at least what the server asked for.
DWORD RetryPauseMs(int nRetry, DWORD dwFirstPauseMs, LONGLONG llRetryAfterSeconds);

// Seconds a Retry-After value asks for: delta-seconds, or an HTTP date
// counted from strNow (the answer's Date, or the local clock's time in the
// same form when the answer has none). -1 when there is no usable value.
LONGLONG RetryAfterSeconds(const std::wstring& strValue, const std::wstring& strNow);

}  // namespace nubra
