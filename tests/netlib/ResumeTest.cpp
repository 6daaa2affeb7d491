// Resuming a broken transfer in a later run, and starting over when the
// partial bytes can no longer be trusted.
#include <gtest/gtest.h>

#include <algorithm>

#include <windows.h>

#include "NetTestUtil.h"
#include "netlib/NubraSdk.h"
#include "win/Handles.h"

using namespace nettest;

namespace {

constexpr size_t kSize = 2 * 1024 * 1024 + 123;

// Breaks the next request of the file after about cbDrop bytes and returns
// how many bytes the partial file then holds.
LONGLONG BreakOnce(const std::wstring& strName, const std::wstring& target, int cbDrop, LONGLONG llOrdered = kSize)
{
    // A run that ends with the break: the retries of the same call are RetryTest's.
    const CScopedEnv noRetry(L"NUBRA_RETRY_LIMIT", L"0");
    Control(TestPort(), L"/_control/fault?path=/" + strName + L"&fault=drop=" + std::to_wstring(cbDrop));
    auto records = Download(ServerUrl(L"/" + strName), target, llOrdered);
    EXPECT_EQ(FinalState(records), DOWNLOAD_STATE_NET_FAILED) << "the dropped transfer must fail";
    EXPECT_FALSE(Exists(target)) << "a broken transfer left a target file";
    EXPECT_TRUE(Exists(target + L".part.meta")) << "no validator kept beside the partial file";
    return SizeOf(target + L".part");
}

// Serves new bytes under strName, with no download of it in the scratch
// folder and an empty request log.
std::string ServeFresh(const std::wstring& strName, unsigned seed)
{
    const std::string body = Pattern(kSize, seed);
    EXPECT_TRUE(WriteAll(RootPath(strName), body));
    RemoveDownload(WorkPath(strName));
    Control(TestPort(), L"/_control/reset");
    return body;
}

}  // namespace

TEST(Resume, FetchesOnlyTheMissingBytes)
{
    const std::wstring name = L"resume.exe";
    const std::string file = "/resume.exe";
    const std::wstring target = WorkPath(name);
    const std::string body = ServeFresh(name, 21);

    const LONGLONG llHave = BreakOnce(name, target, 900000);
    ASSERT_GT(llHave, 0) << "nothing of the broken transfer was kept";
    ASSERT_LE(llHave, 900000);

    // A later run of the program: a new call with the same target.
    auto records = Download(ServerUrl(L"/" + name), target, kSize);
    ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_FINISHED);
    const DOWNLOAD_PROGRESS& first = records.front().rec;
    EXPECT_EQ(first.unPosition, static_cast<uint32_t>(llHave));
    EXPECT_EQ(first.unFileSize, static_cast<uint32_t>(kSize - llHave)) << "size must count only this transfer";
    EXPECT_EQ(records.back().rec.unReceived, static_cast<uint32_t>(kSize - llHave));
    EXPECT_TRUE(ReadAll(target) == body) << "resumed file differs from the served one";
    EXPECT_FALSE(Exists(target + L".part"));
    EXPECT_FALSE(Exists(target + L".part.meta"));

    const auto log = LogFor(TestPort(), file);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(JsonField(log[1], "range"), "bytes=" + std::to_string(llHave) + "-");
    EXPECT_FALSE(JsonField(log[1], "if_range").empty()) << "resume without If-Range";
    EXPECT_EQ(JsonField(log[1], "status"), "206");
    EXPECT_EQ(JsonField(log[1], "sent"), std::to_string(kSize - llHave)) << "the server sent more than was missing";
    RemoveDownload(target);
}

