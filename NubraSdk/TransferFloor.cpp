// The floor of a transfer's pace (see TransferFloor.h).
#include "NubraSdk/TransferFloor.h"

#include "NubraSdk/EnvSetting.h"

namespace nubra {

DWORD FloorPeriodMs()
{
    return static_cast<DWORD>(EnvironmentLimit(L"NUBRA_FLOOR_PERIOD_MS", kFloorPeriodFloorMs, kFloorPeriodMs));
}

namespace {

// The time a file of the ordered size takes at a pace, or ullLeast when longer.
ULONGLONG AtPaceMs(LONGLONG llOrdered, ULONGLONG ullPaceBytes, ULONGLONG ullLeast)
{
    // Sizes beyond this would overflow below; no real file comes near.
    const ULONGLONG ullMaxSize = 1ull << 50;
    if (llOrdered <= 0)
        return ullLeast;
    const ULONGLONG ullSize = static_cast<ULONGLONG>(llOrdered) < ullMaxSize ? llOrdered : ullMaxSize;
    const ULONGLONG ullAtPace = ullSize * 1000 / ullPaceBytes;
    return ullAtPace > ullLeast ? ullAtPace : ullLeast;
}

}  // namespace

ULONGLONG TransferDeadlineMs(LONGLONG llOrdered)
{
    return EnvironmentLimit(L"NUBRA_TRANSFER_DEADLINE_MS",
                            AtPaceMs(llOrdered, kDeadlineFloorPaceBytes, kDeadlineFloorMs),
                            AtPaceMs(llOrdered, kDeadlinePaceBytes, kMinDeadlineMs));
}

void CTransferDeadline::Start(ULONGLONG ullLengthMs)
{
    m_ullLengthMs = ullLengthMs;
    m_ullEndMs = m_pfnClock() + ullLengthMs;
}

DWORD CTransferDeadline::MsLeft() const
{
    const ULONGLONG ullNow = m_pfnClock();
    if (ullNow >= m_ullEndMs)
        return 0;
    const ULONGLONG ullLeft = m_ullEndMs - ullNow;
    // Below INFINITE, which no wait may be given by accident.
    return ullLeft < INFINITE ? static_cast<DWORD>(ullLeft) : INFINITE - 1;
}

bool CTransferFloor::Check(ULONGLONG ullNowMs, ULONGLONG ullReceived)
{
    if (ullNowMs - m_ullStartMs < m_dwPeriodMs)
        return true;
    m_ullPeriodBytes = ullReceived - m_ullStartBytes;
    m_ullPeriodMs = ullNowMs - m_ullStartMs;
    m_ullStartMs = ullNowMs;
    m_ullStartBytes = ullReceived;
    return m_ullPeriodBytes >= m_ullFloorBytes;
}

}  // namespace nubra
