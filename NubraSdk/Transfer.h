// One transfer of a file, retries included: the worker of Download.cpp runs
// it and sends its final record. Its members live in three files, one concern
// each: Transfer.cpp (the run, its retries and its records),
// TransferRequest.cpp (requests and the answers that are not the file) and
// TransferSink.cpp (the partial file and the body into it).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "NubraSdk/Download.h"
#include "NubraSdk/HttpQuery.h"
#include "NubraSdk/RecordPool.h"
#include "NubraSdk/RequestHelper.h"
#include "NubraSdk/RetryPolicy.h"
#include "NubraSdk/TransferFloor.h"
#include "netlib/DownloadRecord.h"
#include "win/Handles.h"

namespace nubra {

// The function the library's records name.
extern const wchar_t kTransferLogFunction[];

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
    bool Receive(CInetHandle& hConnect, CInetHandle& hRequest, HANDLE hFile, CAttemptFailure& failure);
    DOWNLOAD_PROGRESS CloseSink(const DOWNLOAD_PROGRESS& final);
    bool FailStall(const CTransferFloor& floor, CAttemptFailure& failure);
    bool FailDeadline(CAttemptFailure& failure);
    bool StartOverStale(const std::wstring& strETag, const std::wstring& strLastModified);
    // What is left of the call's deadline, in ms (0 once it has passed).
    DWORD MsLeft() const { return m_deadline.MsLeft(); }

    void DropAnswer(CInetHandle& hConnect, CInetHandle& hRequest);
    void SetAside(CInetHandle& hConnect, CInetHandle& hRequest);
    ULONGLONG BytesOnDisk() const;
    std::wstring ReasonText(const CAttemptFailure& failure) const;
    bool Refuse(CAttemptFailure& failure, DWORD dwError, LPCWSTR pszFormat, ...);

    const CDownloadRequest& m_req;
    CRecordPool& m_pool;
    CSharedSession m_session;
    // Runs the calls a server can draw out, within their deadlines.
    CRequestHelper m_helper;
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
    // Once a body slowed down during a block, it is read only as it arrives.
    bool m_bSlowReadsOnly = false;
    // The whole call ends by then, retries included.
    CTransferDeadline m_deadline;
    DWORD m_dwStatus = 0;
    DWORD m_dwError = 0;
    double m_dSpeed = 0;
    ULONGLONG m_ullLastReportTick = 0;
    ULONGLONG m_ullLastReportPos = 0;
};

}  // namespace nubra
