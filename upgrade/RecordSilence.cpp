#include "upgrade/RecordSilence.h"

#include "win/AwakeClock.h"

void CRecordSilence::Start(ULONGLONG ullNowMs, ULONGLONG ullLimitMs)
{
    m_ullLastMs = ullNowMs;
    m_ullLimitMs = ullLimitMs;
    m_bCounted = false;
    m_llLastDone = 0;
}

bool CRecordSilence::OnRecord(const DOWNLOAD_PROGRESS& record, int nTotalSize, ULONGLONG ullNowMs)
{
    // What is on disk by the record's own counts; a library may count the
    // real file or an unknown length, but it counts the same way throughout.
    const long long llDone = static_cast<long long>(nTotalSize) - record.unFileSize + record.unReceived;
    const bool bFinal = record.iState != DOWNLOAD_STATE_PROGRESS;
    const bool bMoved = m_bCounted ? llDone > m_llLastDone : record.unReceived > 0;
    m_bCounted = true;
    m_llLastDone = llDone;
    if (!bFinal && !bMoved)
        return false;
    m_ullLastMs = ullNowMs;
    return true;
}

bool CRecordSilence::IsSilent(ULONGLONG ullNowMs) const
{
    return AwakeMsSince(m_ullLastMs, ullNowMs) >= m_ullLimitMs;
}
