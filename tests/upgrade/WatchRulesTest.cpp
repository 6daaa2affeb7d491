// What ends a waiting run from outside: a network lost after it was reached,
// and a client that has exited, never a check that could not be made.
#include "upgrade/ClientExit.h"
#include "upgrade/NetLossRule.h"

#include "win/Handles.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <string>

namespace {

TEST(NetLossRule, OnlyANetworkReachedInThisRunCanBeLost)
{
    // The watch's answers, 'r' reachable and 'l' lost, and the index of the
    // answer that is reported as the loss (-1: none).
    const struct {
        const char* pszAnswers;
        int nLossAt;
    } kRuns[] = {
        {"llllll", -1},                                        // a library that cannot reach the watched host
        {"rrrr", -1},   {"rl", 1}, {"llrl", 3}, {"rrrlr", 3},  // the first loss counts; what comes after is not asked
    };
    for (const auto& run : kRuns) {
        CNetLossRule rule;
        int nLossAt = -1;
        for (int i = 0; run.pszAnswers[i] && nLossAt < 0; ++i) {
            if (rule.IsLoss(run.pszAnswers[i] == 'r'))
                nLossAt = i;
        }
        EXPECT_EQ(nLossAt, run.nLossAt) << run.pszAnswers;
    }
}

// The running flag as a client at another integrity level, or one that
// grants everyone only SYNCHRONIZE, holds it: full access is refused.
CKernelHandle CreateFlag(const std::wstring& strName, LPCWSTR pszSddl)
{
    PSECURITY_DESCRIPTOR pSd = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(pszSddl, SDDL_REVISION_1, &pSd, nullptr))
        return CKernelHandle();
    SECURITY_ATTRIBUTES sa = {sizeof(sa), pSd, FALSE};
    CKernelHandle flag(::CreateMutexW(&sa, FALSE, strName.c_str()));
    ::LocalFree(pSd);
    return flag;
}

TEST(ClientExit, OnlyAFlagThatIsGoneMeansTheClientHasExited)
{
    const std::wstring strName = L"WatchRulesTestFlag_" + std::to_wstring(::GetCurrentProcessId());
    EXPECT_TRUE(HasClientExited(strName.c_str())) << "no flag at all";

    for (LPCWSTR pszSddl : {L"D:(A;;0x00100000;;;WD)" /* SYNCHRONIZE for everyone */, L"D:" /* nothing */}) {
        CKernelHandle flag = CreateFlag(strName, pszSddl);
        ASSERT_TRUE(flag.IsValid()) << ::GetLastError();
        const CKernelHandle full(::OpenMutexW(MUTEX_ALL_ACCESS, FALSE, strName.c_str()));
        EXPECT_FALSE(full.IsValid()) << "the flag's DACL must refuse full access";
        EXPECT_FALSE(HasClientExited(strName.c_str()))
            << "a client whose flag grants " << (pszSddl[2] ? "SYNCHRONIZE" : "nothing");
        flag.Reset();
        EXPECT_TRUE(HasClientExited(strName.c_str())) << "the flag closed with its client";
    }

    // The name held by another kind of object: whether the client runs
    // cannot be told from it, so the wait goes on.
    const CKernelHandle other(::CreateEventW(nullptr, TRUE, FALSE, strName.c_str()));
    ASSERT_TRUE(other.IsValid());
    EXPECT_FALSE(HasClientExited(strName.c_str()));
}

}  // namespace
