#include "app/NewerInstance.h"

#include "win/Handles.h"
#include "win/ProcessFacts.h"

bool InstanceFactsOf(DWORD dwPid, INSTANCE_FACTS* pFacts)
{
    const CKernelHandle hProcess(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, dwPid));
    return hProcess.IsValid() && SessionOfProcess(dwPid, &pFacts->dwSession) &&
           ImageIdentityOfProcess(hProcess.Get(), &pFacts->image) &&
           StartTimeOfProcess(hProcess.Get(), &pFacts->ullStarted);
}

bool IsNewerInstance(DWORD dwSlotPid, DWORD dwOwnPid, const INSTANCE_FACTS& own, PFN_INSTANCE_FACTS pfnFactsOf,
                     LPCWSTR* ppszWhyNot)
{
    LPCWSTR pszWhyNot = nullptr;
    INSTANCE_FACTS slot = {};
    if (dwSlotPid == dwOwnPid)
        pszWhyNot = L"it is this process";
    else if (!pfnFactsOf || !pfnFactsOf(dwSlotPid, &slot))
        pszWhyNot = L"no such process can be examined";
    else if (slot.dwSession != own.dwSession)
        pszWhyNot = L"it runs in another session";
    else if (!SameFile(slot.image, own.image))
        pszWhyNot = L"it runs another program";
    // Started in the same clock tick counts as newer: the slot names the
    // one that wrote last.
    else if (slot.ullStarted < own.ullStarted)
        pszWhyNot = L"it started before this process";
    if (ppszWhyNot)
        *ppszWhyNot = pszWhyNot;
    return pszWhyNot == nullptr;
}
