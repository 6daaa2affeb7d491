// The floor of a transfer's pace (see TransferFloor.h).
#include "NubraSdk/TransferFloor.h"

#include "NubraSdk/EnvSetting.h"

namespace nubra {

DWORD FloorPeriodMs()
{
    return static_cast<DWORD>(EnvironmentNumber(L"NUBRA_FLOOR_PERIOD_MS", 100, kFloorPeriodMs, kFloorPeriodMs));
}

ULONGLONG TransferDeadlineMs(LONGLONG llOrdered)
{
    ULONGLONG ullMs = kMinDeadlineMs;
    // Sizes beyond this would overflow below; no real file comes near.
    const ULONGLONG ullMaxSize = 1ull << 50;
    if (llOrdered > 0) {
        const ULONGLONG ullSize = static_cast<ULONGLONG>(llOrdered) < ullMaxSize ? llOrdered : ullMaxSize;
        const ULONGLONG ullAtPace = ullSize * 1000 / kDeadlinePaceBytes;
        if (ullAtPace > ullMs)
            ullMs = ullAtPace;
    }
    return EnvironmentNumber(L"NUBRA_TRANSFER_DEADLINE_MS", 100, ullMs, ullMs);
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
