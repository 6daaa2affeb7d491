// The transfer's disk writer (see BackgroundWriter.h).
#include "NubraSdk/BackgroundWriter.h"

namespace nubra {

CBackgroundWriter::~CBackgroundWriter()
{
    if (!m_hThread)
        return;
    ::WaitForSingleObject(m_hIdle.Get(), INFINITE);
    m_bStop = true;
    ::SetEvent(m_hWork.Get());
    ::WaitForSingleObject(m_hThread.Get(), INFINITE);
}

bool CBackgroundWriter::Start()
{
    m_hWork.Reset(::CreateEventW(nullptr, FALSE /* auto-reset */, FALSE, nullptr));
    m_hIdle.Reset(::CreateEventW(nullptr, TRUE /* manual reset */, TRUE, nullptr));
    if (!m_hWork || !m_hIdle)
        return false;
    // The download thread holds the module reference and joins this thread
    // before it ends, so a plain thread suffices.
    m_hThread.Reset(::CreateThread(nullptr, 0, &CBackgroundWriter::ThreadProc, this, 0, nullptr));
    return static_cast<bool>(m_hThread);
}

bool CBackgroundWriter::WriteNow(const BYTE* p, DWORD cb)
{
    while (cb) {
        DWORD dwWritten = 0;
        if (!::WriteFile(m_hFile, p, cb, &dwWritten, nullptr) || dwWritten == 0) {
            m_dwError = ::GetLastError();
            if (!m_dwError)
                m_dwError = ERROR_WRITE_FAULT;
            m_bFailed = true;
            return false;
        }
        p += dwWritten;
        cb -= dwWritten;
    }
    return true;
}

DWORD WINAPI CBackgroundWriter::ThreadProc(void* pParam)
{
    auto* pThis = static_cast<CBackgroundWriter*>(pParam);
    try {
        for (;;) {
            ::WaitForSingleObject(pThis->m_hWork.Get(), INFINITE);
            if (pThis->m_bStop)
                break;
            // A failure is kept and reported at the next hand-over.
            pThis->WriteNow(pThis->m_pBlock, pThis->m_cbBlock);
            ::SetEvent(pThis->m_hIdle.Get());
        }
    } catch (...) {
        // Nothing leaves a thread of the library.
    }
    return 0;
}

bool CBackgroundWriter::Write(const BYTE* p, DWORD cb)
{
    if (!m_hThread)
        return !m_bFailed && WriteNow(p, cb);
    if (!Finish())
        return false;
    if (!cb)
        return true;
    m_pBlock = p;
    m_cbBlock = cb;
    ::ResetEvent(m_hIdle.Get());
    ::SetEvent(m_hWork.Get());
    return true;
}

bool CBackgroundWriter::Finish()
{
    if (m_hThread)
        ::WaitForSingleObject(m_hIdle.Get(), INFINITE);
    return !m_bFailed;
}

}  // namespace nubra
