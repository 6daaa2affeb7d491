// The transfer worker: WinINet request, resume, streaming to the partial
// file, progress records, and the final rename.
#include "NubraSdk/Download.h"

#include <wininet.h>

#include <memory>
#include <vector>

#include "NubraSdk/BackgroundWriter.h"
#include "NubraSdk/HttpQuery.h"
#include "NubraSdk/LibraryThreads.h"
#include "NubraSdk/PartialFile.h"
#include "NubraSdk/RecordPool.h"
#include "NubraSdk/TransferBounds.h"
#include "netlib/DownloadRecord.h"
#include "win/Handles.h"

namespace nubra {

namespace {

// Disk writes in large blocks; memory stays this size whatever the file.
constexpr DWORD kBufferBytes = 1024 * 1024;
// The first read is small so that a slow link shows progress within a
// fraction of a second; reads then grow while data streams.
constexpr DWORD kMinChunk = 1024;
constexpr DWORD kFirstChunk = 1024;
// About four progress records a second at most.
constexpr ULONGLONG kReportPeriodMs = 250;
// How long a finished worker waits for the window to handle its last
// records before it gives up and leaves the few hundred bytes behind.
constexpr DWORD kReleaseWaitMs = 10 * 60 * 1000;

uint32_t Clamp32(ULONGLONG v)
{
    return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
}

class CTransfer {
public:
    CTransfer(const CDownloadRequest& req, CRecordPool& pool) : m_req(req), m_pool(pool) {}
    DOWNLOAD_PROGRESS Run();

private:
    DOWNLOAD_PROGRESS Record(int32_t iState) const;
    DOWNLOAD_PROGRESS Fail(int32_t iState, DWORD dwError)
    {
        m_dwError = dwError;
        return Record(iState);
    }
    CInetHandle Connect(HINTERNET hSession, const CHttpAddress& address);
    CInetHandle SendRequest(HINTERNET hConnect, const std::wstring& strPath, bool bSecure,
                            const std::wstring& strValidator);
    bool OpenResponse(HINTERNET hSession, CInetHandle& hConnect, CInetHandle& hRequest, std::wstring& strValidator);
    bool Negotiate(CInetHandle& hSession, CInetHandle& hConnect, CInetHandle& hRequest);
    bool OpenSink(HINTERNET hRequest, CKernelHandle& hFile);
    DOWNLOAD_PROGRESS Receive(HINTERNET hRequest, HANDLE hFile);
    DOWNLOAD_PROGRESS CloseSink(const DOWNLOAD_PROGRESS& final);
    void Report(bool bForce);
    ULONGLONG TransferSize() const;

