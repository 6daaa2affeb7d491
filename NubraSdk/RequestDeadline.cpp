// A request's blocking calls on a helper thread, waited for within a
// deadline (see RequestDeadline.h).
#include "NubraSdk/RequestDeadline.h"

#include <vector>

#include "NubraSdk/LibraryThreads.h"

namespace nubra {

namespace {

enum : LONG { kRunning = 0, kDone = 1, kAbandoned = 2 };

// Shared by the transfer and the helper; whoever settles the state last
// frees it: the transfer when the call ended in time, the helper otherwise.
struct CBlockingCall {
    CSharedSession session;
    CInetHandle hConnect;
    CInetHandle hRequest;
    bool bSend = true;
    std::wstring strHeaders;  // to send
    DWORD cbBody = 0;         // to read
    DWORD dwResult = ERROR_SUCCESS;
    volatile LONG lState = kRunning;
};

DWORD Send(HINTERNET hRequest, const std::wstring& strHeaders)
{
    return ::HttpSendRequestW(hRequest, strHeaders.empty() ? nullptr : strHeaders.c_str(),
                              static_cast<DWORD>(strHeaders.size()), nullptr, 0)
               ? ERROR_SUCCESS
               : ::GetLastError();
}

DWORD ReadBody(HINTERNET hRequest, DWORD cbBody)
{
    std::vector<BYTE> buffer(cbBody ? cbBody : 1);
    DWORD cbRead = 0;
    while (cbRead < cbBody) {
        DWORD cbGot = 0;
        if (!::InternetReadFile(hRequest, buffer.data() + cbRead, cbBody - cbRead, &cbGot))
            return ::GetLastError();
        if (cbGot == 0)
            return ERROR_INTERNET_CONNECTION_RESET;  // ended short of its length
        cbRead += cbGot;
    }
    return ERROR_SUCCESS;
}

void Call(CBlockingCall& call)
{
    call.dwResult =
        call.bSend ? Send(call.hRequest.Get(), call.strHeaders) : ReadBody(call.hRequest.Get(), call.cbBody);
}

DWORD WINAPI CallThread(void* pParam)
{
    CBlockingCall* pCall = static_cast<CBlockingCall*>(pParam);
    try {
        Call(*pCall);
        if (::InterlockedCompareExchange(&pCall->lState, kDone, kRunning) == kAbandoned) {
            // Request before connection before session: children first.
            pCall->hRequest.Reset();
            pCall->hConnect.Reset();
            delete pCall;
        }
    } catch (...) {
        // Nothing leaves a thread of the library.
    }
    ExitLibraryThread(0);
}

DWORD CallWithinDeadline(std::unique_ptr<CBlockingCall> pCall, CInetHandle& hConnect, CInetHandle& hRequest,
                         DWORD dwDeadlineMs)
{
    pCall->hRequest = std::move(hRequest);
    HANDLE hRawThread = nullptr;
    if (!StartLibraryThread(&CallThread, pCall.get(), &hRawThread)) {
        // No thread to spare: call here, without the deadline.
        Call(*pCall);
        hRequest = std::move(pCall->hRequest);
        return pCall->dwResult;
    }
    const CKernelHandle hThread(hRawThread);
    ::WaitForSingleObject(hThread.Get(), dwDeadlineMs);
    // Handed over before the state is settled: once it is, an abandoned
    // helper may free the call at any moment.
    pCall->hConnect = std::move(hConnect);
    if (::InterlockedCompareExchange(&pCall->lState, kAbandoned, kRunning) == kRunning) {
        // Too late: the helper keeps what its call still uses.
        pCall.release();
        return ERROR_INTERNET_TIMEOUT;
    }
    hConnect = std::move(pCall->hConnect);
    hRequest = std::move(pCall->hRequest);
    return pCall->dwResult;
}

}  // namespace

DWORD SendWithinDeadline(const CSharedSession& session, CInetHandle& hConnect, CInetHandle& hRequest,
                         const std::wstring& strHeaders, DWORD dwDeadlineMs)
{
    std::unique_ptr<CBlockingCall> pCall(new CBlockingCall);
    pCall->session = session;
    pCall->strHeaders = strHeaders;
    return CallWithinDeadline(std::move(pCall), hConnect, hRequest, dwDeadlineMs);
}

DWORD ReadBodyWithinDeadline(const CSharedSession& session, CInetHandle& hConnect, CInetHandle& hRequest, DWORD cbBody,
                             DWORD dwDeadlineMs)
{
    std::unique_ptr<CBlockingCall> pCall(new CBlockingCall);
    pCall->session = session;
    pCall->bSend = false;
    pCall->cbBody = cbBody;
    return CallWithinDeadline(std::move(pCall), hConnect, hRequest, dwDeadlineMs);
}

}  // namespace nubra
