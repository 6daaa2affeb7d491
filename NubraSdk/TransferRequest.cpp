// A transfer's requests: the session, the connections, the redirects and
// the proxy's challenge, the answers that are not the file, and the size
// check of the one that is (see Transfer.h).
#include "NubraSdk/Transfer.h"

#include <wininet.h>

#include "NubraSdk/LibraryLog.h"
#include "NubraSdk/PartFileAccess.h"
#include "NubraSdk/PartialFile.h"
#include "NubraSdk/TransferBounds.h"

namespace nubra {

namespace {

// The most read of an answer that is not the file (a redirect's, an
// error's): enough for any page a server means to be read, and no longer
// waited for than this.
constexpr DWORD kSideBodyBytes = 64 * 1024;
constexpr DWORD kSideBodyPatienceMs = 1000;

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

}  // namespace

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
    m_helper.SetSession(m_session);
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
        m_helper.ReadBody(hConnect, hRequest, static_cast<DWORD>(llLength), kSideBodyPatienceMs) == ERROR_SUCCESS) {
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
        if (!MsLeft())
            return FailDeadline(failure);
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
        const DWORD dwLeftMs = MsLeft();
        const DWORD dwPatienceMs = ConnectTimeoutMs() < dwLeftMs ? ConnectTimeoutMs() : dwLeftMs;
        failure.dwError = InternetErrorOf(m_helper.Send(hConnect, hRequest, strHeaders, dwPatienceMs));
        if (failure.dwError != ERROR_SUCCESS) {
            failure.kind = KindOfError(failure.dwError);
            if (!hRequest)
                LibraryLog(kLogWarning, kTransferLogFunction, L"no answer's headers within %lu ms of the request",
                           dwPatienceMs);
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
            const bool bStale = StartOverStale(QueryHeader(hRequest.Get(), HTTP_QUERY_ETAG),
                                               QueryHeader(hRequest.Get(), HTTP_QUERY_LAST_MODIFIED));
            if (!bStale && ullFirst == m_ullOffset) {
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

// A range answer that does not vouch for our bytes with the validator sent
// (a cache that ignores If-Range, and may keep another version or no
// validators at all) would splice two versions: the partial file is
// dropped then, and the request starts over from byte 0. True then.
bool CTransfer::StartOverStale(const std::wstring& strETag, const std::wstring& strLastModified)
{
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
    const LONGLONG llOrdered = m_req.llExpectedSize;
    const ULONGLONG ullCap = llOrdered > 0 ? kUnsizedCapBytes : UnsizedCapBytes();
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

}  // namespace nubra
