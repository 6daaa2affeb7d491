// The transfer worker: WinINet requests within their deadline, resume,
// retries within the call, streaming to the partial file, progress records,
// and the final rename.
#include "NubraSdk/Download.h"

#include <wininet.h>

#include <cstdarg>
#include <memory>
#include <vector>

#include "NubraSdk/BackgroundWriter.h"
#include "NubraSdk/HttpQuery.h"
#include "NubraSdk/LibraryLog.h"
#include "NubraSdk/LibraryThreads.h"
#include "NubraSdk/PartialFile.h"
#include "NubraSdk/RecordPool.h"
#include "NubraSdk/RequestDeadline.h"
#include "NubraSdk/RetryPolicy.h"
#include "NubraSdk/TransferBounds.h"
#include "NubraSdk/TransferFloor.h"
#include "netlib/DownloadRecord.h"
#include "win/Handles.h"

namespace nubra {

namespace {

// Disk writes in large blocks; memory stays this size whatever the file.
constexpr DWORD kBufferBytes = 1024 * 1024;
// About four progress records a second at most.
constexpr ULONGLONG kReportPeriodMs = 250;
// Bytes of a slow link wait in memory no longer than this before they go
// to disk, so that a program that quits keeps them for a resume.
constexpr ULONGLONG kFlushPeriodMs = 1000;
// The most read of an answer that is not the file (a redirect's, an
// error's): enough for any page a server means to be read.
constexpr DWORD kSideBodyBytes = 64 * 1024;
constexpr DWORD kSideBodyPatienceMs = 1000;
// How long a finished worker waits for the window to handle its last
// records before it gives up and leaves the few hundred bytes behind.
constexpr DWORD kReleaseWaitMs = 10 * 60 * 1000;

const wchar_t kLogFunction[] = L"Nubra_SDK::Transfer";

uint32_t Clamp32(ULONGLONG v)
{
    return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
}

// "1 s", "0.2 s": pauses as the log shows them.
std::wstring SecondsText(DWORD dwMs)
{
    wchar_t sz[32] = {};
    if (dwMs % 1000 == 0)
        _snwprintf(sz, 31, L"%lu s", dwMs / 1000);
    else
        _snwprintf(sz, 31, L"%.1f s", dwMs / 1000.0);
    return sz;
}

// The local clock's time as an answer's Date header would give it.
std::wstring HttpDateNow()
{
    SYSTEMTIME st = {};
    ::GetSystemTime(&st);
    wchar_t sz[INTERNET_RFC1123_BUFSIZE + 1] = {};
    if (!::InternetTimeFromSystemTimeW(&st, INTERNET_RFC1123_FORMAT, sz, sizeof(sz) - sizeof(wchar_t)))
        return std::wstring();
    return sz;
}

class CTransfer {
public:
    CTransfer(const CDownloadRequest& req, CRecordPool& pool) : m_req(req), m_pool(pool) {}
    ~CTransfer();
    CTransfer(const CTransfer&) = delete;
    CTransfer& operator=(const CTransfer&) = delete;

    // The whole transfer, retries included; its final record.
    DOWNLOAD_PROGRESS Run();

private:
    DOWNLOAD_PROGRESS Record(int32_t iState) const;
    void Report(bool bForce);
    ULONGLONG KnownTotal() const;

    bool OpenSession();
    bool Attempt(CAttemptFailure& failure);
    CInetHandle Connect(const CHttpAddress& address);
    CInetHandle OpenRequest(HINTERNET hConnect, const CHttpAddress& address);
    bool OpenResponse(CInetHandle& hConnect, CInetHandle& hRequest, CAttemptFailure& failure);
    bool FailStatus(HINTERNET hRequest, CAttemptFailure& failure);
    bool CheckBounds(HINTERNET hRequest, CAttemptFailure& failure);
    bool OpenSink(HINTERNET hRequest, CKernelHandle& hFile, CAttemptFailure& failure);
    bool Receive(HINTERNET hRequest, HANDLE hFile, CAttemptFailure& failure);
    DOWNLOAD_PROGRESS CloseSink(const DOWNLOAD_PROGRESS& final);

    void DropAnswer(CInetHandle& hConnect, CInetHandle& hRequest);
    void SetAside(CInetHandle& hConnect, CInetHandle& hRequest);
    ULONGLONG BytesOnDisk() const;
    std::wstring ReasonText(const CAttemptFailure& failure) const;
    bool Refuse(CAttemptFailure& failure, DWORD dwError, LPCWSTR pszFormat, ...);

