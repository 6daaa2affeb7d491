// The floor of a transfer's pace (see TransferFloor.h).
#include "NubraSdk/TransferFloor.h"

#include "NubraSdk/EnvSetting.h"

namespace nubra {

DWORD FloorPeriodMs()
{
    return static_cast<DWORD>(EnvironmentNumber(L"NUBRA_FLOOR_PERIOD_MS", 100, kFloorPeriodMs, kFloorPeriodMs));
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
