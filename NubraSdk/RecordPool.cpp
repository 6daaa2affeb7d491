// Fixed pool of progress records handed to the window (see RecordPool.h).
#include "NubraSdk/RecordPool.h"

namespace nubra {

namespace {

constexpr int kSlotsPerBlock = 4;
constexpr int kBlocks = DOWNLOAD_RECORD_POOL_SIZE / kSlotsPerBlock;

// Alone in its section, so that its first record starts the section.
__attribute__((section(DOWNLOAD_RECORD_SECTION), used)) DOWNLOAD_PROGRESS g_aSharedRecords[DOWNLOAD_RECORD_POOL_SIZE];
volatile LONG g_alBlockTaken[kBlocks];

int TakeBlock()
{
    for (int i = 0; i < kBlocks; ++i) {
        if (::InterlockedCompareExchange(&g_alBlockTaken[i], 1, 0) == 0)
            return i;
    }
    return -1;
}

}  // namespace

CRecordPool::CRecordPool(HWND hWnd, UINT uMsg) : m_hWnd(hWnd), m_uMsg(uMsg)
{
    static_assert(kSlots == kSlotsPerBlock, "one block per pool");
    m_nBlock = TakeBlock();
    m_pRecords = m_nBlock >= 0 ? &g_aSharedRecords[m_nBlock * kSlotsPerBlock] : m_aOwnRecords;
    for (int i = 0; i < kSlots; ++i)
        m_pRecords[i] = DOWNLOAD_PROGRESS{};
}

CRecordPool::~CRecordPool()
{
    if (m_nBlock < 0)
        return;
    // A stale record must not look like a live one to a later reader.
    for (int i = 0; i < kSlots; ++i)
        m_pRecords[i] = DOWNLOAD_PROGRESS{};
    ::InterlockedExchange(&g_alBlockTaken[m_nBlock], 0);
}

void CALLBACK CRecordPool::OnHandled(HWND, UINT, ULONG_PTR dwData, LRESULT)
{
    *reinterpret_cast<bool*>(dwData) = false;
}

int CRecordPool::BusyCount() const
{
    int n = 0;
    for (bool b : m_abBusy)
        n += b ? 1 : 0;
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
    if (kSlots - BusyCount() <= nKeepFree)
        return false;
    for (int i = 0; i < kSlots; ++i) {
        if (m_abBusy[i])
            continue;
        m_pRecords[i] = rec;
        m_abBusy[i] = true;
        if (!::SendMessageCallbackW(m_hWnd, m_uMsg, reinterpret_cast<WPARAM>(&m_pRecords[i]), 0, &OnHandled,
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
        if (SendInSlot(rec, 0))
            return true;
        if (!::IsWindow(m_hWnd))
            return false;
        // Receipts arrive as messages: wake for them, or look again after
        // 50 ms, five seconds in all.
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    return false;
}

bool CRecordPool::WaitAllReleased(DWORD dwTimeout)
{
    const ULONGLONG ullEnd = ::GetTickCount64() + dwTimeout;
    for (;;) {
        Pump();
        if (BusyCount() == 0)
            return true;
        // A destroyed window's procedure can no longer read a queued record.
        if (!::IsWindow(m_hWnd))
            return true;
        const ULONGLONG ullNow = ::GetTickCount64();
        if (ullNow >= ullEnd)
            return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE,
                                    static_cast<DWORD>(ullEnd - ullNow < 100 ? ullEnd - ullNow : 100), QS_ALLINPUT);
    }
}

}  // namespace nubra
