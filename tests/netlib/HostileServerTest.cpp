// Servers that hold a transfer without ever failing it: bytes that trickle,
// headers sent slowly, a body that falls silent, a fast start and a slow
// rest, and bodies of redirects and errors that do not end. Each transfer reports what arrives
// while it arrives, and ends within bounded time (the waits below), as a
// logged stall or time-out that leaves its bytes for a resume. The limits
// are shortened through the environment as the library allows.
#include <gtest/gtest.h>

#include <windows.h>
#include <wininet.h>

#include "NetTestUtil.h"
#include "netlib/NubraSdk.h"

using namespace nettest;

namespace {

constexpr size_t kSize = 200000;

std::string Narrow(const std::wstring& s)
{
    return std::string(s.begin(), s.end());
}

}  // namespace

TEST(Hostile, SlowServersEndAsLoggedStallsOrTimeouts)
{
    const std::wstring name = L"slow.exe";
    ASSERT_TRUE(WriteAll(RootPath(name), Pattern(kSize, 71)));
    const std::wstring target = WorkPath(name);
    const CScopedEnv floor(L"NUBRA_FLOOR_PERIOD_MS", L"1500");
    const CScopedEnv connect(L"NUBRA_CONNECT_TIMEOUT_MS", L"1500");
    CLibraryLog log;

    // One byte every half second: fewer than 1024 bytes a period.
    RemoveDownload(target);
    Control(TestPort(), L"/_control/reset");
    auto records = Download(ServerUrl(L"/fault/trickle=0.5/" + name), target, kSize, 40000);
    ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_NET_FAILED) << "a trickle was not ended";
    EXPECT_EQ(DownloadRecordError(records.back().rec), static_cast<uint32_t>(ERROR_INTERNET_TIMEOUT));
    EXPECT_GT(MostReceived(records), 0u) << "the trickled bytes were never reported";
    EXPECT_EQ(SizeOf(target + L".part"), static_cast<LONGLONG>(MostReceived(records)))
        << "the trickled bytes are not all on disk";
    EXPECT_FALSE(Exists(target));
    EXPECT_EQ(log.With(L"3 Nubra_SDK::Transfer: stall: ").size(), 4u) << "one stall per try";
    EXPECT_EQ(log.With(L"below the floor of 1024 bytes in 1500 ms").size(), 4u);
    EXPECT_EQ(log.With(L"after a stall below the floor (error 12002)").size(), 3u);
    EXPECT_EQ(log.With(L"giving up after 3 retries: a stall below the floor").size(), 1u);
    const auto requests = WaitLogFor(TestPort(), Narrow(L"/" + name), 4);
    ASSERT_EQ(requests.size(), 4u);
    // Logged as each answer ends, which the trickle decides.
    size_t nResumed = 0;
    for (const std::string& request : requests)
        nResumed += JsonField(request, "range").empty() ? 0 : 1;
    EXPECT_EQ(nResumed, 3u) << "the retries did not resume the trickled bytes";

    // Headers a byte at a time: no answer within the connect time-out.
    RemoveDownload(target);
    log.Clear();
    records = Download(ServerUrl(L"/fault/slowheaders=0.2/" + name), target, kSize, 40000);
    ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_NET_FAILED) << "slow headers were waited for";
    EXPECT_EQ(records.size(), 1u) << "progress records without an answer";
    EXPECT_EQ(DownloadRecordError(records.back().rec), static_cast<uint32_t>(ERROR_INTERNET_TIMEOUT));
    EXPECT_EQ(log.With(L"no answer's headers within 1500 ms").size(), 4u);
    EXPECT_EQ(log.With(L"after time-out (error 12002)").size(), 3u);
    EXPECT_FALSE(Exists(target + L".part")) << "a file was begun without an answer";

    // Bytes above the floor, slower than the call's deadline allows: it ends
    // then without a retry, and the next call resumes its bytes.
    log.Clear();
    {
        const CScopedEnv deadline(L"NUBRA_TRANSFER_DEADLINE_MS", L"4000");
        records = Download(ServerUrl(L"/fault/rate=4000/" + name), target, kSize, 8000);
    }
    ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_NET_FAILED) << "the deadline did not end the call";
    EXPECT_EQ(log.With(L"ran out its deadline of 4000 ms").size(), 1u);
    EXPECT_TRUE(log.With(L"retry").empty());
    const LONGLONG llKept = SizeOf(target + L".part");
    EXPECT_TRUE(llKept > 0 && Exists(target + L".part.meta")) << "the bytes were not kept for a resume";
    records = Download(ServerUrl(L"/" + name), target, kSize);
    ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_FINISHED);
    EXPECT_EQ(records.front().rec.unPosition, static_cast<uint32_t>(llKept)) << "the kept bytes were not resumed";

    // A body that falls silent with its connection open: every byte that
    // arrived is on disk when the silence ends the attempt, and the retry
    // asks for exactly the rest, so the server sends the file once.
    const std::wstring big = L"silent.exe";
    const size_t cbBig = 1500000, cbBeforeSilence = 1000000;
    ASSERT_TRUE(WriteAll(RootPath(big), Pattern(cbBig, 74)));
    const std::wstring bigTarget = WorkPath(big);
    RemoveDownload(bigTarget);
    Control(TestPort(),
            L"/_control/fault?path=/" + big + L"&fault=stall=600,stall_after=" + std::to_wstring(cbBeforeSilence));
    log.Clear();
    records = Download(ServerUrl(L"/" + big), bigTarget, cbBig, 20000);
    ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_FINISHED);
    EXPECT_TRUE(ReadAll(bigTarget) == ReadAll(RootPath(big)));
    EXPECT_EQ(log.With(L"resuming at byte " + std::to_wstring(cbBeforeSilence)).size(), 1u);
    // The silent answer is logged only when the server stops; the retry now.
    const auto resumed = WaitLogFor(TestPort(), Narrow(L"/" + big), 1);
    ASSERT_EQ(resumed.size(), 1u);
    EXPECT_EQ(JsonField(resumed[0], "range"), "bytes=" + std::to_string(cbBeforeSilence) + "-")
        << "bytes that had arrived were asked for again";
    EXPECT_EQ(JsonField(resumed[0], "sent"), std::to_string(cbBig - cbBeforeSilence));
    RemoveDownload(bigTarget);
    RemoveDownload(target);
}

