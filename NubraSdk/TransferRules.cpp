// The rules of a transfer (see TransferRules.h).
#include "NubraSdk/TransferRules.h"

#include <wininet.h>

#include <algorithm>
#include <vector>

#include "NubraSdk/EnvSetting.h"
#include "netlib/DownloadRecord.h"

namespace nubra {

namespace {

// The time a file of the ordered size takes at a pace, or ullLeast when
// longer; sizes are cut at 2^50 bytes (no real file comes near) lest it overflow.
ULONGLONG AtPaceMs(LONGLONG llOrdered, ULONGLONG ullPaceBytes, ULONGLONG ullLeast)
{
    const ULONGLONG ullSize = static_cast<ULONGLONG>((std::min)((std::max)(llOrdered, 0LL), 1LL << 50));
    return (std::max)(ullSize * 1000 / ullPaceBytes, ullLeast);
}

// Looks like "Sun, 06 Nov 1994 08:49:37 GMT" (or an older form with a time
// and "GMT"): the system's reader makes a date of almost any text.
bool SecondsOfHttpDate(const std::wstring& strDate, LONGLONG& llSeconds)
{
    const size_t nColon = strDate.find(L':');
    SYSTEMTIME st = {};
    FILETIME ft = {};
    if (strDate.size() < 20 || strDate.size() > 64 || strDate.compare(strDate.size() - 3, 3, L"GMT") != 0 ||
        nColon == std::wstring::npos || strDate.find(L':', nColon + 1) == std::wstring::npos ||
        !::InternetTimeToSystemTimeW(strDate.c_str(), &st, 0) || !::SystemTimeToFileTime(&st, &ft))
        return false;
    llSeconds = static_cast<LONGLONG>((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) / 10000000);
    return true;
}

// The address's scheme, and whether it names a host; for text that is no
// address, INTERNET_SCHEME_PARTIAL, which no whole address has.
INTERNET_SCHEME SchemeOf(const std::wstring& strUrl, bool* pbHost = nullptr)
{
    URL_COMPONENTSW uc = {};
    uc.dwStructSize = sizeof(uc);
    uc.dwHostNameLength = 1;
    const BOOL bCracked = ::InternetCrackUrlW(strUrl.c_str(), 0, 0, &uc);
    if (pbHost)
        *pbHost = bCracked && uc.lpszHostName && uc.dwHostNameLength;
    return bCracked ? uc.nScheme : INTERNET_SCHEME_PARTIAL;
}

}  // namespace

CTransferLimits TransferLimits(LONGLONG llOrdered)
{
    CTransferLimits limits;
    limits.dwConnectMs =
        static_cast<DWORD>(EnvironmentLimit(L"NUBRA_CONNECT_TIMEOUT_MS", kConnectTimeoutFloorMs, kConnectTimeoutMs));
    limits.dwFloorPeriodMs =
        static_cast<DWORD>(EnvironmentLimit(L"NUBRA_FLOOR_PERIOD_MS", kFloorPeriodFloorMs, kFloorPeriodMs));
    limits.dwReceiveMs = static_cast<DWORD>(EnvironmentLimit(L"NUBRA_RECEIVE_TIMEOUT_MS", kReceiveTimeoutFloorMs,
                                                             (std::min)(kReceiveTimeoutMs, limits.dwFloorPeriodMs)));
    limits.dwFirstPauseMs =
        static_cast<DWORD>(EnvironmentLimit(L"NUBRA_RETRY_PAUSE_MS", kFirstRetryPauseFloorMs, kFirstRetryPauseMs));
    limits.nRetries = static_cast<int>(EnvironmentLimit(L"NUBRA_RETRY_LIMIT", 0, kMaxRetries));
    limits.ullCapBytes = llOrdered > 0
                             ? kUnsizedCapBytes
                             : EnvironmentLimit(L"NUBRA_SIZE_CAP_BYTES", kUnsizedCapFloorBytes, kUnsizedCapBytes);
    limits.ullDeadlineMs = TransferDeadlineMs(llOrdered);
    return limits;
}

ULONGLONG TransferDeadlineMs(LONGLONG llOrdered)
{
    return EnvironmentLimit(L"NUBRA_TRANSFER_DEADLINE_MS",
                            AtPaceMs(llOrdered, kDeadlineFloorPaceBytes, kDeadlineFloorMs),
                            AtPaceMs(llOrdered, kDeadlinePaceBytes, kMinDeadlineMs));
}

DWORD InternetErrorOf(DWORD dwError)
{
    return dwError == WSAECONNRESET     ? ERROR_INTERNET_CONNECTION_RESET
           : dwError == WSAECONNABORTED ? ERROR_INTERNET_CONNECTION_ABORTED
           : dwError == WSAETIMEDOUT    ? ERROR_INTERNET_TIMEOUT
                                        : dwError;
}

FailureKind KindOfError(DWORD dwError)
{
    dwError = InternetErrorOf(dwError);
    if (dwError == ERROR_INTERNET_CONNECTION_RESET || dwError == ERROR_INTERNET_CONNECTION_ABORTED)
        return FailureKind::Reset;
    return dwError == ERROR_INTERNET_TIMEOUT ? FailureKind::Timeout : FailureKind::Other;
}

bool IsRetryable(const CAttemptFailure& failure)
{
    // A server that asks for a longer pause than a run waits is not asked again.
    if (failure.llRetryAfterSeconds > kMaxRetryAfterSeconds)
        return false;
    const DWORD dwStatus = failure.dwStatus;
    if (failure.kind == FailureKind::Status)
        return dwStatus == 429 ? failure.llRetryAfterSeconds >= 0 : dwStatus == 408 || (dwStatus / 100 == 5);
    return failure.kind == FailureKind::Reset || failure.kind == FailureKind::Timeout ||
           failure.kind == FailureKind::Stall;
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

BoundsVerdict BodyBounds(LONGLONG llOrdered, ULONGLONG ullOffset, LONGLONG llLength, LONGLONG llRangeTotal,
                         ULONGLONG ullCap, ULONGLONG& ullMaxBody, bool& bExact)
{
    // The sizes a file of this order may have.
    ULONGLONG ullLow = 0, ullHigh = ullCap;
    if (llOrdered > 0) {
        const ULONGLONG ullOrdered = static_cast<ULONGLONG>(llOrdered);
        if (ullOrdered > ullCap)
            return BoundsVerdict::BeyondCap;
        const ULONGLONG ullMargin = OrderedSizeMargin(ullOrdered);
        ullLow = ullOrdered > ullMargin ? ullOrdered - ullMargin : 0;
        ullHigh = ullOrdered + ullMargin;
    }
    ULONGLONG ullTotal = 0;
    bExact = true;
    if (llRangeTotal >= 0) {
        ullTotal = static_cast<ULONGLONG>(llRangeTotal);
    } else if (llLength >= 0) {
        ullTotal = ullOffset + static_cast<ULONGLONG>(llLength);
    } else {
        // A body without any size ends when the server closes; it may run to
        // the largest file the order allows.
        ullTotal = ullHigh;
        bExact = false;
    }
    if (bExact && ullTotal > ullHigh)
        return llOrdered > 0 ? BoundsVerdict::BeyondOrder : BoundsVerdict::BeyondCap;
    if (bExact && ullTotal < ullLow)
        return BoundsVerdict::BelowOrder;
    if (ullOffset > ullTotal)
        return BoundsVerdict::OffsetBeyondFile;
    ullMaxBody = ullTotal - ullOffset;
    // The announced length must be exactly the rest of the file.
    if (llLength >= 0 && static_cast<ULONGLONG>(llLength) != ullMaxBody)
        return BoundsVerdict::Inconsistent;
    return BoundsVerdict::Accepted;
}

bool IsRedirectStatus(DWORD dwStatus)
{
    return dwStatus == 301 || dwStatus == 302 || dwStatus == 303 || dwStatus == 307 || dwStatus == 308;
}

RedirectVerdict RedirectTarget(const std::wstring& strFrom, const std::wstring& strLocation, std::wstring& strTo)
{
    if (strLocation.empty() || strLocation.find_first_of(L"\r\n") != std::wstring::npos)
        return RedirectVerdict::Malformed;
    DWORD cch = 0;
    ::InternetCombineUrlW(strFrom.c_str(), strLocation.c_str(), nullptr, &cch, ICU_NO_ENCODE);
    if (cch == 0 || cch > 64 * 1024)
        return RedirectVerdict::Malformed;
    std::vector<wchar_t> buffer(cch + 1);
    cch = static_cast<DWORD>(buffer.size());
    if (!::InternetCombineUrlW(strFrom.c_str(), strLocation.c_str(), buffer.data(), &cch, ICU_NO_ENCODE))
        return RedirectVerdict::Malformed;
    const std::wstring strCombined(buffer.data());

    bool bHost = false;
    const INTERNET_SCHEME nScheme = SchemeOf(strCombined, &bHost);
    if (nScheme == INTERNET_SCHEME_PARTIAL)
        return RedirectVerdict::Malformed;
    if (nScheme != INTERNET_SCHEME_HTTP && nScheme != INTERNET_SCHEME_HTTPS)
        return RedirectVerdict::NotWeb;
    if (!bHost)
        return RedirectVerdict::Malformed;
    if (SchemeOf(strFrom) == INTERNET_SCHEME_HTTPS && nScheme != INTERNET_SCHEME_HTTPS)
        return RedirectVerdict::LeavesHttps;
    strTo = strCombined;
    return RedirectVerdict::Follow;
}

bool ParseLength(const std::wstring& strText, LONGLONG& llLength)
{
    if (strText.empty() || strText.size() > kMaxLengthDigits)
        return false;
    LONGLONG v = 0;
    for (wchar_t c : strText) {
        if (c < L'0' || c > L'9')
            return false;
        v = v * 10 + (c - L'0');
    }
    llLength = v;
    return true;
}

}  // namespace nubra
