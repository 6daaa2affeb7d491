#include "upgrade/NetLossRule.h"

bool CNetLossRule::IsLoss(bool bReachable)
{
    if (bReachable) {
        m_bBeenReachable = true;
        return false;
    }
    return m_bBeenReachable;
}
