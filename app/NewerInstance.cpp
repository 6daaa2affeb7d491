#include "app/NewerInstance.h"

bool SessionOfProcess(DWORD dwPid, DWORD* pdwSession)
{
    return ::ProcessIdToSessionId(dwPid, pdwSession) != FALSE;
}

bool IsNewerInstance(DWORD dwSlotPid, DWORD dwOwnPid, DWORD dwOwnSession, PFN_SESSION_OF pfnSessionOf)
{
    if (dwSlotPid == dwOwnPid)
        return false;
    DWORD dwSession = 0;
    if (!pfnSessionOf || !pfnSessionOf(dwSlotPid, &dwSession))
        return true;
    return dwSession == dwOwnSession;
}
