// Processes of this session only: the instance slot ends an older companion
// only for a newer start of the same executable in the same session (a
// forged id is ignored), and the client closed for the setup is this
// session's.
#include "app/NewerInstance.h"

#include "upgrade/UpgradeDlgDUI.h"
#include "win/Handles.h"

#include <gtest/gtest.h>

namespace {

const FILE_IDENTITY kOurs = {7, 0, 42};
const FILE_IDENTITY kOther = {7, 0, 43};

// Process 100 is this one; 200 has ended; the others run.
const struct {
    DWORD dwPid;
    INSTANCE_FACTS facts;
} kProcesses[] = {
    {100, {1, kOurs, 1000}},  {101, {1, kOurs, 2000}},  // a newer start
    {102, {1, kOurs, 1000}},                            // started in the same tick
    {103, {2, kOurs, 2000}},                            // another user's companion
    {104, {1, kOther, 2000}},                           // a program that mapped our image
    {105, {1, kOurs, 500}},                             // an older companion's id
};

bool FakeFactsOf(DWORD dwPid, INSTANCE_FACTS* pFacts)
{
    for (const auto& process : kProcesses) {
        if (process.dwPid == dwPid) {
            *pFacts = process.facts;
            return true;
        }
    }
    return false;
}

// This test program started again, suspended; under another name when given.
PROCESS_INFORMATION StartSuspended(const std::wstring& strCopy)
{
    wchar_t szExe[MAX_PATH] = {}, szLine[] = L"x --gtest_list_tests";
    ::GetModuleFileNameW(nullptr, szExe, MAX_PATH);
    if (!strCopy.empty() && ::CopyFileW(szExe, strCopy.c_str(), FALSE))
        ::wcsncpy_s(szExe, strCopy.c_str(), _TRUNCATE);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    ::CreateProcessW(szExe, szLine, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si, &pi);
    return pi;
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
    PROCESS_INFORMATION pi = StartSuspended(L"");
    CKernelHandle child(pi.hProcess), thread(pi.hThread);
    INSTANCE_FACTS childFacts = {};
    ASSERT_TRUE(InstanceFactsOf(::GetCurrentProcessId(), &own));
    ASSERT_TRUE(InstanceFactsOf(pi.dwProcessId, &childFacts));
    EXPECT_TRUE(IsNewerInstance(pi.dwProcessId, ::GetCurrentProcessId(), own, &InstanceFactsOf, nullptr));
    EXPECT_FALSE(IsNewerInstance(::GetCurrentProcessId(), pi.dwProcessId, childFacts, &InstanceFactsOf, nullptr));
    ::TerminateProcess(child.Get(), 0);
}

TEST(ClientToClose, OnlyTheFirstOfThisSessionIsClosed)
{
    wchar_t szTemp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, szTemp);
    PROCESS_INFORMATION pi = StartSuspended(std::wstring(szTemp) + L"ClientStandIn.exe");
    CKernelHandle client(pi.hProcess), thread(pi.hThread);
    ASSERT_TRUE(client.IsValid());
    auto OthersElsewhere = [](DWORD dwPid, DWORD* pdwSession) {
        *pdwSession = dwPid == ::GetCurrentProcessId() ? 1 : 2;
        return true;
    };
    EXPECT_FALSE(KillProcessByName(L"clientstandin.EXE", OthersElsewhere)) << "another user's client";
    EXPECT_EQ(::WaitForSingleObject(client.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(KillProcessByName(L"clientstandin.EXE")) << "this session's client";
    EXPECT_EQ(::WaitForSingleObject(client.Get(), 5000), static_cast<DWORD>(WAIT_OBJECT_0));
}

}  // namespace
