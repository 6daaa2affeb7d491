// Fixed pool of progress records handed to the window (see RecordPool.h).
#include "NubraSdk/RecordPool.h"

namespace nubra {

void CALLBACK CRecordPool::OnHandled(HWND, UINT, ULONG_PTR dwData, LRESULT)
{
    *reinterpret_cast<bool*>(dwData) = false;
}

int CRecordPool::BusyCount() const
{
    int n = 0;
    for (bool b : m_abBusy) n += b ? 1 : 0;
    return n;
}

void CRecordPool::Pump()
{
    // Sent-message callbacks are delivered while this thread retrieves
    // messages; nothing else is ever posted to a worker thread.
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

bool CRecordPool::SendInSlot(const DOWNLOAD_PROGRESS& rec, int nKeepFree)
{
    Pump();
    if (kSlots - BusyCount() <= nKeepFree) return false;
    for (int i = 0; i < kSlots; ++i) {
        if (m_abBusy[i]) continue;
        m_aRecords[i] = rec;
        m_abBusy[i] = true;
        if (!::SendMessageCallbackW(m_hWnd, m_uMsg, reinterpret_cast<WPARAM>(&m_aRecords[i]), 0, &OnHandled,
                                    reinterpret_cast<ULONG_PTR>(&m_abBusy[i]))) {
            m_abBusy[i] = false;  // the window is gone: nobody will read it
            return false;
        }
        return true;
    }
    return false;
}

bool CRecordPool::SendProgress(const DOWNLOAD_PROGRESS& rec)
{
    return SendInSlot(rec, 1);
}

bool CRecordPool::SendFinal(const DOWNLOAD_PROGRESS& rec)
{
    // The reserved slot guarantees a free one unless a previous final record
    // is still queued, which a transfer never does; wait briefly anyway.
    for (int nTries = 0; nTries < 100; ++nTries) {
        if (SendInSlot(rec, 0)) return true;
        if (!::IsWindow(m_hWnd)) return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    return false;
}

bool CRecordPool::WaitAllReleased(DWORD dwTimeout)
{
    const ULONGLONG ullEnd = ::GetTickCount64() + dwTimeout;
    for (;;) {
        Pump();
        if (BusyCount() == 0) return true;
        // A destroyed window's procedure can no longer read a queued record.
        if (!::IsWindow(m_hWnd)) return true;
        const ULONGLONG ullNow = ::GetTickCount64();
        if (ullNow >= ullEnd) return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(ullEnd - ullNow < 100 ? ullEnd - ullNow : 100),
                                    QS_ALLINPUT);
    }
}

}  // namespace nubra