TEST(Resume, StartsOverWhenTheBytesCannotBeTrusted)
{
    const std::wstring name = L"changing.exe";
    const std::string file = "/changing.exe";
    const std::wstring target = WorkPath(name);
    RemoveDownload(target);

    // The file changed on the server between the runs.
    ASSERT_TRUE(WriteAll(RootPath(name), Pattern(kSize, 1)));
    ASSERT_GT(BreakOnce(name, target, 600000), 0);
    const std::string changed = Pattern(kSize + 5, 2);
    ASSERT_TRUE(WriteAll(RootPath(name), changed));
    Control(TestPort(), L"/_control/reset");
    auto records = Download(ServerUrl(L"/" + name), target, kSize + 5);
    ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_FINISHED);
    EXPECT_EQ(records.front().rec.unPosition, 0u);
    EXPECT_TRUE(ReadAll(target) == changed) << "old bytes were stitched onto a changed file";
    auto log = LogFor(TestPort(), file);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_FALSE(JsonField(log[0], "range").empty()) << "a resume should have been tried";
    EXPECT_EQ(JsonField(log[0], "status"), "200");

    // The server ignores ranges.
    RemoveDownload(target);
    ASSERT_GT(BreakOnce(name, target, 600000, kSize + 5), 0);
    Control(TestPort(), L"/_control/fault?path=/" + name + L"&fault=norange");
    records = Download(ServerUrl(L"/" + name), target, kSize + 5);
    ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_FINISHED);
    EXPECT_TRUE(ReadAll(target) == changed) << "a 200 answer was appended to old bytes";

    // A cache that ignores If-Range answers the resume with a range of the
    // new build, with its validator or none: the old bytes are dropped and
    // the new build comes whole.
    for (LPCWSTR pszCache : {L"noifrange", L"validatorless"}) {
        RemoveDownload(target);
        ASSERT_TRUE(WriteAll(RootPath(L"older.exe"), Pattern(kSize + 5, 3)));
        Control(TestPort(), L"/_control/reset");
        Control(TestPort(), L"/_control/fault?path=/" + name + L"&fault=serve=/older.exe,drop=600000");
        Control(TestPort(), L"/_control/fault?path=/" + name + L"&fault=" + pszCache);
        {
            const CScopedEnv pause(L"NUBRA_RETRY_PAUSE_MS", L"100");
            CLibraryLog library;
            records = Download(ServerUrl(L"/" + name), target, kSize + 5);
            EXPECT_EQ(library.With(L"the partial file is stale").size(), 1u);
        }
        ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_FINISHED);
        EXPECT_TRUE(ReadAll(target) == changed) << "two builds were spliced";
        log = WaitLogFor(TestPort(), file, 3);
        // The server logs a request as it ends: the abandoned resume may end
        // after the fresh request, so the two requests without a range are
        // counted rather than placed.
        const auto nWhole =
            std::count_if(log.begin(), log.end(), [](const std::string& l) { return JsonField(l, "range").empty(); });
        EXPECT_TRUE(log.size() == 3 && nWhole == 2) << "not asked again from byte 0: " << pszCache;
    }

    // A partial file without its note, or with the note of another address.
    for (int nCase = 0; nCase < 2; ++nCase) {
        RemoveDownload(target);
        ASSERT_TRUE(WriteAll(target + L".part", std::string(4000, 'x')));
        if (nCase == 1) {
            ASSERT_TRUE(WriteAll(target + L".part.meta", "url=http://127.0.0.1:1/other.exe\nvalidator=\"abc\"\n"));
        }
        Control(TestPort(), L"/_control/reset");
        records = Download(ServerUrl(L"/" + name), target, kSize + 5);
        ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_FINISHED);
        EXPECT_TRUE(ReadAll(target) == changed) << "case " << nCase;
        log = LogFor(TestPort(), file);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(JsonField(log[0], "range"), "") << "resumed bytes of unknown origin, case " << nCase;
    }
    RemoveDownload(target);
}

