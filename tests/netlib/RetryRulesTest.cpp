// The rules of patience: which failures are tried again and after what
// pause, what a Retry-After asks for, when a slow transfer is a stall, and
// how far the environment may shorten the limits.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <wininet.h>

#include "NetTestUtil.h"
#include "NubraSdk/EnvSetting.h"
#include "NubraSdk/TransferRules.h"

using nubra::CAttemptFailure;
using nubra::FailureKind;

TEST(RetryRules, PassingTroublesAreTriedAgainAndNothingElse)
{
    struct Case {
        const char* pszName;
        FailureKind kind;
        DWORD dwStatus;
        LONGLONG llRetryAfter;
        bool bRetry;
    };
    const Case cases[] = {
        {"reset", FailureKind::Reset, 0, -1, true},
        {"time-out", FailureKind::Timeout, 0, -1, true},
        {"stall", FailureKind::Stall, 0, -1, true},
        {"500", FailureKind::Status, 500, -1, true},
        {"503 asking for 60 s", FailureKind::Status, 503, 60, true},
        {"503 asking for 61 s", FailureKind::Status, 503, 61, false},
        {"599", FailureKind::Status, 599, -1, true},
        {"408", FailureKind::Status, 408, -1, true},
        {"429 asking for 5 s", FailureKind::Status, 429, 5, true},
        {"429 asking for nothing", FailureKind::Status, 429, -1, false},
        {"429 asking for two minutes", FailureKind::Status, 429, 120, false},
        {"404", FailureKind::Status, 404, -1, false},
        {"416", FailureKind::Status, 416, -1, false},
        {"refused answer", FailureKind::Refused, 200, -1, false},
        {"disk", FailureKind::Local, 200, -1, false},
        {"unreachable", FailureKind::Other, 0, -1, false},
    };
    for (const Case& c : cases) {
        CAttemptFailure failure;
        failure.kind = c.kind;
        failure.dwStatus = c.dwStatus;
        failure.llRetryAfterSeconds = c.llRetryAfter;
        EXPECT_EQ(nubra::IsRetryable(failure), c.bRetry) << c.pszName;
        EXPECT_EQ(nubra::WhyNotRetried(failure) == nullptr, c.bRetry) << c.pszName << ": a reason for no retry";
    }
    EXPECT_EQ(static_cast<int>(nubra::KindOfError(ERROR_INTERNET_CONNECTION_RESET)),
              static_cast<int>(FailureKind::Reset));
    EXPECT_EQ(static_cast<int>(nubra::KindOfError(ERROR_INTERNET_CONNECTION_ABORTED)),
              static_cast<int>(FailureKind::Reset));
    EXPECT_EQ(static_cast<int>(nubra::KindOfError(ERROR_INTERNET_TIMEOUT)), static_cast<int>(FailureKind::Timeout));
    EXPECT_EQ(static_cast<int>(nubra::KindOfError(ERROR_INTERNET_CANNOT_CONNECT)),
              static_cast<int>(FailureKind::Other));
    EXPECT_EQ(nubra::InternetErrorOf(WSAECONNRESET), static_cast<DWORD>(ERROR_INTERNET_CONNECTION_RESET));
    EXPECT_EQ(static_cast<int>(nubra::KindOfError(nubra::InternetErrorOf(WSAECONNRESET))),
              static_cast<int>(FailureKind::Reset));

    // Pauses of 1, 2 and 4 s, or what the server asked for when longer.
    EXPECT_EQ(nubra::RetryPauseMs(1, 1000, -1), 1000u);
    EXPECT_EQ(nubra::RetryPauseMs(2, 1000, -1), 2000u);
    EXPECT_EQ(nubra::RetryPauseMs(3, 1000, -1), 4000u);
    EXPECT_EQ(nubra::RetryPauseMs(1, 1000, 5), 5000u);
    EXPECT_EQ(nubra::RetryPauseMs(3, 1000, 2), 4000u);
    EXPECT_EQ(nubra::RetryPauseMs(2, 50, -1), 100u) << "a shortened first pause doubles too";
}

