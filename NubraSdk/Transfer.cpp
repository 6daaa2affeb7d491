// The loop of a transfer (see Transfer.h): its requests, the body into the
// partial file, its retries and its records.
#include "NubraSdk/Transfer.h"

#include <algorithm>
#include <cstdarg>

#include "NubraSdk/LibraryLog.h"
#include "NubraSdk/PartFileAccess.h"
#include "NubraSdk/PartialFile.h"

namespace nubra {

const wchar_t kTransferLogFunction[] = L"Nubra_SDK::Transfer";

// What WinINet tells of a request from its threads: a call it took over has
// completed, and last, the handle is gone. The transfer and the handle share
// it; the last to let go frees it.
struct CRequestNotices {
    CKernelHandle hDone{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    CKernelHandle hGone{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    DWORD dwError = ERROR_SUCCESS;
    volatile LONG lRefs = 2;
    void Release()
    {
        if (::InterlockedDecrement(&lRefs) == 0)
            delete this;
    }
};

namespace {

// Reads bring at most this much: memory stays this size whatever the file.
constexpr DWORD kBufferBytes = 1024 * 1024;
// At most four progress records a second; one a second while held up.
constexpr DWORD kReportPeriodMs = 250, kHeldUpMs = 1000;
// A body that came fast (half a mebibyte within 25 ms) and then brings less
// in a second has slowed down: a record tells why a download took long.
constexpr ULONGLONG kPaceBytes = 512 * 1024, kFastPaceMs = 25, kSlowPaceMs = 1000;
// How long a finished transfer waits for WinINet to let go of a closed
// request: under Wine closing does not cut short a call that a server draws
// out, which then ends by its own time-outs.
constexpr DWORD kLetGoMs = 10 * 60 * 1000;

void CALLBACK OnStatus(HINTERNET, DWORD_PTR dwContext, DWORD dwStatus, LPVOID pvInfo, DWORD)
{
    auto* pNotices = reinterpret_cast<CRequestNotices*>(dwContext);
    if (pNotices && dwStatus == INTERNET_STATUS_REQUEST_COMPLETE) {
        const auto* pResult = static_cast<const INTERNET_ASYNC_RESULT*>(pvInfo);
        pNotices->dwError =
            pResult->dwResult ? ERROR_SUCCESS : (pResult->dwError ? pResult->dwError : ERROR_INTERNET_INTERNAL_ERROR);
        ::SetEvent(pNotices->hDone.Get());
    } else if (pNotices && dwStatus == INTERNET_STATUS_HANDLE_CLOSING) {
        ::SetEvent(pNotices->hGone.Get());
        pNotices->Release();
    }
}

// Set on every handle level (some WinINet builds read them only from the
// request's or connection's); a level that refuses keeps what it inherited.
void SetHandleTimeouts(HINTERNET h, const CTransferLimits& limits)
{
    DWORD dwMs = limits.dwConnectMs;
    ::InternetSetOptionW(h, INTERNET_OPTION_CONNECT_TIMEOUT, &dwMs, sizeof(dwMs));
    ::InternetSetOptionW(h, INTERNET_OPTION_SEND_TIMEOUT, &dwMs, sizeof(dwMs));
    dwMs = limits.dwReceiveMs;
    ::InternetSetOptionW(h, INTERNET_OPTION_RECEIVE_TIMEOUT, &dwMs, sizeof(dwMs));
    ::InternetSetOptionW(h, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &dwMs, sizeof(dwMs));
}

// A header of the answer; empty when missing or too long.
std::wstring QueryHeader(HINTERNET hRequest, DWORD dwInfo)
{
    wchar_t sz[4096] = {};  // room for a long signed redirect address
    DWORD cb = sizeof(sz) - sizeof(wchar_t);
    return ::HttpQueryInfoW(hRequest, dwInfo, sz, &cb, nullptr) ? sz : L"";
}

// The local clock's time as an answer's Date header would give it.
std::wstring HttpDateNow()
{
    SYSTEMTIME st = {};
    ::GetSystemTime(&st);
    wchar_t sz[INTERNET_RFC1123_BUFSIZE + 1] = {};
    return ::InternetTimeFromSystemTimeW(&st, INTERNET_RFC1123_FORMAT, sz, sizeof(sz) - sizeof(wchar_t)) ? sz : L"";
}

bool Fail(CAttemptFailure& failure, FailureKind kind, DWORD dwError)
{
    failure.kind = kind;
    failure.dwError = dwError;
    return false;
}

bool Refuse(CAttemptFailure& failure, DWORD dwError, LPCWSTR pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    LibraryLogV(kLogError, kTransferLogFunction, L"refused answer: ", pszFormat, args);
    va_end(args);
    return Fail(failure, FailureKind::Refused, dwError);
}

bool FailStall(const CTransferFloor& floor, CAttemptFailure& failure)
{
    LibraryLog(kLogWarning, kTransferLogFunction,
               L"stall: %llu bytes in %llu ms, below the floor of %llu bytes in %lu ms", floor.PeriodBytes(),
               floor.PeriodMs(), floor.FloorBytes(), floor.FloorMs());
    return Fail(failure, FailureKind::Stall, ERROR_INTERNET_TIMEOUT);
}

std::wstring ReasonText(const CAttemptFailure& failure)
{
    wchar_t sz[160] = {};
    const FailureKind kind = failure.kind;
    LPCWSTR pszWhat = kind == FailureKind::Reset     ? L"connection reset"
                      : kind == FailureKind::Timeout ? L"time-out"
                      : kind == FailureKind::Stall   ? L"a stall below the floor"
                                                     : nullptr;
    if (kind == FailureKind::Status && failure.llRetryAfterSeconds >= 0)
        _snwprintf(sz, 159, L"HTTP status %lu with Retry-After %lld s", failure.dwStatus, failure.llRetryAfterSeconds);
    else if (kind == FailureKind::Status)
        _snwprintf(sz, 159, L"HTTP status %lu", failure.dwStatus);
    else if (pszWhat)
        _snwprintf(sz, 159, L"%s (error %lu)", pszWhat, failure.dwError);
    else
        _snwprintf(sz, 159, L"error %lu", failure.dwError);
    return sz;
}

}  // namespace

// A request, on a connection of its own, and the notices of its calls.
class CRequest {
public:
    CRequest() = default;
    ~CRequest() { Close(0, nullptr); }
    CRequest(const CRequest&) = delete;
    CRequest& operator=(const CRequest&) = delete;
    HINTERNET Get() const { return m_h; }
    DWORD_PTR Context() const { return reinterpret_cast<DWORD_PTR>(m_pNotices); }

    bool Open(HINTERNET hSession, const URL_COMPONENTSW& uc, const CDownloadRequest& req, const CTransferLimits& limits)
    {
        const std::wstring strHost(uc.lpszHostName, uc.dwHostNameLength);
        std::wstring strPath = uc.lpszUrlPath ? std::wstring(uc.lpszUrlPath, uc.dwUrlPathLength) : L"";
        strPath += uc.lpszExtraInfo ? std::wstring(uc.lpszExtraInfo, uc.dwExtraInfoLength) : L"";
        m_hConnect.Reset(
            ::InternetConnectW(hSession, strHost.c_str(), uc.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
        if (!m_hConnect)
            return false;
        SetHandleTimeouts(m_hConnect.Get(), limits);
        if (!req.proxy.strServer.empty() && !req.proxy.strUser.empty()) {
            // Not checked: credentials that do not take effect show up as the
            // proxy's 407, which the request reports.
            ::InternetSetOptionW(m_hConnect.Get(), INTERNET_OPTION_PROXY_USERNAME,
                                 const_cast<wchar_t*>(req.proxy.strUser.c_str()),
                                 static_cast<DWORD>(req.proxy.strUser.size()));
            ::InternetSetOptionW(m_hConnect.Get(), INTERNET_OPTION_PROXY_PASSWORD,
                                 const_cast<wchar_t*>(req.proxy.strPassword.c_str()),
                                 static_cast<DWORD>(req.proxy.strPassword.size()));
        }
        LPCWSTR apszAccept[] = {L"*/*", nullptr};
        // Redirects are followed by the transfer, not by WinINet, which would
        // follow a loop for ever and to any scheme.
        const DWORD dwFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                              INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_KEEP_CONNECTION |
                              INTERNET_FLAG_NO_AUTO_REDIRECT |
                              (uc.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0);
        auto* pNotices = new CRequestNotices;
        if (pNotices->hDone && pNotices->hGone)
            m_h = ::HttpOpenRequestW(m_hConnect.Get(), L"GET", strPath.empty() ? L"/" : strPath.c_str(), nullptr,
                                     nullptr, apszAccept, dwFlags, reinterpret_cast<DWORD_PTR>(pNotices));
        if (!m_h) {
            delete pNotices;
            return false;
        }
        m_pNotices = pNotices;
        SetHandleTimeouts(m_h, limits);
        return true;
    }

    // The outcome of a call that WinINet took over (ERROR_IO_PENDING): its
    // error, or WAIT_TIMEOUT while WinINet still has it after dwWaitMs.
    DWORD Await(DWORD dwWaitMs)
    {
        return ::WaitForSingleObject(m_pNotices->hDone.Get(), dwWaitMs) == WAIT_OBJECT_0 ? m_pNotices->dwError
                                                                                         : WAIT_TIMEOUT;
    }

    // Closes the handle and waits up to dwWaitMs until WinINet has let go of
    // it; its notices go to pLeft when it has not.
    void Close(DWORD dwWaitMs, std::vector<CRequestNotices*>* pLeft)
    {
        if (!m_h)
            return;
        ::InternetCloseHandle(m_h);
        m_h = nullptr;
        m_hConnect.Reset();
        if (::WaitForSingleObject(m_pNotices->hGone.Get(), dwWaitMs) == WAIT_OBJECT_0 || !pLeft)
            m_pNotices->Release();
        else
            pLeft->push_back(m_pNotices);
        m_pNotices = nullptr;
    }

private:
    CInetHandle m_hConnect;
    HINTERNET m_h = nullptr;
    CRequestNotices* m_pNotices = nullptr;
};

CTransfer::~CTransfer()
{
    for (CRequestNotices* pNotices : m_left) {
        ::WaitForSingleObject(pNotices->hGone.Get(), kLetGoMs);
        pNotices->Release();
    }
}

// Counted from the bytes on disk when the call began, whatever the retries
// did, so that the window's "total - unFileSize + unReceived" is what is on
// disk now; only a resume that starts over moves that start back to zero.
DOWNLOAD_PROGRESS CTransfer::Record(int32_t iState) const
{
    DOWNLOAD_PROGRESS rec = {};
    rec.iState = iState;
    // Until a server announces the size, the order's is the best guess; the
    // window ignores records whose size and position are both zero.
    const ULONGLONG ullTotal = m_ullTotal ? m_ullTotal : static_cast<ULONGLONG>((std::max)(m_req.llExpectedSize, 0LL));
    const ULONGLONG ullPos = m_ullOffset + m_ullReceived, ullMax = 0xFFFFFFFFull;
    rec.unFileSize = static_cast<uint32_t>((std::min)(ullTotal > m_ullRunStart ? ullTotal - m_ullRunStart : 0, ullMax));
    rec.unPosition = static_cast<uint32_t>((std::min)(m_ullRunStart, ullMax));
    rec.unReceived = static_cast<uint32_t>((std::min)(ullPos > m_ullRunStart ? ullPos - m_ullRunStart : 0, ullMax));
    rec.unExtra = m_dwStatus;
    rec.dSpeed = m_dSpeed;
    memcpy(rec.abLibrary + DOWNLOAD_RECORD_ERROR_OFFSET, &m_dwError, sizeof(DWORD));
    return rec;
}

void CTransfer::Report(bool bForce)
{
    const ULONGLONG ullNow = AwakeTickMs();
    if (!bForce && ullNow - m_ullLastReportTick < kReportPeriodMs)
        return;
    const ULONGLONG ullPos = m_ullOffset + m_ullReceived;
    if (m_ullLastReportTick && ullNow > m_ullLastReportTick && ullPos >= m_ullLastReportPos) {
        const double dInstant = static_cast<double>(ullPos - m_ullLastReportPos) * 1000.0 /
                                static_cast<double>(ullNow - m_ullLastReportTick) / 1024.0;
        // Smoothed so that the display does not jitter with every read.
        m_dSpeed = m_dSpeed == 0 ? dInstant : 0.7 * m_dSpeed + 0.3 * dInstant;
    }
    m_ullLastReportTick = ullNow;
    m_ullLastReportPos = ullPos;
    m_pool.SendProgress(Record(DOWNLOAD_STATE_PROGRESS));
}

// The request for strUrl; true once its answer's headers are in.
bool CTransfer::Send(CRequest& request, const std::wstring& strUrl, CAttemptFailure& failure)
{
    URL_COMPONENTSW uc = {};
    uc.dwStructSize = sizeof(uc);
    uc.dwHostNameLength = uc.dwUrlPathLength = uc.dwExtraInfoLength = 1;  // pointers into the address
    if (!::InternetCrackUrlW(strUrl.c_str(), 0, 0, &uc) || !uc.lpszHostName || !uc.dwHostNameLength)
        return Fail(failure, FailureKind::Other, ERROR_INTERNET_INVALID_URL);
    if (uc.nScheme != INTERNET_SCHEME_HTTP && uc.nScheme != INTERNET_SCHEME_HTTPS)
        return Fail(failure, FailureKind::Other, ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    if (!request.Open(m_hSession.Get(), uc, m_req, m_limits))
        return Fail(failure, FailureKind::Other, ::GetLastError());
    // The server sends the whole file instead of the range when its copy is
    // no longer the one our bytes came from.
    const std::wstring strHeaders =
        m_ullOffset ? L"Range: bytes=" + std::to_wstring(m_ullOffset) + L"-\r\nIf-Range: " + m_strValidator + L"\r\n"
                    : L"";
    const DWORD dwPatienceMs = (std::min)(m_limits.dwConnectMs, MsLeft());
    DWORD dwError = ::HttpSendRequestW(request.Get(), strHeaders.empty() ? nullptr : strHeaders.c_str(),
                                       static_cast<DWORD>(strHeaders.size()), nullptr, 0)
                        ? ERROR_SUCCESS
                        : ::GetLastError();
    if (dwError == ERROR_IO_PENDING && (dwError = request.Await(dwPatienceMs)) == WAIT_TIMEOUT) {
        LibraryLog(kLogWarning, kTransferLogFunction, L"no answer's headers within %lu ms of the request",
                   dwPatienceMs);
        request.Close(0, &m_left);  // no byte of a body can be in it
        return Fail(failure, FailureKind::Timeout, ERROR_INTERNET_TIMEOUT);
    }
    dwError = InternetErrorOf(dwError);
    if (dwError != ERROR_SUCCESS)
        return Fail(failure, KindOfError(dwError), dwError);
    DWORD cb = sizeof(m_dwStatus);
    if (!::HttpQueryInfoW(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &m_dwStatus, &cb, nullptr))
        m_dwStatus = 0;
    return true;
}

// The request for what is still missing, through the proxy's challenge and
// the redirects, to an answer that brings it; other answers are not read.
bool CTransfer::OpenResponse(CRequest& request, CAttemptFailure& failure)
{
    std::wstring strUrl = m_req.strUrl;
    int nAuthRetries = 0, nRestarts = 0, nRedirects = 0;
    for (;; request.Close(0, &m_left)) {
        if (!MsLeft())
            return Fail(failure, FailureKind::Deadline, ERROR_INTERNET_TIMEOUT);
        if (!Send(request, strUrl, failure))
            return false;
        // The first answer of an authenticating proxy is its challenge.
        if (m_dwStatus == HTTP_STATUS_PROXY_AUTH_REQ && !m_req.proxy.strServer.empty() &&
            !m_req.proxy.strUser.empty() && nAuthRetries++ == 0)
            continue;
        if (IsRedirectStatus(m_dwStatus)) {
            // In the order of RedirectVerdict, Follow first.
            static const LPCWSTR apszRefused[] = {nullptr, L"a redirect without a usable Location",
                                                  L"a redirect to neither http nor https",
                                                  L"a redirect from https to plain http"};
            std::wstring strNext;
            const RedirectVerdict verdict =
                RedirectTarget(strUrl, QueryHeader(request.Get(), HTTP_QUERY_LOCATION), strNext);
            if (++nRedirects > kMaxRedirects)
                return Refuse(failure, ERROR_HTTP_REDIRECT_FAILED, L"more than %d redirects", kMaxRedirects);
            if (verdict != RedirectVerdict::Follow)
                return Refuse(failure, ERROR_HTTP_REDIRECT_FAILED, L"%s", apszRefused[static_cast<int>(verdict)]);
            strUrl = strNext;
            continue;
        }
        if (m_dwStatus == HTTP_STATUS_PARTIAL_CONTENT && m_ullOffset) {
            ULONGLONG ullFirst = 0, ullLast = 0;
            const std::wstring strRange = QueryHeader(request.Get(), HTTP_QUERY_CONTENT_RANGE);
            if (!ParseContentRange(strRange, ullFirst, ullLast, m_llRangeTotal))
                return Refuse(failure, ERROR_HTTP_INVALID_SERVER_RESPONSE,
                              L"a Content-Range of %u characters that is no range of at most %u-digit numbers",
                              static_cast<unsigned>(strRange.size()), static_cast<unsigned>(kMaxLengthDigits));
            if (!StartOverStale(request.Get()) && ullFirst == m_ullOffset)
                return true;
            m_llRangeTotal = -1;  // any other range cannot be stitched onto our bytes
        } else if (m_dwStatus == HTTP_STATUS_OK) {
            m_ullOffset = 0;  // the server ignored the range or the file changed
            return true;
        } else if (m_dwStatus != 416 || !m_ullOffset) {
            // An error status: whether its Retry-After lets it be asked again.
            failure.dwStatus = m_dwStatus;
            const std::wstring strRetryAfter = QueryHeader(request.Get(), HTTP_QUERY_RETRY_AFTER);
            const std::wstring strNow = QueryHeader(request.Get(), HTTP_QUERY_DATE);
            if (!strRetryAfter.empty())
                failure.llRetryAfterSeconds = RetryAfterSeconds(strRetryAfter, strNow.empty() ? HttpDateNow() : strNow);
            return Fail(failure, FailureKind::Status, ERROR_HTTP_INVALID_SERVER_RESPONSE);
        }
        // 416 or an unusable range: forget the partial file and start over.
        if (nRestarts++ > 0)
            return Fail(failure, FailureKind::Other, ERROR_HTTP_INVALID_SERVER_RESPONSE);
        m_ullOffset = 0;
        m_strValidator.clear();
    }
}

// A range answer without the validator sent (a cache that ignores If-Range
// may keep another version, or no validators) would splice two versions:
// the partial file is dropped and the request starts over. True then.
bool CTransfer::StartOverStale(HINTERNET hRequest)
{
    const std::wstring strETag = QueryHeader(hRequest, HTTP_QUERY_ETAG);
    const std::wstring strLastModified = QueryHeader(hRequest, HTTP_QUERY_LAST_MODIFIED);
    if (CarriesValidator(m_strValidator, strETag, strLastModified))
        return false;
    const std::wstring& strAnswer = strETag.empty() ? strLastModified : strETag;
    LibraryLog(kLogWarning, kTransferLogFunction,
               L"the partial file is stale: a range answer %s%s to If-Range %s; it is dropped and the file asked for "
               L"again from byte 0",
               strAnswer.empty() ? L"without any validator" : L"of another version: ", strAnswer.c_str(),
               m_strValidator.c_str());
    DiscardPartFile(MetaPathOf(m_req.strTarget));
    DiscardPartFile(PartialPathOf(m_req.strTarget));
    return true;
}

// The answer's size against the order, before the partial file is touched:
// an answer that contradicts it costs neither disk nor resumable bytes.
bool CTransfer::CheckBounds(HINTERNET hRequest, CAttemptFailure& failure)
{
    const DWORD dwError = ERROR_HTTP_INVALID_SERVER_RESPONSE;
    wchar_t sz[64] = {};
    DWORD cb = sizeof(sz) - sizeof(wchar_t);
    LONGLONG llLength = -1;
    // Only a missing length is unknown; one that is no length is malformed.
    if (::HttpQueryInfoW(hRequest, HTTP_QUERY_CONTENT_LENGTH, sz, &cb, nullptr)
            ? !ParseLength(sz, llLength)
            : ::GetLastError() != ERROR_HTTP_HEADER_NOT_FOUND)
        return Refuse(failure, dwError, L"a Content-Length that is no number of at most %u digits",
                      static_cast<unsigned>(kMaxLengthDigits));
    const LONGLONG llOrdered = m_req.llExpectedSize;
    const ULONGLONG ullMargin = llOrdered > 0 ? OrderedSizeMargin(static_cast<ULONGLONG>(llOrdered)) : 0;
    const ULONGLONG ullAnnounced = m_llRangeTotal >= 0 ? static_cast<ULONGLONG>(m_llRangeTotal)
                                   : llLength >= 0     ? m_ullOffset + static_cast<ULONGLONG>(llLength)
                                                       : 0;
    switch (
        BodyBounds(llOrdered, m_ullOffset, llLength, m_llRangeTotal, m_limits.ullCapBytes, m_ullMaxBody, m_bExact)) {
    case BoundsVerdict::Accepted:
        break;
    case BoundsVerdict::BeyondOrder:
        return Refuse(failure, dwError, L"a file of %llu bytes, beyond the ordered %lld bytes and their margin of %llu",
                      ullAnnounced, llOrdered, ullMargin);
    case BoundsVerdict::BelowOrder:
        return Refuse(failure, dwError,
                      L"a file of %llu bytes, short of the ordered %lld bytes by more than their margin of %llu",
                      ullAnnounced, llOrdered, ullMargin);
    case BoundsVerdict::BeyondCap:
        return Refuse(failure, dwError, L"a file of %llu bytes, beyond the cap of %llu",
                      llOrdered > 0 ? static_cast<ULONGLONG>(llOrdered) : ullAnnounced, m_limits.ullCapBytes);
    case BoundsVerdict::Inconsistent:
        return Refuse(failure, dwError,
                      L"a Content-Length of %lld that is not the rest of a %lld-byte file from byte %llu", llLength,
                      m_llRangeTotal, m_ullOffset);
    case BoundsVerdict::OffsetBeyondFile:
        return Refuse(failure, dwError, L"a range from byte %llu of a %llu-byte file", m_ullOffset, ullAnnounced);
    }
    if (m_bExact)
        m_ullTotal = m_ullOffset + m_ullMaxBody;
    return true;
}

// The partial file positioned where the answer's bytes belong, and the note
// of the validator they came with.
bool CTransfer::OpenSink(HINTERNET hRequest, CKernelHandle& hFile, CAttemptFailure& failure)
{
    hFile = ClaimPartFile(PartialPathOf(m_req.strTarget), m_ullOffset == 0);
    LARGE_INTEGER li, liSize;
    li.QuadPart = static_cast<LONGLONG>(m_ullOffset);
    if (!hFile || !::GetFileSizeEx(hFile.Get(), &liSize) || !::SetFilePointerEx(hFile.Get(), li, nullptr, FILE_BEGIN))
        return Fail(failure, FailureKind::Local, ::GetLastError());
    // The bytes the range continues are gone (replaced, being no longer ours).
    if (liSize.QuadPart < li.QuadPart)
        return Fail(failure, FailureKind::Local, ERROR_HANDLE_EOF);
    // Cut only when there is something to cut: some file systems hold the
    // close of a truncated file up until its new contents are on disk.
    if (liSize.QuadPart != li.QuadPart && !::SetEndOfFile(hFile.Get()))
        return Fail(failure, FailureKind::Local, ::GetLastError());
    // The note goes down before any byte of the new body, so that a later run
    // never pairs these bytes with an older validator.
    const std::wstring strMeta = MetaPathOf(m_req.strTarget);
    m_strValidator =
        ChooseValidator(QueryHeader(hRequest, HTTP_QUERY_ETAG), QueryHeader(hRequest, HTTP_QUERY_LAST_MODIFIED));
    if (m_strValidator.empty())
        DiscardPartFile(strMeta);
    else if (!WritePartMeta(strMeta, CPartMeta{m_req.strUrl, m_strValidator, m_req.llExpectedSize}))
        return Fail(failure, FailureKind::Local, ::GetLastError());
    return true;
}

// The body into the file: each read takes what has arrived and writes it;
// when nothing has, the loop waits for WinINet's word, and meanwhile reports
// every second and judges the floor, the receive time-out and the deadline.
bool CTransfer::Receive(CRequest& request, HANDLE hFile, CAttemptFailure& failure)
{
    m_buffer.resize(kBufferBytes);
    ULONGLONG ullNow = AwakeTickMs(), ullLastBytes = ullNow, ullPaceStart = ullNow, ullPaceBytes = 0;
    CTransferFloor floor(ullNow, 0, m_limits.dwFloorPeriodMs, kFloorBytes);
    bool bFast = false;
    Report(true);
    for (bool bFirstBytes = true;;) {
        // One byte more than may still come: receiving it proves an overrun.
        const ULONGLONG ullLeft = m_ullMaxBody - m_ullReceived;
        INTERNET_BUFFERSA ib = {};
        ib.dwStructSize = sizeof(ib);
        ib.lpvBuffer = m_buffer.data();
        ib.dwBufferLength = ullLeft < kBufferBytes ? static_cast<DWORD>(ullLeft) + 1 : kBufferBytes;
        DWORD dwError = ERROR_SUCCESS;
        if (!::InternetReadFileExA(request.Get(), &ib, IRF_NO_WAIT, request.Context()))
            dwError = ::GetLastError();
        if (dwError == ERROR_IO_PENDING) {
            // Nothing had arrived: the bytes are read once WinINet has them.
            while ((dwError = request.Await(kHeldUpMs)) == WAIT_TIMEOUT) {
                Report(true);
                ullNow = AwakeTickMs();
                if (!floor.Check(ullNow, m_ullReceived))
                    return FailStall(floor, failure);
                if (ullNow - ullLastBytes >= m_limits.dwReceiveMs || !MsLeft())
                    return Fail(failure, MsLeft() ? FailureKind::Timeout : FailureKind::Deadline,
                                ERROR_INTERNET_TIMEOUT);
            }
            if (dwError == ERROR_SUCCESS)
                continue;
        }
        dwError = InternetErrorOf(dwError);
        if (dwError != ERROR_SUCCESS)
            return Fail(failure, KindOfError(dwError), dwError);
        const DWORD dwGot = ib.dwBufferLength;
        DWORD dwWritten = 0;
        if (dwGot > ullLeft) {
            m_bOverrun = true;
            if (m_bExact)
                return Refuse(failure, ERROR_HTTP_INVALID_SERVER_RESPONSE, L"a body beyond its announced %llu bytes",
                              m_ullMaxBody);
            return Refuse(failure, ERROR_HTTP_INVALID_SERVER_RESPONSE,
                          L"a body of unannounced size beyond the %llu bytes the order allows",
                          m_ullOffset + m_ullMaxBody);
        }
        if (dwGot == 0)
            break;
        if (!::WriteFile(hFile, m_buffer.data(), dwGot, &dwWritten, nullptr) || dwWritten != dwGot)
            return Fail(failure, FailureKind::Local, ::GetLastError() ? ::GetLastError() : ERROR_WRITE_FAULT);
        m_ullReceived += dwGot;
        ullNow = ullLastBytes = AwakeTickMs();
        Report(bFirstBytes);
        bFirstBytes = false;
        ullPaceBytes += dwGot;
        if (ullPaceBytes >= kPaceBytes || ullNow - ullPaceStart >= kSlowPaceMs) {
            if (bFast && ullPaceBytes < kPaceBytes)
                LibraryLog(kLogInformation, kTransferLogFunction,
                           L"the body slowed down: less than %llu bytes in the second before byte %llu", kPaceBytes,
                           m_ullOffset + m_ullReceived);
            bFast = ullPaceBytes >= kPaceBytes && (bFast || ullNow - ullPaceStart <= kFastPaceMs);
            ullPaceStart = ullNow;
            ullPaceBytes = 0;
        }
        if (!floor.Check(ullNow, m_ullReceived))
            return FailStall(floor, failure);
        if (!MsLeft())
            return Fail(failure, FailureKind::Deadline, ERROR_INTERNET_TIMEOUT);
    }
    // A connection that closed early looks like a normal end to the reader.
    if (m_bExact && m_ullReceived < m_ullMaxBody)
        return Fail(failure, FailureKind::Reset, ERROR_INTERNET_CONNECTION_RESET);
    return true;
}

// A finished file takes the target's name; the bytes of a failed one stay
// for a resume, unless its answer sent more than it may.
DOWNLOAD_PROGRESS CTransfer::CloseSink(const DOWNLOAD_PROGRESS& final)
{
    const std::wstring strPart = PartialPathOf(m_req.strTarget), strMeta = MetaPathOf(m_req.strTarget);
    if (m_bOverrun) {
        DiscardPartFile(strMeta);
        DiscardPartFile(strPart);
    }
    if (final.iState != DOWNLOAD_STATE_FINISHED)
        return final;
    // No write-through: it can make the rename wait for the whole file to
    // reach the disk, and the caller's digest check of the finished file
    // already catches one that a crash left incomplete.
    if (!MoveOwnPartFile(strPart, m_req.strTarget)) {
        m_dwError = ::GetLastError();
        return Record(DOWNLOAD_STATE_FILE_FAILED);
    }
    DiscardPartFile(strMeta);  // the note belongs to the partial file, which is gone
    return final;
}

// One request and its answer into the partial file; true when the file is
// complete. WinINet lets go of the request before the file is asked for
// again, so that two answers never arrive side by side.
bool CTransfer::Attempt(CAttemptFailure& failure)
{
    m_ullReceived = 0;
    m_llRangeTotal = -1;
    m_dwStatus = 0;
    CRequest request;
    bool bComplete = false;
    if (OpenResponse(request, failure)) {
        if (m_ullOffset < m_ullRunStart)
            m_ullRunStart = m_ullOffset;  // the resume starts over
        CKernelHandle hFile;              // closed before the rename, which an open handle would block
        bComplete = CheckBounds(request.Get(), failure) && OpenSink(request.Get(), hFile, failure) &&
                    Receive(request, hFile.Get(), failure);
    }
    request.Close(!bComplete && IsRetryable(failure) ? MsLeft() : 0, &m_left);
    return bComplete;
}

DOWNLOAD_PROGRESS CTransfer::Run()
{
    m_ullOffset = ResumableBytes(m_req.strTarget, m_req.strUrl, m_req.llExpectedSize, m_strValidator);
    m_ullRunStart = m_ullOffset;
    m_limits = TransferLimits(m_req.llExpectedSize);
    m_deadline.Start(m_limits.ullDeadlineMs);
    const bool bProxy = !m_req.proxy.strServer.empty();
    m_hSession.Reset(::InternetOpenW(L"NubraSdk/1.0", bProxy ? INTERNET_OPEN_TYPE_PROXY : INTERNET_OPEN_TYPE_PRECONFIG,
                                     bProxy ? m_req.proxy.strServer.c_str() : nullptr, nullptr, INTERNET_FLAG_ASYNC));
    if (!m_hSession || ::InternetSetStatusCallbackW(m_hSession.Get(), &OnStatus) == INTERNET_INVALID_STATUS_CALLBACK) {
        m_dwError = m_hSession ? ::GetLastError() : ERROR_INTERNET_INTERNAL_ERROR;
        return Record(DOWNLOAD_STATE_NET_FAILED);
    }
    SetHandleTimeouts(m_hSession.Get(), m_limits);
    for (int nRetry = 0;; ++nRetry) {
        CAttemptFailure failure;
        if (Attempt(failure)) {
            m_dwError = ERROR_SUCCESS;
            return CloseSink(Record(DOWNLOAD_STATE_FINISHED));
        }
        const bool bRetryable = IsRetryable(failure);
        if (bRetryable && !MsLeft())
            Fail(failure, FailureKind::Deadline, ERROR_INTERNET_TIMEOUT);
        m_dwError = failure.dwError;
        if (failure.kind == FailureKind::Deadline) {
            LibraryLog(kLogError, kTransferLogFunction,
                       L"giving up: the call ran out its deadline of %llu ms; %llu bytes stay for a resume",
                       m_deadline.LengthMs(), OwnPartBytes(PartialPathOf(m_req.strTarget)));
            return CloseSink(Record(DOWNLOAD_STATE_NET_FAILED));
        }
        if (!bRetryable || nRetry >= m_limits.nRetries) {
            if (bRetryable)
                LibraryLog(kLogError, kTransferLogFunction, L"giving up after %d retries: %s", nRetry,
                           ReasonText(failure).c_str());
            else
                LibraryLog(kLogError, kTransferLogFunction, L"not tried again after %s: %s",
                           ReasonText(failure).c_str(), WhyNotRetried(failure));
            return CloseSink(
                Record(failure.kind == FailureKind::Local ? DOWNLOAD_STATE_FILE_FAILED : DOWNLOAD_STATE_NET_FAILED));
        }
        // From the bytes on disk, when their validator can vouch for them.
        m_ullOffset = m_strValidator.empty() ? 0 : OwnPartBytes(PartialPathOf(m_req.strTarget));
        m_ullReceived = 0;
        const DWORD dwPauseMs = RetryPauseMs(nRetry + 1, m_limits.dwFirstPauseMs, failure.llRetryAfterSeconds);
        LibraryLog(kLogWarning, kTransferLogFunction, L"retry %d of %d in %g s after %s, resuming at byte %llu",
                   nRetry + 1, m_limits.nRetries, dwPauseMs / 1000.0, ReasonText(failure).c_str(), m_ullOffset);
        // A pause beyond the deadline ends at it; the next attempt then ends the call.
        ::Sleep((std::min)(dwPauseMs, MsLeft()));
    }
}

}  // namespace nubra