    const CDownloadRequest& m_req;
    CRecordPool& m_pool;
    ULONGLONG m_ullOffset = 0;
    ULONGLONG m_ullReceived = 0;
    LONGLONG m_llRangeTotal = -1;
    // Set once the answer's size was checked against the order.
    bool m_bBounded = false;
    ULONGLONG m_ullMaxBody = 0;
    bool m_bExact = false;
    bool m_bOverrun = false;
    DWORD m_dwStatus = 0;
    DWORD m_dwError = 0;
    double m_dSpeed = 0;
    ULONGLONG m_ullLastReportTick = 0;
    ULONGLONG m_ullLastReportBytes = 0;
};

ULONGLONG CTransfer::TransferSize() const
{
    if (m_bBounded)
        return m_bExact ? m_ullMaxBody : 0;
    // Before an answer the caller's expected size is the best guess; the
    // window ignores records whose size and position are both zero.
    const ULONGLONG ullExpected = m_req.llExpectedSize > 0 ? static_cast<ULONGLONG>(m_req.llExpectedSize) : 0;
    return ullExpected > m_ullOffset ? ullExpected - m_ullOffset : 0;
}

DOWNLOAD_PROGRESS CTransfer::Record(int32_t iState) const
{
    DOWNLOAD_PROGRESS rec = {};
    rec.iState = iState;
    rec.unFileSize = Clamp32(TransferSize());
    rec.unPosition = Clamp32(m_ullOffset);
    rec.unReceived = Clamp32(m_ullReceived);
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
    if (m_ullLastReportTick && ullNow > m_ullLastReportTick) {
        const double dInstant = static_cast<double>(m_ullReceived - m_ullLastReportBytes) * 1000.0 /
                                static_cast<double>(ullNow - m_ullLastReportTick) / 1024.0;
        // Smoothed so that the display does not jitter with every block.
        m_dSpeed = m_dSpeed == 0 ? dInstant : 0.7 * m_dSpeed + 0.3 * dInstant;
    }
    m_ullLastReportTick = ullNow;
    m_ullLastReportBytes = m_ullReceived;
    m_pool.SendProgress(Record(DOWNLOAD_STATE_PROGRESS));
}

CInetHandle CTransfer::Connect(HINTERNET hSession, const CHttpAddress& address)
{
    CInetHandle hConnect(::InternetConnectW(hSession, address.strHost.c_str(), address.nPort, nullptr, nullptr,
                                            INTERNET_SERVICE_HTTP, 0, 0));
    if (!hConnect) {
        m_dwError = ::GetLastError();
        return hConnect;
    }
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

CInetHandle CTransfer::SendRequest(HINTERNET hConnect, const std::wstring& strPath, bool bSecure,
                                   const std::wstring& strValidator)
{
    LPCWSTR apszAccept[] = {L"*/*", nullptr};
    // Redirects are followed here, not by WinINet, which would follow a loop
    // for ever and to any scheme.
    DWORD dwFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                    INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_KEEP_CONNECTION |
                    INTERNET_FLAG_NO_AUTO_REDIRECT;
    if (bSecure)
        dwFlags |= INTERNET_FLAG_SECURE;
    CInetHandle hRequest(
        ::HttpOpenRequestW(hConnect, L"GET", strPath.c_str(), nullptr, nullptr /* referrer */, apszAccept, dwFlags, 0));
    if (!hRequest) {
        m_dwError = ::GetLastError();
        return hRequest;
    }
    SetHandleTimeouts(hRequest.Get());
    std::wstring strHeaders;
    if (m_ullOffset) {
        strHeaders = L"Range: bytes=" + std::to_wstring(m_ullOffset) + L"-\r\n";
        // The server sends the whole file instead of the range when its copy
        // is no longer the one our bytes came from.
        strHeaders += L"If-Range: " + strValidator + L"\r\n";
    }
    if (!::HttpSendRequestW(hRequest.Get(), strHeaders.empty() ? nullptr : strHeaders.c_str(),
                            static_cast<DWORD>(strHeaders.size()), nullptr, 0)) {
        m_dwError = ::GetLastError();
        hRequest.Reset();
    }
    return hRequest;
}

bool CTransfer::OpenResponse(HINTERNET hSession, CInetHandle& hConnect, CInetHandle& hRequest,
                             std::wstring& strValidator)
{
    std::wstring strUrl = m_req.strUrl;
    CHttpAddress connected;
    int nAuthRetries = 0, nRestarts = 0, nRedirects = 0;
    for (;;) {
        CHttpAddress address;
        m_dwError = CrackHttpAddress(strUrl, address);
        if (m_dwError != ERROR_SUCCESS)
            return false;
        if (!hConnect || address.strHost != connected.strHost || address.nPort != connected.nPort) {
            hRequest.Reset();
            hConnect = Connect(hSession, address);
            if (!hConnect)
                return false;
            connected = address;
        }
        hRequest = SendRequest(hConnect.Get(), address.strPath, address.bSecure, strValidator);
        if (!hRequest)
            return false;
        m_dwStatus = QueryStatus(hRequest.Get());
        // The first answer of an authenticating proxy is its challenge.
        if (m_dwStatus == HTTP_STATUS_PROXY_AUTH_REQ && !m_req.proxy.strServer.empty() &&
            !m_req.proxy.strUser.empty() && nAuthRetries++ == 0)
            continue;
        if (IsRedirectStatus(m_dwStatus)) {
            std::wstring strNext;
            if (++nRedirects > kMaxRedirects ||
                !RedirectTarget(strUrl, QueryHeader(hRequest.Get(), HTTP_QUERY_LOCATION), strNext)) {
                m_dwError = ERROR_HTTP_REDIRECT_FAILED;
                return false;
            }
            strUrl = strNext;
            continue;
        }
        if (m_dwStatus == HTTP_STATUS_PARTIAL_CONTENT && m_ullOffset) {
            ULONGLONG ullFirst = 0, ullLast = 0;
            LONGLONG llTotal = 0;
            if (ParseContentRange(QueryHeader(hRequest.Get(), HTTP_QUERY_CONTENT_RANGE), ullFirst, ullLast, llTotal) &&
                ullFirst == m_ullOffset) {
                m_llRangeTotal = llTotal;
                return true;
            }
            // Any other range cannot be stitched onto our bytes.
        } else if (m_dwStatus == HTTP_STATUS_OK) {
            m_ullOffset = 0;  // the server ignored the range or the file changed
            return true;
        } else if (m_dwStatus != 416 || !m_ullOffset) {
            m_dwError = ERROR_HTTP_INVALID_SERVER_RESPONSE;
            return false;
        }
        // 416 or an unusable range: forget the partial file and start over.
        if (nRestarts++ > 0) {
            m_dwError = ERROR_HTTP_INVALID_SERVER_RESPONSE;
            return false;
        }
        m_ullOffset = 0;
        strValidator.clear();
    }
}

DOWNLOAD_PROGRESS CTransfer::Receive(HINTERNET hRequest, HANDLE hFile)
{
    // One buffer, written in place when full. A second buffer handed to a
    // writer thread was measured slower than this on a busy two-core
    // machine: the thread competes with the reader, the server and the
    // system for the cores, and each hand-over is a wait; while this thread
    // writes, the socket's own buffer keeps receiving anyway.
    std::vector<BYTE> buffer(kBufferBytes);
    BYTE* const pBuffer = buffer.data();
    DWORD dwFill = 0;
    DWORD dwChunk = kFirstChunk;
    bool bFirstBytes = true;
    CBackgroundWriter writer(hFile);  // not started: it writes in place
    Report(true);
    for (;;) {
        DWORD dwWant = dwChunk < kBufferBytes - dwFill ? dwChunk : kBufferBytes - dwFill;
        // Ask for one byte more than may still come: receiving it proves an
        // overrun without reading on.
        const ULONGLONG ullLeft = m_ullMaxBody - m_ullReceived;
        if (ullLeft < dwWant)
            dwWant = static_cast<DWORD>(ullLeft) + 1;
        DWORD dwGot = 0;
        const ULONGLONG ullStart = ::GetTickCount64();
        if (!::InternetReadFile(hRequest, pBuffer + dwFill, dwWant, &dwGot)) {
            const DWORD dwError = ::GetLastError();
            // Keep what arrived for a resume.
            writer.Write(pBuffer, dwFill);
            writer.Finish();
            return Fail(DOWNLOAD_STATE_NET_FAILED, dwError);
        }
        if (dwGot > ullLeft) {
            m_bOverrun = true;
            writer.Finish();
            return Fail(DOWNLOAD_STATE_NET_FAILED, ERROR_HTTP_INVALID_SERVER_RESPONSE);
        }
        // A read returns only when its block is full, so the block follows
        // the rate: it starts small so that a slow link reports soon, grows
        // while data streams, and shrinks when it trickles.
        const ULONGLONG ullTook = ::GetTickCount64() - ullStart;
        if (ullTook < 50 && dwGot == dwWant && dwChunk < kBufferBytes)
            dwChunk *= 2;
        else if (ullTook > kReportPeriodMs && dwChunk > kMinChunk)
            dwChunk /= 2;

        dwFill += dwGot;
        m_ullReceived += dwGot;
        if (dwGot == 0 || dwFill == kBufferBytes) {
            if (!writer.Write(pBuffer, dwFill))
                return Fail(DOWNLOAD_STATE_FILE_FAILED, writer.Error());
            dwFill = 0;
        }
        if (dwGot == 0)
            break;
        Report(bFirstBytes);
        bFirstBytes = false;
    }
    if (!writer.Finish())
        return Fail(DOWNLOAD_STATE_FILE_FAILED, writer.Error());
    // A connection that closed early looks like a normal end to the reader.
    if (m_bExact && m_ullReceived < m_ullMaxBody)
        return Fail(DOWNLOAD_STATE_NET_FAILED, ERROR_INTERNET_CONNECTION_RESET);
    return Record(DOWNLOAD_STATE_FINISHED);
}

// Request negotiation: the session, the request for what is still missing,
// the proxy's challenge and the redirects, and the answer's size checked
// against the order. False with m_dwError set.
bool CTransfer::Negotiate(CInetHandle& hSession, CInetHandle& hConnect, CInetHandle& hRequest)
{
    CHttpAddress address;
    m_dwError = CrackHttpAddress(m_req.strUrl, address);
    if (m_dwError != ERROR_SUCCESS)
        return false;

    std::wstring strValidator;
    m_ullOffset = ResumableBytes(m_req.strTarget, m_req.strUrl, m_req.llExpectedSize, strValidator);

    const bool bProxy = !m_req.proxy.strServer.empty();
    hSession.Reset(::InternetOpenW(L"NubraSdk/1.0", bProxy ? INTERNET_OPEN_TYPE_PROXY : INTERNET_OPEN_TYPE_PRECONFIG,
                                   bProxy ? m_req.proxy.strServer.c_str() : nullptr, nullptr /* bypass */, 0));
    if (!hSession) {
        m_dwError = ::GetLastError();
        return false;
    }
    SetHandleTimeouts(hSession.Get());

    if (!OpenResponse(hSession.Get(), hConnect, hRequest, strValidator))
        return false;
    // Checked before the partial file is touched: an answer that contradicts
    // the order costs neither disk nor the bytes a resume could still use.
    if (!BodyBounds(m_req.llExpectedSize, m_ullOffset, QueryContentLength(hRequest.Get()), m_llRangeTotal,
                    UnsizedCapBytes(), m_ullMaxBody, m_bExact)) {
        m_dwError = ERROR_HTTP_INVALID_SERVER_RESPONSE;
        return false;
    }
    m_bBounded = true;
    return true;
}

// The sink's start: the partial file positioned where the answer's bytes
// belong, and the note of the validator they came with. False with
// m_dwError set.
bool CTransfer::OpenSink(HINTERNET hRequest, CKernelHandle& hFile)
{
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
        m_dwError = ::GetLastError();
        return false;
    }
    // Cut only when there is something to cut, for the same reason.
    if (liSize.QuadPart != li.QuadPart && !::SetEndOfFile(hFile.Get())) {
        m_dwError = ::GetLastError();
        return false;
    }
    // The note goes down before any byte of the new body, so a later run never
    // pairs these bytes with an older validator.
    const std::wstring strNewValidator =
        ChooseValidator(QueryHeader(hRequest, HTTP_QUERY_ETAG), QueryHeader(hRequest, HTTP_QUERY_LAST_MODIFIED));
    if (strNewValidator.empty()) {
        ::DeleteFileW(strMeta.c_str());
    } else if (!WritePartMeta(strMeta, CPartMeta{m_req.strUrl, strNewValidator, m_req.llExpectedSize})) {
        m_dwError = ::GetLastError();
        return false;
    }
    return true;
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
    if (!::MoveFileExW(strPart.c_str(), m_req.strTarget.c_str(), MOVEFILE_REPLACE_EXISTING))
        return Fail(DOWNLOAD_STATE_FILE_FAILED, ::GetLastError());
    // The note belongs to the partial file, which is gone now.
    ::DeleteFileW(strMeta.c_str());
    return final;
}

DOWNLOAD_PROGRESS CTransfer::Run()
{
    // Declared in this order so that the request closes before its
    // connection and the connection before the session.
    CInetHandle hSession, hConnect, hRequest;
    if (!Negotiate(hSession, hConnect, hRequest))
        return Fail(DOWNLOAD_STATE_NET_FAILED, m_dwError);
    CKernelHandle hFile;
    if (!OpenSink(hRequest.Get(), hFile))
        return Fail(DOWNLOAD_STATE_FILE_FAILED, m_dwError);
    const DOWNLOAD_PROGRESS final = Receive(hRequest.Get(), hFile.Get());
    // Closed before the rename, which a handle still open would block.
    hFile.Reset();
    return CloseSink(final);
}

DWORD RunDownload(std::unique_ptr<CDownloadRequest> req)
{
    try {
        auto pool = std::make_unique<CRecordPool>(req->hNotify, req->uMsg);
        DOWNLOAD_PROGRESS final = {};
        try {
            CTransfer transfer(*req, *pool);
            final = transfer.Run();
        } catch (...) {
            final.iState = DOWNLOAD_STATE_NET_FAILED;
        }
        pool->SendFinal(final);
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
