// The instance slot ends an older companion of the same session only.
#include "app/NewerInstance.h"

#include <gtest/gtest.h>

namespace {

// Processes 100 and 101 run in session 1, 200 in session 2; 300 has ended.
bool FakeSessionOf(DWORD dwPid, DWORD* pdwSession)
{
    if (dwPid == 100 || dwPid == 101)
        *pdwSession = 1;
    else if (dwPid == 200)
        *pdwSession = 2;
    else
        return false;
    return true;
}

TEST(NewerInstance, OnlyAnotherProcessOfTheSameSessionCounts)
{
    EXPECT_FALSE(IsNewerInstance(100, 100, 1, &FakeSessionOf)) << "itself";
    EXPECT_TRUE(IsNewerInstance(101, 100, 1, &FakeSessionOf)) << "a newer start by the same user";
    EXPECT_FALSE(IsNewerInstance(200, 100, 1, &FakeSessionOf)) << "another user's companion";
    EXPECT_TRUE(IsNewerInstance(300, 100, 1, &FakeSessionOf)) << "a session that cannot be told: as before";
    EXPECT_TRUE(IsNewerInstance(101, 100, 1, nullptr));

    // The real lookup: this process is in its own session, and the rule
    // never ends a process for itself.
    DWORD dwSession = 0;
    ASSERT_TRUE(SessionOfProcess(::GetCurrentProcessId(), &dwSession));
    EXPECT_FALSE(IsNewerInstance(::GetCurrentProcessId(), ::GetCurrentProcessId(), dwSession, &SessionOfProcess));
}

}  // namespace
