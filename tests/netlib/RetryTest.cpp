// Passing troubles tried again within the same call: a reset connection, a
// busy server, a request timed out; each retry resumes from the bytes on
// disk, is logged with its reason, and leaves the records counting on as if
// nothing happened. What is not a passing trouble is not tried again, and
// the retries end.
#include <gtest/gtest.h>

#include <windows.h>
#include <wininet.h>

#include "NetTestUtil.h"
#include "netlib/NubraSdk.h"

using namespace nettest;

namespace {

constexpr size_t kSize = 2 * 1024 * 1024 + 77;

std::string Narrow(const std::wstring& s)
{
    return std::string(s.begin(), s.end());
}

// The window's reading of every record: what it shows as downloaded must be
// what is on disk, never more than the file, and never go backwards.
void ExpectRecordsCountOn(const std::vector<CRecord>& records, uint32_t unOnDisk, uint32_t unTotal, const char* pszCase)
{
    uint32_t unLast = 0;
    for (const CRecord& r : records) {
        if (r.rec.unFileSize == 0 && r.rec.unPosition == 0)
            continue;
        EXPECT_EQ(r.rec.unPosition, unOnDisk) << pszCase << ": where the call began";
        EXPECT_EQ(r.rec.unFileSize, unTotal - unOnDisk) << pszCase << ": what the call fetches";
        const uint32_t unShown = unTotal - r.rec.unFileSize + r.rec.unReceived;
        EXPECT_GE(unShown, unLast) << pszCase << ": the downloaded amount went backwards";
        EXPECT_LE(unShown, unTotal) << pszCase;
        unLast = unShown;
    }
    EXPECT_EQ(unLast, unTotal) << pszCase << ": the last record does not show the whole file";
}

}  // namespace

TEST(Retry, AResetIsResumedInTheSameCall)
{
    const std::wstring name = L"reset.exe";
    const std::string body = Pattern(kSize, 61);
    ASSERT_TRUE(WriteAll(RootPath(name), body));
    const std::wstring target = WorkPath(name);
    CLibraryLog log;
    ASSERT_TRUE(log.Installed());

    // A fresh call, and one that resumes bytes an earlier run left behind:
    // either way the records count from where the call began.
    for (const bool bResumed : {false, true}) {
        const char* pszCase = bResumed ? "resumed call" : "fresh call";
        RemoveDownload(target);
        Control(TestPort(), L"/_control/reset");
        log.Clear();
        uint32_t unOnDisk = 0;
        if (bResumed) {
            const CScopedEnv noRetry(L"NUBRA_RETRY_LIMIT", L"0");
            Control(TestPort(), L"/_control/fault?path=/" + name + L"&fault=drop=300000");
            ASSERT_EQ(FinalState(Download(ServerUrl(L"/" + name), target, kSize)), DOWNLOAD_STATE_NET_FAILED);
            unOnDisk = static_cast<uint32_t>(SizeOf(target + L".part"));
            ASSERT_GT(unOnDisk, 0u);
            Control(TestPort(), L"/_control/reset");
        }
        Control(TestPort(), L"/_control/fault?path=/" + name + L"&fault=drop=900000");
        auto records = Download(ServerUrl(L"/" + name), target, kSize);
        ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_FINISHED) << pszCase;
        EXPECT_TRUE(ReadAll(target) == body) << pszCase << ": the stitched file differs";
        ExpectRecordsCountOn(records, unOnDisk, kSize, pszCase);

        const auto requests = WaitLogFor(TestPort(), Narrow(L"/" + name), 2);
        ASSERT_EQ(requests.size(), 2u) << pszCase;
        const std::string resumedAt = JsonField(requests[1], "range");
        ASSERT_EQ(resumedAt.compare(0, 6, "bytes="), 0) << pszCase << ": the retry did not resume";
        EXPECT_FALSE(JsonField(requests[1], "if_range").empty()) << pszCase << ": resume without If-Range";
        EXPECT_EQ(JsonField(requests[1], "status"), "206") << pszCase;
        const std::string byte = resumedAt.substr(6, resumedAt.size() - 7);
        EXPECT_GT(std::stoul(byte), unOnDisk) << pszCase << ": nothing of the broken try was kept";

        const auto retries = log.With(L"retry");
        ASSERT_EQ(retries.size(), 1u) << pszCase;
        const std::wstring expected =
            L"3 Nubra_SDK::Transfer: retry 1 of 3 in 0.1 s after connection reset (error "
            L"12031), resuming at byte " +
            std::wstring(byte.begin(), byte.end());
        EXPECT_EQ(retries[0], expected) << pszCase;
    }
    RemoveDownload(target);
}

