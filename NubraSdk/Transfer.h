// One transfer of a file, retries included, run by the worker of
// Download.cpp: one loop reads what has arrived, writes it, reports it and
// decides, asking the rules of TransferRules.h.
//
// WinINet runs asynchronously: a call that would wait returns
// ERROR_IO_PENDING, and WinINet's own thread completes it and sets an event
// the loop waits on within its limits. A read takes whatever has arrived
// (IRF_NO_WAIT) and never waits inside WinINet, so no call is abandoned
// mid-read: when an attempt ends, every byte it received is on disk, and the
// next request asks only for what never arrived. Closing a handle ends a
// call WinINet still has; its notices live until WinINet says it is gone.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "NubraSdk/Download.h"
#include "NubraSdk/RecordPool.h"
#include "NubraSdk/TransferRules.h"
#include "netlib/DownloadRecord.h"
#include "win/Handles.h"

namespace nubra {

class CRequest;
struct CRequestNotices;

class CTransfer {
public:
    CTransfer(const CDownloadRequest& req, CRecordPool& pool) : m_req(req), m_pool(pool) {}
    // Waits, within bounds, until WinINet has let go of every request.
    ~CTransfer();
    CTransfer(const CTransfer&) = delete;
    CTransfer& operator=(const CTransfer&) = delete;

    // The whole transfer, retries included; its final record.
    DOWNLOAD_PROGRESS Run();

private:
    DOWNLOAD_PROGRESS Record(int32_t iState) const;
    void Report(bool bForce);
    bool Attempt(CAttemptFailure& failure);
    bool OpenResponse(CRequest& request, CAttemptFailure& failure);
    bool Send(CRequest& request, const std::wstring& strUrl, CAttemptFailure& failure);
    bool StartOverStale(HINTERNET hRequest);
    bool CheckBounds(HINTERNET hRequest, CAttemptFailure& failure);
    bool OpenSink(HINTERNET hRequest, CKernelHandle& hFile, CAttemptFailure& failure);
    bool Receive(CRequest& request, HANDLE hFile, CAttemptFailure& failure);
    DOWNLOAD_PROGRESS CloseSink(const DOWNLOAD_PROGRESS& final);
    DWORD MsLeft() const { return m_deadline.MsLeft(); }

    const CDownloadRequest& m_req;
    CRecordPool& m_pool;
    CInetHandle m_hSession;
    // Requests closed while WinINet still had a call of theirs.
    std::vector<CRequestNotices*> m_left;
    std::vector<BYTE> m_buffer;
    // The validator of the bytes on disk, sent with If-Range.
    std::wstring m_strValidator;
    // Bytes on disk when the call began: what the records count from.
    ULONGLONG m_ullRunStart = 0;
    // Where the current attempt's answer starts, and what it brought so far.
    ULONGLONG m_ullOffset = 0, m_ullReceived = 0;
    LONGLONG m_llRangeTotal = -1;
    // The file's size once an answer announced it; 0 until then.
    ULONGLONG m_ullTotal = 0, m_ullMaxBody = 0;
    bool m_bExact = false, m_bOverrun = false;
    CTransferLimits m_limits = {};
    CTransferDeadline m_deadline;
    DWORD m_dwStatus = 0, m_dwError = 0;
    double m_dSpeed = 0;
    ULONGLONG m_ullLastReportTick = 0, m_ullLastReportPos = 0;
};

}  // namespace nubra
