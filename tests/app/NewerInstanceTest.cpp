// Processes of this session only: the instance slot ends an older companion
// only for a newer start of the same executable in the same session (a
// forged id is ignored), and the client closed for the setup is this
// session's.
#include "app/NewerInstance.h"

#include "upgrade/UpgradeDlgDUI.h"
#include "win/Handles.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const FILE_IDENTITY kOurs = {7, 0, 42};
const FILE_IDENTITY kOther = {7, 0, 43};
const wchar_t kOurPath[] = L"C:\\Talvex\\DazuvuVevUpgrade.exe";
const wchar_t kOtherPath[] = L"C:\\Other\\DazuvuVevUpgrade.exe";
const DWORD kAll = kAllInstanceFacts;
const DWORD kNoImage = kAll & ~INSTANCE_FACT_IMAGE;

// Process 100 is this one; 200 has ended; the others run.
const struct {
    DWORD dwPid;
    INSTANCE_FACTS facts;
} kProcesses[] = {
    {100, {kAll, 1, kOurs, kOurPath, 1000}},
    {101, {kAll, 1, kOurs, kOurPath, 2000}},     // a newer start
    {102, {kAll, 1, kOurs, kOurPath, 1000}},     // started in the same tick
    {103, {kAll, 2, kOurs, kOurPath, 2000}},     // another user's companion
    {104, {kAll, 1, kOther, kOtherPath, 2000}},  // a program that mapped our image
    {105, {kAll, 1, kOurs, kOurPath, 500}},      // an older companion's id
    // Newer starts of which only some facts can be told.
    {106, {kNoImage, 1, {}, L"c:\\talvex\\dazuvuvevupgrade.EXE", 2000}},  // same path, other case
    {107, {kNoImage, 1, {}, kOtherPath, 2000}},
    {108, {kAll & ~INSTANCE_FACT_SESSION, 0, kOurs, kOurPath, 2000}},
    {109, {kAll & ~INSTANCE_FACT_STARTED, 1, kOurs, kOurPath, 0}},
    {110, {INSTANCE_FACT_SESSION | INSTANCE_FACT_STARTED, 1, {}, L"", 2000}},
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

// The pids among 100 to 110 and 200 that count as newer than own.
std::vector<DWORD> NewerThan(const INSTANCE_FACTS& own)
{
    std::vector<DWORD> newer;
    for (DWORD dwPid : {100u, 101u, 102u, 103u, 104u, 105u, 106u, 107u, 108u, 109u, 110u, 200u}) {
        LPCWSTR pszWhyNot = nullptr;
        const bool bNewer = IsNewerInstance(dwPid, 100, own, &FakeFactsOf, &pszWhyNot);
        EXPECT_EQ(bNewer, pszWhyNot == nullptr) << dwPid << ": a refusal always says why";
        if (bNewer)
            newer.push_back(dwPid);
    }
    return newer;
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
    // 106: the image's identity cannot be told, its path is ours; the other
    // partial ones lack a fact that this process knows of itself.
    EXPECT_EQ(NewerThan(own), (std::vector<DWORD>{101, 102, 106}));

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

// A fact that this process cannot tell of itself is left out: a newer start
// still ends it, and what can be compared still keeps forged ids out.
TEST(NewerInstance, OwnFactsThatCannotBeToldAreLeftOutOfTheComparison)
{
    INSTANCE_FACTS own = {};
    ASSERT_TRUE(FakeFactsOf(100, &own));
    own.dwKnown = kNoImage;
    EXPECT_EQ(NewerThan(own), (std::vector<DWORD>{101, 102, 106})) << "compared by path";
    own.dwKnown = kAll & ~INSTANCE_FACT_SESSION;
    EXPECT_EQ(NewerThan(own), (std::vector<DWORD>{101, 102, 103, 106, 108})) << "no session to compare";
    own.dwKnown = kAll & ~INSTANCE_FACT_STARTED;
    EXPECT_EQ(NewerThan(own), (std::vector<DWORD>{101, 102, 105, 106, 109})) << "no start time to compare";
    // Which program runs must be known: otherwise any process could be named.
    own.dwKnown = INSTANCE_FACT_SESSION | INSTANCE_FACT_STARTED;
    EXPECT_EQ(NewerThan(own), std::vector<DWORD>{}) << "no program to compare";

    // This process, asked through its own handle, knows all of its facts.
    OwnInstanceFacts(&own);
    EXPECT_EQ(UnknownInstanceFactsText(own.dwKnown), L"");
    EXPECT_EQ(UnknownInstanceFactsText(INSTANCE_FACT_IMAGE | INSTANCE_FACT_IMAGE_PATH), L"session, start time");
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
