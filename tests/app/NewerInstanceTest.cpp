// The instance slot ends an older companion only for a newer start of the
// same executable in the same session; a forged id is ignored.
#include "app/NewerInstance.h"

#include "win/Handles.h"

#include <gtest/gtest.h>

namespace {

const FILE_IDENTITY kOurs = {7, 0, 42};
const FILE_IDENTITY kOther = {7, 0, 43};

// Process 100 is this one; 200 has ended; the others run.
bool FakeFactsOf(DWORD dwPid, INSTANCE_FACTS* pFacts)
{
    switch (dwPid) {
    case 100: *pFacts = {1, kOurs, 1000}; return true;
    case 101: *pFacts = {1, kOurs, 2000}; return true;   // a newer start
    case 102: *pFacts = {1, kOurs, 1000}; return true;   // started in the same tick
    case 103: *pFacts = {2, kOurs, 2000}; return true;   // another user's companion
    case 104: *pFacts = {1, kOther, 2000}; return true;  // a program that mapped our image
    case 105: *pFacts = {1, kOurs, 500}; return true;    // an older companion's id
    default: return false;
    }
}

TEST(NewerInstance, OnlyANewerStartOfThisExecutableInThisSessionCounts)
{
    INSTANCE_FACTS own = {};
    ASSERT_TRUE(FakeFactsOf(100, &own));
    for (DWORD dwPid : {101u, 102u})
        EXPECT_TRUE(IsNewerInstance(dwPid, 100, own, &FakeFactsOf, nullptr)) << dwPid;
    for (DWORD dwPid : {100u, 103u, 104u, 105u, 200u}) {
        LPCWSTR pszWhyNot = nullptr;
        EXPECT_FALSE(IsNewerInstance(dwPid, 100, own, &FakeFactsOf, &pszWhyNot)) << dwPid;
        EXPECT_NE(pszWhyNot, nullptr) << dwPid;
    }

    // Real processes: a second start of this executable is newer than this
    // one, and this one is not newer than it.
    wchar_t szExe[MAX_PATH] = {};
    ASSERT_GT(::GetModuleFileNameW(nullptr, szExe, MAX_PATH), 0u);
    wchar_t szLine[] = L"x --gtest_list_tests";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(::CreateProcessW(szExe, szLine, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si, &pi));
    CKernelHandle child(pi.hProcess), thread(pi.hThread);
    INSTANCE_FACTS childFacts = {};
    ASSERT_TRUE(InstanceFactsOf(::GetCurrentProcessId(), &own));
    ASSERT_TRUE(InstanceFactsOf(pi.dwProcessId, &childFacts));
    EXPECT_TRUE(IsNewerInstance(pi.dwProcessId, ::GetCurrentProcessId(), own, &InstanceFactsOf, nullptr));
    EXPECT_FALSE(IsNewerInstance(::GetCurrentProcessId(), pi.dwProcessId, childFacts, &InstanceFactsOf, nullptr));
    ::TerminateProcess(child.Get(), 0);
}

}  // namespace