    const CDownloadRequest& m_req;
    CRecordPool& m_pool;
    CSharedSession m_session;
    // Requests whose answers were not read to their end, each followed by
    // its connection: closed only after the final record (see RunDownload).
    std::vector<CInetHandle> m_setAside;
    // The validator of the bytes on disk, sent with If-Range.
    std::wstring m_strValidator;
    // Bytes on disk when the call began: what the records count from.
    ULONGLONG m_ullRunStart = 0;
    // Where the current attempt's answer starts, and what it brought so far.
    ULONGLONG m_ullOffset = 0;
    ULONGLONG m_ullReceived = 0;
    LONGLONG m_llRangeTotal = -1;
    // The file's size once an answer announced it; 0 until then.
    ULONGLONG m_ullTotal = 0;
    ULONGLONG m_ullMaxBody = 0;
    bool m_bExact = false;
    bool m_bOverrun = false;
    DWORD m_dwStatus = 0;
    DWORD m_dwError = 0;
    double m_dSpeed = 0;
    ULONGLONG m_ullLastReportTick = 0;
    ULONGLONG m_ullLastReportPos = 0;
};

CTransfer::~CTransfer()
{
    // In the order they were set aside: each request before its connection.
    for (CInetHandle& h : m_setAside)
        h.Reset();
}

ULONGLONG CTransfer::KnownTotal() const
{
    if (m_ullTotal)
        return m_ullTotal;
    // Until a server announces the size, the order's is the best guess; the
    // window ignores records whose size and position are both zero.
    return m_req.llExpectedSize > 0 ? static_cast<ULONGLONG>(m_req.llExpectedSize) : 0;
}

// Counted from the bytes on disk when the call began, whatever the retries
// did in between, so that the window's "total - unFileSize + unReceived"
// is what is on disk now. Only an answer that makes a resume start over
// moves the start back to zero.
DOWNLOAD_PROGRESS CTransfer::Record(int32_t iState) const
{
    DOWNLOAD_PROGRESS rec = {};
    rec.iState = iState;
    const ULONGLONG ullTotal = KnownTotal();
    const ULONGLONG ullPos = m_ullOffset + m_ullReceived;
    rec.unFileSize = Clamp32(ullTotal > m_ullRunStart ? ullTotal - m_ullRunStart : 0);
    rec.unPosition = Clamp32(m_ullRunStart);
    rec.unReceived = Clamp32(ullPos > m_ullRunStart ? ullPos - m_ullRunStart : 0);
    rec.unExtra = m_dwStatus;
    rec.dSpeed = m_dSpeed;
    // The library's part of the record: the target path for whoever inspects
    // a record in a debugger, then the error code, which the program logs
    // from the final record.
    const size_t cchPath = (sizeof(rec.abLibrary) - sizeof(DWORD)) / sizeof(wchar_t) - 1;
    const size_t n = m_req.strTarget.size() < cchPath ? m_req.strTarget.size() : cchPath;
    memcpy(rec.abLibrary, m_req.strTarget.data(), n * sizeof(wchar_t));
    memcpy(rec.abLibrary + DOWNLOAD_RECORD_ERROR_OFFSET, &m_dwError, sizeof(DWORD));
    return rec;
}

void CTransfer::Report(bool bForce)
{
    const ULONGLONG ullNow = ::GetTickCount64();
    // Between records nothing needs the queue: the window's receipts free
    // their slots when the next record is sent, which pumps first.
    if (!bForce && ullNow - m_ullLastReportTick < kReportPeriodMs)
        return;
    const ULONGLONG ullPos = m_ullOffset + m_ullReceived;
    if (m_ullLastReportTick && ullNow > m_ullLastReportTick && ullPos >= m_ullLastReportPos) {
        const double dInstant = static_cast<double>(ullPos - m_ullLastReportPos) * 1000.0 /
                                static_cast<double>(ullNow - m_ullLastReportTick) / 1024.0;
        // Smoothed so that the display does not jitter with every block.
        m_dSpeed = m_dSpeed == 0 ? dInstant : 0.7 * m_dSpeed + 0.3 * dInstant;
    }
    m_ullLastReportTick = ullNow;
    m_ullLastReportPos = ullPos;
    m_pool.SendProgress(Record(DOWNLOAD_STATE_PROGRESS));
}

bool CTransfer::Refuse(CAttemptFailure& failure, DWORD dwError, LPCWSTR pszFormat, ...)
{
    wchar_t szText[512];
    va_list args;
    va_start(args, pszFormat);
    const int n = _vsnwprintf(szText, ARRAYSIZE(szText) - 1, pszFormat, args);
    va_end(args);
    szText[n < 0 ? ARRAYSIZE(szText) - 1 : n] = L'\0';
    LibraryLog(kLogError, kLogFunction, L"refused answer: %s", szText);
    failure.kind = FailureKind::Refused;
    failure.dwError = dwError;
    return false;
}

std::wstring CTransfer::ReasonText(const CAttemptFailure& failure) const
{
    wchar_t sz[160] = {};
    switch (failure.kind) {
    case FailureKind::Reset:
        _snwprintf(sz, 159, L"connection reset (error %lu)", failure.dwError);
        break;
    case FailureKind::Timeout:
        _snwprintf(sz, 159, L"time-out (error %lu)", failure.dwError);
        break;
    case FailureKind::Stall:
        _snwprintf(sz, 159, L"a stall below the floor (error %lu)", failure.dwError);
        break;
    case FailureKind::Status:
        if (failure.llRetryAfterSeconds >= 0)
            _snwprintf(sz, 159, L"HTTP status %lu with Retry-After %lld s", failure.dwStatus,
                       failure.llRetryAfterSeconds);
        else
            _snwprintf(sz, 159, L"HTTP status %lu", failure.dwStatus);
        break;
    default:
        _snwprintf(sz, 159, L"error %lu", failure.dwError);
        break;
    }
    return sz;
}

bool CTransfer::OpenSession()
{
    const bool bProxy = !m_req.proxy.strServer.empty();
    m_session = std::make_shared<CInetHandle>(
        ::InternetOpenW(L"NubraSdk/1.0", bProxy ? INTERNET_OPEN_TYPE_PROXY : INTERNET_OPEN_TYPE_PRECONFIG,
                        bProxy ? m_req.proxy.strServer.c_str() : nullptr, nullptr /* bypass */, 0));
    if (!*m_session) {
        m_dwError = ::GetLastError();
        return false;
    }
    SetHandleTimeouts(m_session->Get());
    return true;
}

CInetHandle CTransfer::Connect(const CHttpAddress& address)
{
    CInetHandle hConnect(::InternetConnectW(m_session->Get(), address.strHost.c_str(), address.nPort, nullptr, nullptr,
                                            INTERNET_SERVICE_HTTP, 0, 0));
    if (!hConnect)
        return hConnect;
    SetHandleTimeouts(hConnect.Get());
    if (!m_req.proxy.strServer.empty() && !m_req.proxy.strUser.empty()) {
        // Not checked: credentials that do not take effect show up as the
        // proxy's 407, which the request reports.
        ::InternetSetOptionW(hConnect.Get(), INTERNET_OPTION_PROXY_USERNAME,
                             const_cast<wchar_t*>(m_req.proxy.strUser.c_str()),
                             static_cast<DWORD>(m_req.proxy.strUser.size()));
        ::InternetSetOptionW(hConnect.Get(), INTERNET_OPTION_PROXY_PASSWORD,
                             const_cast<wchar_t*>(m_req.proxy.strPassword.c_str()),
                             static_cast<DWORD>(m_req.proxy.strPassword.size()));
    }
    return hConnect;
}

CInetHandle CTransfer::OpenRequest(HINTERNET hConnect, const CHttpAddress& address)
{
    LPCWSTR apszAccept[] = {L"*/*", nullptr};
    // Redirects are followed here, not by WinINet, which would follow a loop
    // for ever and to any scheme.
    DWORD dwFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                    INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_KEEP_CONNECTION |
                    INTERNET_FLAG_NO_AUTO_REDIRECT;
    if (address.bSecure)
        dwFlags |= INTERNET_FLAG_SECURE;
    CInetHandle hRequest(::HttpOpenRequestW(hConnect, L"GET", address.strPath.c_str(), nullptr, nullptr /* referrer */,
                                            apszAccept, dwFlags, 0));
    if (hRequest)
        SetHandleTimeouts(hRequest.Get());
    return hRequest;
}

void CTransfer::SetAside(CInetHandle& hConnect, CInetHandle& hRequest)
{
    if (hRequest)
        m_setAside.push_back(std::move(hRequest));
    if (hConnect)
        m_setAside.push_back(std::move(hConnect));
}

// An answer that is not the file: a short body (64 KiB at most) is read
// and dropped, so that its connection serves the next request, but not
// waited for longer than a second. Anything longer or slower is not read:
// its connection is set aside and the next request connects afresh.
void CTransfer::DropAnswer(CInetHandle& hConnect, CInetHandle& hRequest)
{
    LONGLONG llLength = -1;
    if (QueryContentLength(hRequest.Get(), llLength) && llLength >= 0 && llLength <= kSideBodyBytes &&
        ReadBodyWithinDeadline(m_session, hConnect, hRequest, static_cast<DWORD>(llLength), kSideBodyPatienceMs) ==
            ERROR_SUCCESS) {
        hRequest.Reset();
        return;
    }
    SetAside(hConnect, hRequest);
}

// An answer with an error status: how it failed, and whether its
// Retry-After lets it be asked again.
bool CTransfer::FailStatus(HINTERNET hRequest, CAttemptFailure& failure)
{
    failure.kind = FailureKind::Status;
    failure.dwStatus = m_dwStatus;
    failure.dwError = ERROR_HTTP_INVALID_SERVER_RESPONSE;
    const std::wstring strRetryAfter = QueryHeader(hRequest, HTTP_QUERY_RETRY_AFTER);
    if (!strRetryAfter.empty()) {
        std::wstring strNow = QueryHeader(hRequest, HTTP_QUERY_DATE);
        if (strNow.empty())
            strNow = HttpDateNow();
        failure.llRetryAfterSeconds = RetryAfterSeconds(strRetryAfter, strNow);
    }
    return false;
}

// The request for what is still missing, through the proxy's challenge and
// the redirects, to an answer that brings the file or its rest. False with
// the failure told.
bool CTransfer::OpenResponse(CInetHandle& hConnect, CInetHandle& hRequest, CAttemptFailure& failure)
{
    std::wstring strUrl = m_req.strUrl;
    CHttpAddress connected;
    int nAuthRetries = 0, nRestarts = 0, nRedirects = 0;
    for (;;) {
        CHttpAddress address;
        failure.dwError = CrackHttpAddress(strUrl, address);
        if (failure.dwError != ERROR_SUCCESS)
            return false;
        if (!hConnect || address.strHost != connected.strHost || address.nPort != connected.nPort) {
            hConnect = Connect(address);
            if (!hConnect) {
                failure.dwError = ::GetLastError();
                return false;
            }
            connected = address;
        }
        hRequest = OpenRequest(hConnect.Get(), address);
        if (!hRequest) {
            failure.dwError = ::GetLastError();
            return false;
        }
        std::wstring strHeaders;
        if (m_ullOffset) {
            strHeaders = L"Range: bytes=" + std::to_wstring(m_ullOffset) + L"-\r\n";
            // The server sends the whole file instead of the range when its
            // copy is no longer the one our bytes came from.
            strHeaders += L"If-Range: " + m_strValidator + L"\r\n";
        }
        failure.dwError =
            InternetErrorOf(SendWithinDeadline(m_session, hConnect, hRequest, strHeaders, ConnectTimeoutMs()));
        if (failure.dwError != ERROR_SUCCESS) {
            failure.kind = KindOfError(failure.dwError);
            if (!hRequest)
                LibraryLog(kLogWarning, kLogFunction, L"no answer's headers within %lu ms of the request",
                           ConnectTimeoutMs());
            return false;
        }
        m_dwStatus = QueryStatus(hRequest.Get());
        // The first answer of an authenticating proxy is its challenge.
        if (m_dwStatus == HTTP_STATUS_PROXY_AUTH_REQ && !m_req.proxy.strServer.empty() &&
            !m_req.proxy.strUser.empty() && nAuthRetries++ == 0) {
            DropAnswer(hConnect, hRequest);
            continue;
        }
        if (IsRedirectStatus(m_dwStatus)) {
            std::wstring strNext;
            const RedirectVerdict verdict =
                RedirectTarget(strUrl, QueryHeader(hRequest.Get(), HTTP_QUERY_LOCATION), strNext);
            DropAnswer(hConnect, hRequest);
            if (++nRedirects > kMaxRedirects)
                return Refuse(failure, ERROR_HTTP_REDIRECT_FAILED, L"more than %d redirects", kMaxRedirects);
            if (verdict == RedirectVerdict::LeavesHttps)
                return Refuse(failure, ERROR_HTTP_REDIRECT_FAILED, L"a redirect from https to plain http");
            if (verdict == RedirectVerdict::NotWeb)
                return Refuse(failure, ERROR_HTTP_REDIRECT_FAILED, L"a redirect to neither http nor https");
            if (verdict != RedirectVerdict::Follow)
                return Refuse(failure, ERROR_HTTP_REDIRECT_FAILED, L"a redirect without a usable Location");
            strUrl = strNext;
            continue;
        }
        if (m_dwStatus == HTTP_STATUS_PARTIAL_CONTENT && m_ullOffset) {
            ULONGLONG ullFirst = 0, ullLast = 0;
            LONGLONG llTotal = 0;
            const std::wstring strRange = QueryHeader(hRequest.Get(), HTTP_QUERY_CONTENT_RANGE);
            if (!ParseContentRange(strRange, ullFirst, ullLast, llTotal))
                return Refuse(failure, ERROR_HTTP_INVALID_SERVER_RESPONSE,
                              L"a Content-Range of %u characters that is no range of at most %u-digit numbers",
                              static_cast<unsigned>(strRange.size()), static_cast<unsigned>(kMaxLengthDigits));
            if (ullFirst == m_ullOffset) {
                m_llRangeTotal = llTotal;
                return true;
            }
            // Any other range cannot be stitched onto our bytes.
        } else if (m_dwStatus == HTTP_STATUS_OK) {
            m_ullOffset = 0;  // the server ignored the range or the file changed
            return true;
        } else if (m_dwStatus != 416 || !m_ullOffset) {
            FailStatus(hRequest.Get(), failure);
            DropAnswer(hConnect, hRequest);
            return false;
        }
        // 416 or an unusable range: forget the partial file and start over.
        DropAnswer(hConnect, hRequest);
        if (nRestarts++ > 0) {
            failure.dwError = ERROR_HTTP_INVALID_SERVER_RESPONSE;
            return false;
        }
        m_ullOffset = 0;
        m_strValidator.clear();
    }
}

// The answer's size checked against the order before the partial file is
// touched: an answer that contradicts it costs neither disk nor the bytes a
// resume could still use.
bool CTransfer::CheckBounds(HINTERNET hRequest, CAttemptFailure& failure)
{
    LONGLONG llLength = -1;
    if (!QueryContentLength(hRequest, llLength))
        return Refuse(failure, ERROR_HTTP_INVALID_SERVER_RESPONSE,
                      L"a Content-Length that is no number of at most %u digits",
                      static_cast<unsigned>(kMaxLengthDigits));
    const ULONGLONG ullCap = UnsizedCapBytes();
    const LONGLONG llOrdered = m_req.llExpectedSize;
    const ULONGLONG ullMargin = llOrdered > 0 ? OrderedSizeMargin(static_cast<ULONGLONG>(llOrdered)) : 0;
    ULONGLONG ullAnnounced = 0;
    if (m_llRangeTotal >= 0)
        ullAnnounced = static_cast<ULONGLONG>(m_llRangeTotal);
    else if (llLength >= 0)
        ullAnnounced = m_ullOffset + static_cast<ULONGLONG>(llLength);
    switch (BodyBounds(llOrdered, m_ullOffset, llLength, m_llRangeTotal, ullCap, m_ullMaxBody, m_bExact)) {
    case BoundsVerdict::Accepted:
        break;
    case BoundsVerdict::BeyondOrder:
        return Refuse(failure, ERROR_HTTP_INVALID_SERVER_RESPONSE,
                      L"a file of %llu bytes, beyond the ordered %lld bytes and their margin of %llu", ullAnnounced,
                      llOrdered, ullMargin);
    case BoundsVerdict::BelowOrder:
        return Refuse(failure, ERROR_HTTP_INVALID_SERVER_RESPONSE,
                      L"a file of %llu bytes, short of the ordered %lld bytes by more than their margin of %llu",
                      ullAnnounced, llOrdered, ullMargin);
    case BoundsVerdict::BeyondCap:
        return Refuse(failure, ERROR_HTTP_INVALID_SERVER_RESPONSE, L"a file of %llu bytes, beyond the cap of %llu",
                      llOrdered > 0 ? static_cast<ULONGLONG>(llOrdered) : ullAnnounced, ullCap);
    case BoundsVerdict::Inconsistent:
        return Refuse(failure, ERROR_HTTP_INVALID_SERVER_RESPONSE,
                      L"a Content-Length of %lld that is not the rest of a %lld-byte file from byte %llu", llLength,
                      m_llRangeTotal, m_ullOffset);
    case BoundsVerdict::OffsetBeyondFile:
        return Refuse(failure, ERROR_HTTP_INVALID_SERVER_RESPONSE, L"a range from byte %llu of a %llu-byte file",
                      m_ullOffset, ullAnnounced);
    }
    if (m_bExact)
        m_ullTotal = m_ullOffset + m_ullMaxBody;
    return true;
}

// The sink's start: the partial file positioned where the answer's bytes
// belong, and the note of the validator they came with.
bool CTransfer::OpenSink(HINTERNET hRequest, CKernelHandle& hFile, CAttemptFailure& failure)
{
    failure.kind = FailureKind::Local;
    const std::wstring strPart = PartialPathOf(m_req.strTarget);
    const std::wstring strMeta = MetaPathOf(m_req.strTarget);
    // A new body goes to a new file rather than a truncated one: some file
    // systems start writing a truncated file's new contents to disk when it
    // is closed, which held the finished transfer up for as long as the
    // disk needed for the whole file.
    const DWORD dwFileFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
    if (!m_ullOffset) {
        // Fails harmlessly when there is no such file; the create below
        // tells whether one is still in the way.
        ::DeleteFileW(strPart.c_str());
        hFile.Reset(
            ::CreateFileW(strPart.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, dwFileFlags, nullptr));
    }
    // A partial file that someone keeps from being deleted is emptied instead.
    if (!hFile)
        hFile.Reset(::CreateFileW(strPart.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  m_ullOffset ? OPEN_EXISTING : CREATE_ALWAYS, dwFileFlags, nullptr));
    LARGE_INTEGER li, liSize;
    li.QuadPart = static_cast<LONGLONG>(m_ullOffset);
    if (!hFile || !::GetFileSizeEx(hFile.Get(), &liSize) || !::SetFilePointerEx(hFile.Get(), li, nullptr, FILE_BEGIN)) {
        failure.dwError = ::GetLastError();
        return false;
    }
    // Cut only when there is something to cut, for the same reason.
    if (liSize.QuadPart != li.QuadPart && !::SetEndOfFile(hFile.Get())) {
        failure.dwError = ::GetLastError();
        return false;
    }
    // The note goes down before any byte of the new body, so a later run never
    // pairs these bytes with an older validator.
    m_strValidator =
        ChooseValidator(QueryHeader(hRequest, HTTP_QUERY_ETAG), QueryHeader(hRequest, HTTP_QUERY_LAST_MODIFIED));
    if (m_strValidator.empty()) {
        ::DeleteFileW(strMeta.c_str());
    } else if (!WritePartMeta(strMeta, CPartMeta{m_req.strUrl, m_strValidator, m_req.llExpectedSize})) {
        failure.dwError = ::GetLastError();
        return false;
    }
    return true;
}

// The body into the file. Each read returns what has arrived, so progress
// flows on a slow link, and the floor is judged after every one.
bool CTransfer::Receive(HINTERNET hRequest, HANDLE hFile, CAttemptFailure& failure)
{
    // One buffer, written in place when full. A second buffer handed to a
    // writer thread was measured slower than this on a busy two-core
    // machine: the thread competes with the reader, the server and the
    // system for the cores, and each hand-over is a wait; while this thread
    // writes, the socket's own buffer keeps receiving anyway.
    std::vector<BYTE> buffer(kBufferBytes);
    BYTE* const pBuffer = buffer.data();
    DWORD dwFill = 0;
    bool bFirstBytes = true;
    CBackgroundWriter writer(hFile);  // not started: it writes in place
    ULONGLONG ullLastWrite = ::GetTickCount64();
    CTransferFloor floor(ullLastWrite, 0, FloorPeriodMs(), kFloorBytes);
    Report(true);
    for (;;) {
        // Waits until something arrives (or the receive time-out); 0 only at
        // the end of the body.
        DWORD dwAvailable = 0, dwGot = 0;
        BOOL bRead = ::InternetQueryDataAvailable(hRequest, &dwAvailable, 0, 0);
        const ULONGLONG ullLeft = m_ullMaxBody - m_ullReceived;
        if (bRead && dwAvailable) {
            DWORD dwWant = dwAvailable < kBufferBytes - dwFill ? dwAvailable : kBufferBytes - dwFill;
            // Ask for one byte more than may still come: receiving it proves
            // an overrun without reading on.
            if (ullLeft < dwWant)
                dwWant = static_cast<DWORD>(ullLeft) + 1;
            bRead = ::InternetReadFile(hRequest, pBuffer + dwFill, dwWant, &dwGot);
        }
        if (!bRead) {
            failure.dwError = InternetErrorOf(::GetLastError());
            failure.kind = KindOfError(failure.dwError);
            // Keep what arrived for a resume.
            writer.Write(pBuffer, dwFill);
            writer.Finish();
            return false;
        }
        if (dwGot > ullLeft) {
            m_bOverrun = true;
            writer.Finish();
            if (m_bExact)
                return Refuse(failure, ERROR_HTTP_INVALID_SERVER_RESPONSE, L"a body beyond its announced %llu bytes",
                              m_ullMaxBody);
            return Refuse(failure, ERROR_HTTP_INVALID_SERVER_RESPONSE,
                          L"a body of unannounced size beyond the %llu bytes the order allows",
                          m_ullOffset + m_ullMaxBody);
        }
        dwFill += dwGot;
        m_ullReceived += dwGot;
        const ULONGLONG ullNow = ::GetTickCount64();
        if (dwGot == 0 || dwFill == kBufferBytes || (dwFill && ullNow - ullLastWrite >= kFlushPeriodMs)) {
            if (!writer.Write(pBuffer, dwFill)) {
                failure.kind = FailureKind::Local;
                failure.dwError = writer.Error();
                return false;
            }
            dwFill = 0;
            ullLastWrite = ullNow;
        }
        if (dwGot == 0)
            break;
        Report(bFirstBytes);
        bFirstBytes = false;
        if (!floor.Check(ullNow, m_ullReceived)) {
            writer.Write(pBuffer, dwFill);
            writer.Finish();
            LibraryLog(kLogWarning, kLogFunction,
                       L"stall: %llu bytes in %llu ms, below the floor of %llu bytes in %lu ms", floor.PeriodBytes(),
                       floor.PeriodMs(), floor.FloorBytes(), floor.FloorMs());
            failure.kind = FailureKind::Stall;
            failure.dwError = ERROR_INTERNET_TIMEOUT;
            return false;
        }
    }
    if (!writer.Finish()) {
        failure.kind = FailureKind::Local;
        failure.dwError = writer.Error();
        return false;
    }
    // A connection that closed early looks like a normal end to the reader.
    if (m_bExact && m_ullReceived < m_ullMaxBody) {
        failure.kind = FailureKind::Reset;
        failure.dwError = ERROR_INTERNET_CONNECTION_RESET;
        return false;
    }
    return true;
}

// One request and its answer into the partial file; true when the file is
// complete.
bool CTransfer::Attempt(CAttemptFailure& failure)
{
    m_ullReceived = 0;
    m_llRangeTotal = -1;
    m_dwStatus = 0;
    // Declared in this order so that the request closes before its connection.
    CInetHandle hConnect, hRequest;
    if (!OpenResponse(hConnect, hRequest, failure))
        return false;
    if (m_ullOffset < m_ullRunStart)
        m_ullRunStart = m_ullOffset;  // the resume starts over
    CKernelHandle hFile;
    if (!CheckBounds(hRequest.Get(), failure) || !OpenSink(hRequest.Get(), hFile, failure)) {
        SetAside(hConnect, hRequest);
        return false;
    }
    const bool bComplete = Receive(hRequest.Get(), hFile.Get(), failure);
    // Closed before the rename, which a handle still open would block.
    hFile.Reset();
    // An answer read to its end leaves its connection for the next transfer;
    // the rest of any other is not waited for.
    if (!bComplete)
        SetAside(hConnect, hRequest);
    return bComplete;
}

ULONGLONG CTransfer::BytesOnDisk() const
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExW(PartialPathOf(m_req.strTarget).c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The sink's end: a finished file takes the target's name; the bytes of a
// failed one stay for a resume unless they cannot be the file's.
DOWNLOAD_PROGRESS CTransfer::CloseSink(const DOWNLOAD_PROGRESS& final)
{
    const std::wstring strPart = PartialPathOf(m_req.strTarget);
    const std::wstring strMeta = MetaPathOf(m_req.strTarget);
    if (final.iState != DOWNLOAD_STATE_FINISHED) {
        // Bytes beyond what the server may send are not the file's: nothing
        // of such an answer is worth resuming.
        if (m_bOverrun) {
            ::DeleteFileW(strMeta.c_str());
            ::DeleteFileW(strPart.c_str());
        }
        return final;
    }
    // No write-through: it can make the rename wait for the whole file to
    // reach the disk, and the caller's digest check of the finished file
    // already catches one that a crash left incomplete.
    if (!::MoveFileExW(strPart.c_str(), m_req.strTarget.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        m_dwError = ::GetLastError();
        return Record(DOWNLOAD_STATE_FILE_FAILED);
    }
    // The note belongs to the partial file, which is gone now.
    ::DeleteFileW(strMeta.c_str());
    return final;
}

DOWNLOAD_PROGRESS CTransfer::Run()
{
    CHttpAddress address;
    m_dwError = CrackHttpAddress(m_req.strUrl, address);
    if (m_dwError != ERROR_SUCCESS)
        return Record(DOWNLOAD_STATE_NET_FAILED);
    m_ullOffset = ResumableBytes(m_req.strTarget, m_req.strUrl, m_req.llExpectedSize, m_strValidator);
    m_ullRunStart = m_ullOffset;
    if (!OpenSession())
        return Record(DOWNLOAD_STATE_NET_FAILED);

    const int nRetries = RetryLimit();
    for (int nRetry = 0;; ++nRetry) {
        CAttemptFailure failure;
        if (Attempt(failure)) {
            m_dwError = ERROR_SUCCESS;
            return CloseSink(Record(DOWNLOAD_STATE_FINISHED));
        }
        m_dwError = failure.dwError;
        const bool bRetryable = IsRetryable(failure);
        if (!bRetryable || nRetry >= nRetries) {
            if (bRetryable)
                LibraryLog(kLogError, kLogFunction, L"giving up after %d retries: %s", nRetry,
                           ReasonText(failure).c_str());
            const int32_t iState =
                failure.kind == FailureKind::Local ? DOWNLOAD_STATE_FILE_FAILED : DOWNLOAD_STATE_NET_FAILED;
            return CloseSink(Record(iState));
        }
        // From the bytes on disk, when their validator can vouch for them.
        m_ullOffset = m_strValidator.empty() ? 0 : BytesOnDisk();
        m_ullReceived = 0;
        const DWORD dwPauseMs = RetryPauseMs(nRetry + 1, FirstRetryPauseMs(), failure.llRetryAfterSeconds);
        LibraryLog(kLogWarning, kLogFunction, L"retry %d of %d in %s after %s, resuming at byte %llu", nRetry + 1,
                   nRetries, SecondsText(dwPauseMs).c_str(), ReasonText(failure).c_str(), m_ullOffset);
        ::Sleep(dwPauseMs);
    }
}

DWORD RunDownload(std::unique_ptr<CDownloadRequest> req)
{
    try {
        auto pool = std::make_unique<CRecordPool>(req->hNotify, req->uMsg);
        DOWNLOAD_PROGRESS final = {};
        std::unique_ptr<CTransfer> transfer;
        try {
            transfer.reset(new CTransfer(*req, *pool));
            final = transfer->Run();
        } catch (...) {
            final.iState = DOWNLOAD_STATE_NET_FAILED;
        }
        pool->SendFinal(final);
        // Only now: closing an answer that was not read to its end lets
        // WinINet read on to its end under Wine, which must not hold the
        // final record back.
        transfer.reset();
        // Records the window may still read must stay where they are.
        if (!pool->WaitAllReleased(kReleaseWaitMs))
            pool.release();
    } catch (...) {
        // Without its records the window cannot be told anything more.
    }
    return 0;
}

DWORD WINAPI DownloadThread(void* pParam)
{
    DWORD dwCode = 0;
    try {
        dwCode = RunDownload(std::unique_ptr<CDownloadRequest>(static_cast<CDownloadRequest*>(pParam)));
    } catch (...) {
        // Nothing leaves a thread of the library.
    }
    ExitLibraryThread(dwCode);
}

}  // namespace

bool StartDownload(const CDownloadRequest& request)
{
    auto pCopy = std::make_unique<CDownloadRequest>(request);
    if (!StartLibraryThread(&DownloadThread, pCopy.get(), nullptr))
        return false;
    pCopy.release();  // the thread owns it now
    return true;
}

}  // namespace nubra
