// A request's blocking calls on a helper thread, each within a deadline
// (see RequestHelper.h).
#include "NubraSdk/RequestHelper.h"

#include "NubraSdk/LibraryThreads.h"

namespace nubra {

namespace {

enum : LONG { kIdle = 0, kCalling = 1, kFinishing = 2, kDone = 3, kAbandoned = 4, kStop = 5 };
enum class CallKind { Send, ReadBody, ReadBlock };

DWORD WriteAll(HANDLE hFile, const BYTE* p, DWORD cb)
{
    while (cb) {
        DWORD dwWritten = 0;
        if (!::WriteFile(hFile, p, cb, &dwWritten, nullptr) || dwWritten == 0) {
            const DWORD dwError = ::GetLastError();
            return dwError ? dwError : ERROR_WRITE_FAULT;
        }
        p += dwWritten;
        cb -= dwWritten;
    }
    return ERROR_SUCCESS;
}

}  // namespace

// Shared by the transfer and its helper. The transfer frees it after the
// helper stopped; once the transfer left a call to the helper, the helper
// frees it.
struct CRequestHelper::CState {
    CSharedSession session;
    CInetHandle hConnect;  // only once a call is left to the helper
    CInetHandle hRequest;
    // The call.
    CallKind kind = CallKind::Send;
    HINTERNET hCalled = nullptr;
    std::wstring strHeaders;
    DWORD cb = 0;
    ULONGLONG cbMayWrite = 0;
    HANDLE hFile = nullptr;
    // Not cleared: its pages are touched only as far as reads fill them.
    std::unique_ptr<BYTE[]> block;
    CBlock result;
    CKernelHandle hGo;    // auto-reset: a call (or the stop) is waiting
    CKernelHandle hDone;  // auto-reset: the call is done
    volatile LONG lState = kIdle;
};

void CRequestHelper::RunCall(CState& state)
{
    CBlock& result = state.result;
    result = CBlock();
    switch (state.kind) {
    case CallKind::Send: {
        const std::wstring& h = state.strHeaders;
        if (!::HttpSendRequestW(state.hCalled, h.empty() ? nullptr : h.c_str(), static_cast<DWORD>(h.size()), nullptr,
                                0))
            result.dwReadError = ::GetLastError();
        break;
    }
    case CallKind::ReadBody:
    case CallKind::ReadBlock:
        // Returns when all came, or at the body's end.
        if (!::InternetReadFile(state.hCalled, state.block.get(), state.cb, &result.cbGot))
            result.dwReadError = ::GetLastError();
        break;
    }
}

DWORD WINAPI CRequestHelper::ThreadProc(void* pParam)
{
    CState* pState = static_cast<CState*>(pParam);
    try {
        for (;;) {
            ::WaitForSingleObject(pState->hGo.Get(), INFINITE);
            if (pState->lState == kStop)
                break;
            RunCall(*pState);
            if (::InterlockedCompareExchange(&pState->lState, kFinishing, kCalling) == kAbandoned) {
                // Request before connection before session: children first.
                pState->hRequest.Reset();
                pState->hConnect.Reset();
                delete pState;
                break;
            }
            // Written only when the transfer still waits for it.
            CBlock& result = pState->result;
            if (pState->kind == CallKind::ReadBlock && result.dwReadError == ERROR_SUCCESS &&
                result.cbGot <= pState->cbMayWrite)
                result.dwWriteError = WriteAll(pState->hFile, pState->block.get(), result.cbGot);
            pState->lState = kDone;
            ::SetEvent(pState->hDone.Get());
        }
    } catch (...) {
        // Nothing leaves a thread of the library.
    }
    ExitLibraryThread(0);
}

bool CRequestHelper::Start()
{
    std::unique_ptr<CState> pState(new CState);
    pState->session = m_session;
    pState->block.reset(new BYTE[kBlockBytes]);
    pState->hGo.Reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    pState->hDone.Reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    HANDLE hThread = nullptr;
    if (!pState->hGo || !pState->hDone || !StartLibraryThread(&ThreadProc, pState.get(), &hThread))
        return false;
    m_hThread.Reset(hThread);
    m_pState = pState.release();
    return true;
}

void CRequestHelper::Begin(HINTERNET hRequest)
{
    m_pState->hCalled = hRequest;
    m_pState->lState = kCalling;
    ::SetEvent(m_pState->hGo.Get());
}

// False when the call returned just now after all: the handles stay with
// the caller then, and the call's result is in.
bool CRequestHelper::Abandon(CInetHandle& hConnect, CInetHandle& hRequest)
{
    CState& state = *m_pState;
    // Handed over before the state is settled: once it is, the helper may
    // free it at any moment.
    state.hConnect = std::move(hConnect);
    state.hRequest = std::move(hRequest);
    if (::InterlockedCompareExchange(&state.lState, kAbandoned, kCalling) == kCalling) {
        m_pState = nullptr;  // the helper's now; the next call starts another
        return true;
    }
    // What follows the call (a block's write) is a matter of the disk.
    hConnect = std::move(state.hConnect);
    hRequest = std::move(state.hRequest);
    ::WaitForSingleObject(state.hDone.Get(), INFINITE);
    return false;
}

void CRequestHelper::Call(CInetHandle& hConnect, CInetHandle& hRequest, DWORD dwDeadlineMs)
{
    Begin(hRequest.Get());
    if (::WaitForSingleObject(m_pState->hDone.Get(), dwDeadlineMs) == WAIT_OBJECT_0)
        return;
    if (Abandon(hConnect, hRequest))
        m_hThread.Reset();
}

DWORD CRequestHelper::Send(CInetHandle& hConnect, CInetHandle& hRequest, const std::wstring& strHeaders,
                           DWORD dwDeadlineMs)
{
    if (!m_pState && !Start())
        return ERROR_NOT_ENOUGH_MEMORY;
    m_pState->kind = CallKind::Send;
    m_pState->strHeaders = strHeaders;
    Call(hConnect, hRequest, dwDeadlineMs);
    return hRequest ? m_pState->result.dwReadError : ERROR_INTERNET_TIMEOUT;
}

DWORD CRequestHelper::ReadBody(CInetHandle& hConnect, CInetHandle& hRequest, DWORD cbBody, DWORD dwDeadlineMs)
{
    if (!m_pState && !Start())
        return ERROR_NOT_ENOUGH_MEMORY;
    m_pState->kind = CallKind::ReadBody;
    m_pState->cb = cbBody < kBlockBytes ? cbBody : kBlockBytes;
    Call(hConnect, hRequest, dwDeadlineMs);
    if (!hRequest)
        return ERROR_INTERNET_TIMEOUT;
    const CBlock& result = m_pState->result;
    if (result.dwReadError != ERROR_SUCCESS)
        return result.dwReadError;
    return result.cbGot == cbBody ? ERROR_SUCCESS : ERROR_INTERNET_CONNECTION_RESET;
}

bool CRequestHelper::StartBlock(HINTERNET hRequest, DWORD cb, ULONGLONG cbMayWrite, HANDLE hFile)
{
    if (!m_pState && !Start())
        return false;
    m_pState->kind = CallKind::ReadBlock;
    m_pState->cb = cb < kBlockBytes ? cb : kBlockBytes;
    m_pState->cbMayWrite = cbMayWrite;
    m_pState->hFile = hFile;
    Begin(hRequest);
    return true;
}

bool CRequestHelper::WaitBlock(DWORD dwWaitMs, CBlock& result)
{
    if (::WaitForSingleObject(m_pState->hDone.Get(), dwWaitMs) != WAIT_OBJECT_0)
        return false;
    result = m_pState->result;
    return true;
}

bool CRequestHelper::AbandonBlock(CInetHandle& hConnect, CInetHandle& hRequest, CBlock& result)
{
    if (Abandon(hConnect, hRequest)) {
        m_hAbandoned = std::move(m_hThread);
        return true;
    }
    result = m_pState->result;
    return false;
}

bool CRequestHelper::WaitAbandoned(DWORD dwWaitMs)
{
    if (!m_hAbandoned)
        return true;
    if (::WaitForSingleObject(m_hAbandoned.Get(), dwWaitMs) != WAIT_OBJECT_0)
        return false;
    m_hAbandoned.Reset();
    return true;
}

CRequestHelper::~CRequestHelper()
{
    if (!m_pState)
        return;
    // Idle between calls: it stops at once.
    m_pState->lState = kStop;
    ::SetEvent(m_pState->hGo.Get());
    ::WaitForSingleObject(m_hThread.Get(), INFINITE);
    delete m_pState;
}

}  // namespace nubra