TEST(RetryRules, RetryAfterInSecondsOrAsADate)
{
    const std::wstring now = L"Tue, 08 Dec 2026 08:00:00 GMT";
    EXPECT_EQ(nubra::RetryAfterSeconds(L"0", now), 0);
    EXPECT_EQ(nubra::RetryAfterSeconds(L"30", now), 30);
    EXPECT_EQ(nubra::RetryAfterSeconds(L"Tue, 08 Dec 2026 08:00:45 GMT", now), 45);
    EXPECT_EQ(nubra::RetryAfterSeconds(L"Tue, 08 Dec 2026 09:00:00 GMT", now), 3600);
    EXPECT_EQ(nubra::RetryAfterSeconds(L"Tue, 08 Dec 2026 07:00:00 GMT", now), 0) << "a date in the past: now";
    for (const wchar_t* bad : {L"", L"soon", L"-5", L"99999999999999999999"})
        EXPECT_EQ(nubra::RetryAfterSeconds(bad, now), -1) << testing::PrintToString(std::wstring(bad));
    EXPECT_EQ(nubra::RetryAfterSeconds(L"Tue, 08 Dec 2026 08:00:45 GMT", L""), -1) << "a date needs a now";
}

TEST(RetryRules, TheFloorJudgesWholePeriods)
{
    // 1024 bytes a minute: a trickle fails at the first period's end, a
    // slow but steady link never does, and a burst does not excuse a
    // later silence.
    nubra::CTransferFloor trickle(0, 0, 60000, 1024);
    EXPECT_TRUE(trickle.Check(5000, 1));
    EXPECT_TRUE(trickle.Check(59999, 12));
    EXPECT_FALSE(trickle.Check(60000, 12));
    EXPECT_EQ(trickle.PeriodBytes(), 12u);
    EXPECT_EQ(trickle.PeriodMs(), 60000u);

    nubra::CTransferFloor steady(1000, 0, 60000, 1024);
    ULONGLONG received = 0;
    for (ULONGLONG t = 1000; t <= 600000; t += 1000) {
        received += 20;  // 1200 bytes a minute
        EXPECT_TRUE(steady.Check(t, received)) << "at " << t << " ms";
    }

    nubra::CTransferFloor burst(0, 0, 60000, 1024);
    EXPECT_TRUE(burst.Check(1000, 4 * 1024 * 1024));
    EXPECT_TRUE(burst.Check(61000, 4 * 1024 * 1024 + 10)) << "the first period brought 4 MiB";
    EXPECT_FALSE(burst.Check(121000, 4 * 1024 * 1024 + 20)) << "the second brought 10 bytes";

    // A read that came back only after more than a period counts its time.
    nubra::CTransferFloor late(0, 0, 2000, 1024);
    EXPECT_FALSE(late.Check(5000, 1));
    EXPECT_EQ(late.PeriodMs(), 5000u);
}

TEST(RetryRules, TheEnvironmentOnlyShortensAndTheDeadlineRunsOnItsClock)
{
    // Unset, no plain number or above the default: the default.
    for (LPCWSTR psz : {L"", L"-5", L" 20", L"20000x", L"3600000", L"99999999999999999999"})
        EXPECT_EQ(nubra::ClampedLimit(psz, 1500, 60000), 60000u) << psz;
    EXPECT_EQ(nubra::ClampedLimit(L"20000", 1500, 60000), 20000u);
    EXPECT_EQ(nubra::ClampedLimit(L"1", 1500, 60000), 1500u);
    const nettest::CScopedEnv one(L"NUBRA_TRANSFER_DEADLINE_MS", L"1");
    EXPECT_EQ(nubra::TransferDeadlineMs(100 * 64 * 1024), 100000u) << "the ordered size over a slow link";
    // One record of every limit: a receive time-out never outlasts the
    // floor's period, and the size cap binds only a transfer without an order.
    const nettest::CScopedEnv floor(L"NUBRA_FLOOR_PERIOD_MS", L"4000");
    const nettest::CScopedEnv cap(L"NUBRA_SIZE_CAP_BYTES", L"300000");
    const nubra::CTransferLimits unordered = nubra::TransferLimits(0), ordered = nubra::TransferLimits(5000000);
    EXPECT_EQ(unordered.dwReceiveMs, 4000u);
    EXPECT_EQ(unordered.ullCapBytes, 300000u);
    EXPECT_EQ(ordered.ullCapBytes, nubra::kUnsizedCapBytes) << "an environment value refused an ordered download";

    // A clock that stands still (the machine asleep) spends nothing.
    static ULONGLONG s_ullNowMs = 1000;
    nubra::CTransferDeadline deadline([] { return s_ullNowMs; });
    deadline.Start(5000);
    s_ullNowMs = 5999;
    EXPECT_EQ(deadline.MsLeft(), 1u);
    s_ullNowMs = 6000;
    EXPECT_EQ(deadline.MsLeft(), 0u);
}
