// The run of a transfer: its attempts and retries, and the records that
// report it (see Transfer.h).
#include "NubraSdk/Transfer.h"

#include <cstdarg>

#include "NubraSdk/LibraryLog.h"
#include "NubraSdk/PartialFile.h"

namespace nubra {

const wchar_t kTransferLogFunction[] = L"Nubra_SDK::Transfer";

namespace {

// About four progress records a second at most.
constexpr ULONGLONG kReportPeriodMs = 250;

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

}  // namespace

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
    const ULONGLONG ullNow = AwakeTickMs();
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
    va_list args;
    va_start(args, pszFormat);
    LibraryLogV(kLogError, kTransferLogFunction, L"refused answer: ", pszFormat, args);
    va_end(args);
    failure.kind = FailureKind::Refused;
    failure.dwError = dwError;
    return false;
}

bool CTransfer::FailDeadline(CAttemptFailure& failure)
{
    failure.kind = FailureKind::Deadline;
    failure.dwError = ERROR_INTERNET_TIMEOUT;
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

// One request and its answer into the partial file; true when the file is
// complete.
bool CTransfer::Attempt(CAttemptFailure& failure)
{
    m_ullReceived = 0;
    m_llRangeTotal = -1;
    m_dwStatus = 0;
    // A block left to a helper at a stall may still be receiving: the file
    // is asked for again only once it has stopped.
    if (!m_helper.WaitAbandoned(MsLeft()))
        return FailDeadline(failure);
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
    const bool bComplete = Receive(hConnect, hRequest, hFile.Get(), failure);
    // Closed before the rename, which a handle still open would block.
    hFile.Reset();
    if (bComplete)
        return true;  // its connection serves the next transfer
    // A body that broke, went quiet or crawled is closed before the retry
    // asks again, so that two answers never arrive side by side; closing
    // reads on only what has already come. The rest of any other is not
    // waited for: a fast body would be read to its end.
    if (IsRetryable(failure)) {
        hRequest.Reset();
        hConnect.Reset();
    }
    SetAside(hConnect, hRequest);
    return false;
}

DOWNLOAD_PROGRESS CTransfer::Run()
{
    CHttpAddress address;
    m_dwError = CrackHttpAddress(m_req.strUrl, address);
    if (m_dwError != ERROR_SUCCESS)
        return Record(DOWNLOAD_STATE_NET_FAILED);
    m_ullOffset = ResumableBytes(m_req.strTarget, m_req.strUrl, m_req.llExpectedSize, m_strValidator);
    m_ullRunStart = m_ullOffset;
    m_deadline.Start(TransferDeadlineMs(m_req.llExpectedSize));
    if (!OpenSession())
        return Record(DOWNLOAD_STATE_NET_FAILED);

    const int nRetries = RetryLimit();
    for (int nRetry = 0;; ++nRetry) {
        CAttemptFailure failure;
        if (Attempt(failure)) {
            m_dwError = ERROR_SUCCESS;
            return CloseSink(Record(DOWNLOAD_STATE_FINISHED));
        }
        const bool bRetryable = IsRetryable(failure);
        if (bRetryable && !MsLeft())
            FailDeadline(failure);
        m_dwError = failure.dwError;
        if (failure.kind == FailureKind::Deadline) {
            LibraryLog(kLogError, kTransferLogFunction,
                       L"giving up: the call ran out its deadline of %llu ms; %llu bytes stay for a resume",
                       m_deadline.LengthMs(), BytesOnDisk());
            return CloseSink(Record(DOWNLOAD_STATE_NET_FAILED));
        }
        if (!bRetryable || nRetry >= nRetries) {
            if (bRetryable)
                LibraryLog(kLogError, kTransferLogFunction, L"giving up after %d retries: %s", nRetry,
                           ReasonText(failure).c_str());
            else
                LibraryLog(kLogError, kTransferLogFunction, L"not tried again after %s: %s",
                           ReasonText(failure).c_str(), WhyNotRetried(failure));
            const int32_t iState =
                failure.kind == FailureKind::Local ? DOWNLOAD_STATE_FILE_FAILED : DOWNLOAD_STATE_NET_FAILED;
            return CloseSink(Record(iState));
        }
        // From the bytes on disk, when their validator can vouch for them.
        m_ullOffset = m_strValidator.empty() ? 0 : BytesOnDisk();
        m_ullReceived = 0;
        DWORD dwPauseMs = RetryPauseMs(nRetry + 1, FirstRetryPauseMs(), failure.llRetryAfterSeconds);
        LibraryLog(kLogWarning, kTransferLogFunction, L"retry %d of %d in %s after %s, resuming at byte %llu",
                   nRetry + 1, nRetries, SecondsText(dwPauseMs).c_str(), ReasonText(failure).c_str(), m_ullOffset);
        // A pause beyond the deadline ends at it; the next attempt then ends the call.
        const DWORD dwLeftMs = MsLeft();
        ::Sleep(dwPauseMs < dwLeftMs ? dwPauseMs : dwLeftMs);
    }
}

}  // namespace nubra
