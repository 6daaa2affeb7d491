#include "app/NewerInstance.h"

#include "win/Handles.h"
#include "win/ProcessFacts.h"

#include <cwchar>

namespace {

void FactsOfProcess(HANDLE hProcess, DWORD dwPid, INSTANCE_FACTS* pFacts)
{
    *pFacts = INSTANCE_FACTS();
    if (SessionOfProcess(dwPid, &pFacts->dwSession))
        pFacts->dwKnown |= INSTANCE_FACT_SESSION;
    pFacts->strImagePath = ImagePathOfProcess(hProcess);
    if (!pFacts->strImagePath.empty())
        pFacts->dwKnown |= INSTANCE_FACT_IMAGE_PATH;
    if (!pFacts->strImagePath.empty() && IdentityOfPath(pFacts->strImagePath, &pFacts->image))
        pFacts->dwKnown |= INSTANCE_FACT_IMAGE;
    if (StartTimeOfProcess(hProcess, &pFacts->ullStarted))
        pFacts->dwKnown |= INSTANCE_FACT_STARTED;
}

bool Knows(const INSTANCE_FACTS& facts, DWORD dwFact)
{
    return (facts.dwKnown & dwFact) != 0;
}

// Whether both run the same program: by the image file's identity where
// both can tell it, else by the path both were started from; nullptr when
// they do.
LPCWSTR OtherProgramReason(const INSTANCE_FACTS& slot, const INSTANCE_FACTS& own)
{
    if (Knows(own, INSTANCE_FACT_IMAGE) && Knows(slot, INSTANCE_FACT_IMAGE))
        return SameFile(slot.image, own.image) ? nullptr : L"it runs another program";
    if (Knows(own, INSTANCE_FACT_IMAGE_PATH) && Knows(slot, INSTANCE_FACT_IMAGE_PATH))
        return _wcsicmp(slot.strImagePath.c_str(), own.strImagePath.c_str()) == 0 ? nullptr
                                                                                  : L"it runs another program";
    if (!Knows(own, INSTANCE_FACT_IMAGE) && !Knows(own, INSTANCE_FACT_IMAGE_PATH))
        return L"this process's own program cannot be told";
    return L"its program cannot be told";
}

}  // namespace

std::wstring UnknownInstanceFactsText(DWORD dwKnown)
{
    static const struct {
        DWORD dwFact;
        LPCWSTR pszName;
    } kNames[] = {{INSTANCE_FACT_SESSION, L"session"},
                  {INSTANCE_FACT_IMAGE, L"image file"},
                  {INSTANCE_FACT_IMAGE_PATH, L"image path"},
                  {INSTANCE_FACT_STARTED, L"start time"}};
    std::wstring strText;
    for (const auto& name : kNames) {
        if (!(dwKnown & name.dwFact))
            strText += (strText.empty() ? L"" : L", ") + std::wstring(name.pszName);
    }
    return strText;
}

bool InstanceFactsOf(DWORD dwPid, INSTANCE_FACTS* pFacts)
{
    const CKernelHandle hProcess(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, dwPid));
    if (!hProcess.IsValid())
        return false;
    FactsOfProcess(hProcess.Get(), dwPid, pFacts);
    return true;
}

void OwnInstanceFacts(INSTANCE_FACTS* pFacts)
{
    FactsOfProcess(::GetCurrentProcess(), ::GetCurrentProcessId(), pFacts);
    if (Knows(*pFacts, INSTANCE_FACT_IMAGE_PATH))
        return;
    // The loader's own record of the image, for a system that will not say
    // where this process was started from.
    wchar_t szPath[MAX_PATH * 2] = {};
    const DWORD cch = ::GetModuleFileNameW(nullptr, szPath, MAX_PATH * 2);
    if (cch == 0 || cch >= MAX_PATH * 2)
        return;
    pFacts->strImagePath.assign(szPath, cch);
    pFacts->dwKnown |= INSTANCE_FACT_IMAGE_PATH;
    if (IdentityOfPath(pFacts->strImagePath, &pFacts->image))
        pFacts->dwKnown |= INSTANCE_FACT_IMAGE;
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
    else if (Knows(own, INSTANCE_FACT_SESSION) && !Knows(slot, INSTANCE_FACT_SESSION))
        pszWhyNot = L"its session cannot be told";
    else if (Knows(own, INSTANCE_FACT_SESSION) && slot.dwSession != own.dwSession)
        pszWhyNot = L"it runs in another session";
    else if (LPCWSTR pszOther = OtherProgramReason(slot, own))
        pszWhyNot = pszOther;
    else if (Knows(own, INSTANCE_FACT_STARTED) && !Knows(slot, INSTANCE_FACT_STARTED))
        pszWhyNot = L"its start cannot be told";
    // Started in the same clock tick counts as newer: the slot names the
    // one that wrote last.
    else if (Knows(own, INSTANCE_FACT_STARTED) && slot.ullStarted < own.ullStarted)
        pszWhyNot = L"it started before this process";
    if (ppszWhyNot)
        *ppszWhyNot = pszWhyNot;
    return pszWhyNot == nullptr;
}