TEST(Resume, ContinuesUnderANewAddressOfTheSameFile)
{
    const std::wstring name = L"signed.exe";
    const std::string file = "/signed.exe";
    const std::wstring target = WorkPath(name);
    const std::string body = ServeFresh(name, 41);

    // A server that signs its addresses hands out a new query each time.
    const CScopedEnv noRetry(L"NUBRA_RETRY_LIMIT", L"0");
    Control(TestPort(), L"/_control/fault?path=/" + name + L"&fault=drop=700000");
    auto records = Download(ServerUrl(L"/" + name + L"?sig=first"), target, kSize);
    ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_NET_FAILED);
    const LONGLONG llHave = SizeOf(target + L".part");
    ASSERT_GT(llHave, 0);

    records = Download(ServerUrl(L"/" + name + L"?sig=second"), target, kSize);
    ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_FINISHED);
    EXPECT_EQ(records.front().rec.unPosition, static_cast<uint32_t>(llHave)) << "not resumed under the new address";
    EXPECT_TRUE(ReadAll(target) == body);
    auto log = LogFor(TestPort(), file);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(JsonField(log[1], "status"), "206");
    EXPECT_FALSE(JsonField(log[1], "if_range").empty()) << "resume without If-Range";

    // The file changed behind the new address: If-Range brings the whole of it.
    RemoveDownload(target);
    Control(TestPort(), L"/_control/reset");
    Control(TestPort(), L"/_control/fault?path=/" + name + L"&fault=drop=700000");
    records = Download(ServerUrl(L"/" + name + L"?sig=third"), target, kSize);
    ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_NET_FAILED);
    ASSERT_GT(SizeOf(target + L".part"), 0);
    ::Sleep(20);  // a new modification time, so a new validator
    const std::string changed = Pattern(kSize, 42);
    ASSERT_TRUE(WriteAll(RootPath(name), changed));
    records = Download(ServerUrl(L"/" + name + L"?sig=fourth"), target, kSize);
    ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_FINISHED);
    EXPECT_EQ(records.front().rec.unPosition, 0u);
    EXPECT_TRUE(ReadAll(target) == changed) << "old bytes were stitched onto a changed file";
    log = LogFor(TestPort(), file);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_FALSE(JsonField(log[1], "range").empty()) << "a resume should have been tried";
    EXPECT_EQ(JsonField(log[1], "status"), "200");
    RemoveDownload(target);
}

TEST(Resume, ReplacesAStalePartialFileWhole)
{
    const std::wstring name = L"stale.exe";
    const std::wstring target = WorkPath(name);
    const std::string body = ServeFresh(name, 51);
    const std::string stale(kSize + 70000, 'x');
    const std::wstring url = ServerUrl(L"/" + name);
    const std::string note = "url=" + std::string(url.begin(), url.end()) + "\nvalidator=\"abc\"\n";

    // Longer than the file ordered, so it cannot be its start: a new body
    // replaces it, and none of its tail may survive behind the new bytes.
    ASSERT_TRUE(WriteAll(target + L".part", stale));
    ASSERT_TRUE(WriteAll(target + L".part.meta", note));
    auto records = Download(url, target, kSize);
    ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_FINISHED);
    EXPECT_TRUE(ReadAll(target) == body) << "the stale partial file was not replaced whole";
    EXPECT_FALSE(Exists(target + L".part"));

    // Someone reads the stale file and keeps it from being deleted: it is
    // emptied and filled instead, and since it cannot be renamed while held,
    // the transfer reports a file failure rather than success.
    RemoveDownload(target);
    ASSERT_TRUE(WriteAll(target + L".part", stale));
    CKernelHandle hHolder(::CreateFileW((target + L".part").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(hHolder);
    records = Download(url, target, kSize);
    hHolder.Reset();
    EXPECT_EQ(FinalState(records), DOWNLOAD_STATE_FILE_FAILED);
    EXPECT_FALSE(Exists(target)) << "a held partial file was reported as a finished download";
    EXPECT_TRUE(ReadAll(target + L".part") == body) << "old bytes were left behind the new body";
    RemoveDownload(target);
}