TEST(Hostile, SlowingAndBurstingBodiesComeOnceOverOneRequest)
{
    // Reads must not wait for a full block while a body is slow, or the
    // records stop until the end. A start fast enough to be read in blocks
    // shows the other way: the block that the slow rest holds up is waited
    // for, never asked for again beside it. And a server that sends in bursts
    // must not pass for a fast one. Each byte crosses the wire about once.
    const CScopedEnv floor(L"NUBRA_FLOOR_PERIOD_MS", L"1500");
    CLibraryLog log;
    const struct {
        const char* pszName;
        size_t cb;
        size_t cbFast;
        const wchar_t* pszRate;
        size_t nSlowed;
    } cases[] = {
        {"100000 bytes at once", 180000, 100000, L"rate=20000", 0},
        {"4 MiB at once", 6 * 1024 * 1024, 4 * 1024 * 1024, L"rate=300000", 1},
        {"300 kB bursts once a second", 3 * 1024 * 1024, 0, L"rate=300000,burst=1", 0},
    };
    for (const auto& c : cases) {
        const std::wstring name = L"fastslow.exe";
        ASSERT_TRUE(WriteAll(RootPath(name), Pattern(c.cb, 72)));
        const std::wstring target = WorkPath(name);
        RemoveDownload(target);
        Control(TestPort(), L"/_control/reset");
        log.Clear();
        Control(TestPort(), L"/_control/fault?path=/" + name + L"&fault=" + c.pszRate + L",rate_after=" +
                                std::to_wstring(c.cbFast));
        auto records = Download(ServerUrl(L"/" + name), target, c.cb, 60000);
        ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_FINISHED) << c.pszName;
        size_t nSlowReports = 0;
        uint32_t unLast = 0;
        ULONGLONG ullLongestGap = 0, ullLast = records.front().ullTick;
        for (const CRecord& r : records) {
            EXPECT_EQ(r.rec.unPosition, 0u) << c.pszName;
            EXPECT_EQ(r.rec.unFileSize, c.cb) << c.pszName;
            EXPECT_GE(r.rec.unReceived, unLast) << c.pszName << ": the downloaded amount went backwards";
            if (r.rec.iState == DOWNLOAD_STATE_PROGRESS && r.rec.unReceived > c.cbFast && r.rec.unReceived < c.cb &&
                r.rec.unReceived > unLast)
                ++nSlowReports;
            unLast = r.rec.unReceived > unLast ? r.rec.unReceived : unLast;
            ullLongestGap = r.ullTick - ullLast > ullLongestGap ? r.ullTick - ullLast : ullLongestGap;
            ullLast = r.ullTick;
        }
        EXPECT_GE(nSlowReports, 4u) << c.pszName << ": the slow part was reported " << nSlowReports << " times";
        EXPECT_LE(ullLongestGap, 1800u) << c.pszName << ": no record for " << ullLongestGap << " ms";
        EXPECT_TRUE(ReadAll(target) == ReadAll(RootPath(name))) << c.pszName;
        const auto requests = WaitLogFor(TestPort(), Narrow(L"/" + name), 1);
        ASSERT_EQ(requests.size(), 1u) << c.pszName << ": the file was asked for again";
        EXPECT_EQ(JsonField(requests[0], "concurrent"), "0") << c.pszName;
        EXPECT_LE(std::stoull(JsonField(requests[0], "sent")), c.cb * 105 / 100) << c.pszName;
        EXPECT_EQ(log.With(L"the body slowed down").size(), c.nSlowed) << c.pszName;
        EXPECT_TRUE(log.With(L"retry").empty()) << c.pszName << ": a slower pace is no failure";
        RemoveDownload(target);
    }
}

TEST(Hostile, EndlessBodiesOfRedirectsAndErrorsAreNotRead)
{
    // A gigabyte announced behind a redirect or an error, sent at 1 MB/s:
    // reading it to its end would hold the transfer for a quarter of an hour.
    const std::wstring name = L"detour.exe";
    const std::string body = Pattern(kSize, 73);
    ASSERT_TRUE(WriteAll(RootPath(name), body));
    const std::wstring target = WorkPath(name);
    const std::wstring huge = L"bodylen=1000000000,rate=1000000";

    RemoveDownload(target);
    Control(TestPort(), L"/_control/reset");
    auto records = Download(ServerUrl(L"/fault/redirect=2," + huge + L"/" + name), target, kSize, 20000);
    ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_FINISHED) << "the redirect's body held the transfer";
    EXPECT_TRUE(ReadAll(target) == body);

    RemoveDownload(target);
    records = Download(ServerUrl(L"/fault/status=404," + huge + L"/" + name), target, kSize, 20000);
    ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_NET_FAILED) << "the error's body held the transfer";
    EXPECT_EQ(DownloadRecordHttpStatus(records.back().rec), 404u);
    RemoveDownload(target);
}
