// Retries within one transfer (see RetryPolicy.h).
#include "NubraSdk/RetryPolicy.h"

#include <wininet.h>

#include "NubraSdk/EnvSetting.h"
#include "NubraSdk/HttpQuery.h"

namespace nubra {

namespace {

// Looks like "Sun, 06 Nov 1994 08:49:37 GMT" (or an older form with a time
// and "GMT"): the system's reader makes a date of almost any text.
bool LooksLikeHttpDate(const std::wstring& strDate)
{
    const size_t nColon = strDate.find(L':');
    return strDate.size() >= 20 && strDate.size() <= 64 && strDate.compare(strDate.size() - 3, 3, L"GMT") == 0 &&
           nColon != std::wstring::npos && strDate.find(L':', nColon + 1) != std::wstring::npos;
}

bool SecondsOfHttpDate(const std::wstring& strDate, LONGLONG& llSeconds)
{
    SYSTEMTIME st = {};
    FILETIME ft = {};
    if (!LooksLikeHttpDate(strDate) || !::InternetTimeToSystemTimeW(strDate.c_str(), &st, 0) ||
        !::SystemTimeToFileTime(&st, &ft))
        return false;
    llSeconds = static_cast<LONGLONG>((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) / 10000000);
    return true;
}

}  // namespace

int RetryLimit()
{
    return static_cast<int>(EnvironmentLimit(L"NUBRA_RETRY_LIMIT", 0, kMaxRetries));
}

DWORD FirstRetryPauseMs()
{
    return static_cast<DWORD>(EnvironmentLimit(L"NUBRA_RETRY_PAUSE_MS", kFirstRetryPauseFloorMs, kFirstRetryPauseMs));
}

FailureKind KindOfError(DWORD dwError)
{
    switch (dwError) {
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case WSAECONNRESET:
    case WSAECONNABORTED:
        return FailureKind::Reset;
    case ERROR_INTERNET_TIMEOUT:
        return FailureKind::Timeout;
    default:
        return FailureKind::Other;
    }
}

DWORD InternetErrorOf(DWORD dwError)
{
    switch (dwError) {
    case WSAECONNRESET:
        return ERROR_INTERNET_CONNECTION_RESET;
    case WSAECONNABORTED:
        return ERROR_INTERNET_CONNECTION_ABORTED;
    case WSAETIMEDOUT:
        return ERROR_INTERNET_TIMEOUT;
    default:
        return dwError;
    }
}

bool IsRetryable(const CAttemptFailure& failure)
{
    // A server that asks for a longer pause than a run waits is not asked again.
    if (failure.llRetryAfterSeconds > kMaxRetryAfterSeconds)
        return false;
    switch (failure.kind) {
    case FailureKind::Reset:
    case FailureKind::Timeout:
    case FailureKind::Stall:
        return true;
    case FailureKind::Status:
        if (failure.dwStatus == 429)
            return failure.llRetryAfterSeconds >= 0;
        return failure.dwStatus == 408 || (failure.dwStatus >= 500 && failure.dwStatus <= 599);
    default:
        return false;
    }
}

LPCWSTR WhyNotRetried(const CAttemptFailure& failure)
{
    if (IsRetryable(failure))
        return nullptr;
    if (failure.llRetryAfterSeconds > kMaxRetryAfterSeconds)
        return L"the server asks for a longer pause than a transfer waits";
    switch (failure.kind) {
    case FailureKind::Status:
        return failure.dwStatus == 429 ? L"the server asks to be left alone without saying for how long"
                                       : L"the server's answer is final";
    case FailureKind::Deadline:
        return L"the call ran out its deadline";
    case FailureKind::Refused:
        return L"the answer is malformed or contradicts the order";
    case FailureKind::Local:
        return L"the local file cannot be written";
    default:
        return L"only a broken, timed-out or stalled connection and a busy server are tried again";
    }
}

DWORD RetryPauseMs(int nRetry, DWORD dwFirstPauseMs, LONGLONG llRetryAfterSeconds)
{
    const int nDoublings = nRetry < 1 ? 0 : (nRetry > kMaxRetries ? kMaxRetries - 1 : nRetry - 1);
    DWORD dwPause = dwFirstPauseMs << nDoublings;
    if (llRetryAfterSeconds > 0 && llRetryAfterSeconds <= kMaxRetryAfterSeconds &&
        static_cast<DWORD>(llRetryAfterSeconds) * 1000 > dwPause)
        dwPause = static_cast<DWORD>(llRetryAfterSeconds) * 1000;
    return dwPause;
}

LONGLONG RetryAfterSeconds(const std::wstring& strValue, const std::wstring& strNow)
{
    LONGLONG llSeconds = -1;
    if (ParseLength(strValue, llSeconds))
        return llSeconds;
    LONGLONG llThen = 0, llNow = 0;
    if (!SecondsOfHttpDate(strValue, llThen) || !SecondsOfHttpDate(strNow, llNow))
        return -1;
    return llThen > llNow ? llThen - llNow : 0;
}

}  // namespace nubra