TEST(Retry, BusyServersAreAskedAgainOthersNot)
{
    const std::wstring name = L"busy.exe";
    const std::string body = Pattern(300000, 62);
    ASSERT_TRUE(WriteAll(RootPath(name), body));
    const std::wstring target = WorkPath(name);
    CLibraryLog log;

    struct Case {
        const wchar_t* pszFault;  // for the first request only
        bool bRetried;
        const wchar_t* pszReason;
    };
    const Case cases[] = {
        {L"status=503", true, L"after HTTP status 503,"},
        {L"status=500", true, L"after HTTP status 500,"},
        {L"status=408", true, L"after HTTP status 408,"},
        {L"status=429,retry_after=1", true, L"in 1 s after HTTP status 429 with Retry-After 1 s"},
        {L"status=503,bodylen=50000000,rate=1000000", true, L"after HTTP status 503,"},
        {L"status=429", false, nullptr},
        {L"status=429,retry_after=120", false, nullptr},
        {L"status=503,retry_after=61", false, nullptr},
        {L"status=404", false, nullptr},
        {L"status=403", false, nullptr},
    };
    for (const Case& c : cases) {
        const std::string fault = Narrow(c.pszFault);
        RemoveDownload(target);
        Control(TestPort(), L"/_control/reset");
        log.Clear();
        Control(TestPort(), L"/_control/fault?path=/" + name + L"&fault=" + c.pszFault);
        auto records = Download(ServerUrl(L"/" + name), target, body.size());
        if (c.bRetried) {
            ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_FINISHED) << fault;
            EXPECT_TRUE(ReadAll(target) == body) << fault;
            EXPECT_EQ(log.With(c.pszReason).size(), 1u) << fault << ": the retry's reason is not logged";
        } else {
            EXPECT_EQ(FinalState(records), DOWNLOAD_STATE_NET_FAILED) << fault;
            EXPECT_EQ(DownloadRecordHttpStatus(records.back().rec), static_cast<uint32_t>(std::stoul(fault.substr(7))))
                << fault;
            EXPECT_TRUE(log.With(L"retry").empty()) << fault << ": asked again";
            EXPECT_EQ(log.With(L"not tried again after HTTP status").size(), 1u) << fault << ": no reason logged";
            EXPECT_FALSE(Exists(target)) << fault;
        }
    }
    RemoveDownload(target);
}

TEST(Retry, RetriesEndAndTheLastFailureIsTold)
{
    // Every request breaks after a few bytes: three retries, each resuming
    // further on, then the failure with the reason of the last one.
    const std::wstring name = L"flaky.exe";
    ASSERT_TRUE(WriteAll(RootPath(name), Pattern(200000, 63)));
    const std::wstring target = WorkPath(name);
    RemoveDownload(target);
    Control(TestPort(), L"/_control/reset");
    CLibraryLog log;
    auto records = Download(ServerUrl(L"/fault/drop=1000/" + name), target, 200000);
    ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_NET_FAILED);
    EXPECT_EQ(DownloadRecordError(records.back().rec), static_cast<uint32_t>(ERROR_INTERNET_CONNECTION_RESET));
    EXPECT_FALSE(Exists(target));
    EXPECT_EQ(SizeOf(target + L".part"), 4000) << "each try's bytes stay for the next";

    const auto requests = WaitLogFor(TestPort(), Narrow(L"/" + name), 4);
    ASSERT_EQ(requests.size(), 4u);
    for (size_t i = 1; i < requests.size(); ++i)
        EXPECT_EQ(JsonField(requests[i], "range"), "bytes=" + std::to_string(i * 1000) + "-");
    const auto retries = log.With(L"retry ");
    ASSERT_EQ(retries.size(), 3u);
    EXPECT_NE(retries[0].find(L"retry 1 of 3 in 0.1 s"), std::wstring::npos) << Narrow(retries[0]);
    EXPECT_NE(retries[1].find(L"retry 2 of 3 in 0.2 s"), std::wstring::npos) << Narrow(retries[1]);
    EXPECT_NE(retries[2].find(L"retry 3 of 3 in 0.4 s"), std::wstring::npos) << Narrow(retries[2]);
    EXPECT_EQ(log.With(L"4 Nubra_SDK::Transfer: giving up after 3 retries: connection reset (error 12031)").size(), 1u);
    RemoveDownload(target);
}
