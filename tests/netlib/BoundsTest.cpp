// What a misbehaving server can make a transfer do: send more than the
// ordered file, announce a size that lies, or send the client round in
// redirects. Each must end the transfer as a failure, soon, with the disk
// holding no more than the ordered file.
#include <gtest/gtest.h>

#include <windows.h>

#include "NetTestUtil.h"
#include "netlib/NubraSdk.h"

using namespace nettest;

namespace {

constexpr size_t kSize = 200000;

uint32_t MostReceived(const std::vector<CRecord>& records)
{
    uint32_t un = 0;
    for (const CRecord& r : records)
        un = r.rec.unReceived > un ? r.rec.unReceived : un;
    return un;
}

}  // namespace

TEST(Bounds, AnswersBeyondTheOrderedSizeFailWithoutFillingTheDisk)
{
    const std::wstring name = L"bounded.exe";
    ASSERT_TRUE(WriteAll(RootPath(name), Pattern(kSize, 31)));
    const std::wstring target = WorkPath(name);

    struct Case {
        const char* pszName;
        std::wstring strFault;
        LONGLONG llOrdered;
        const wchar_t* pszCap;  // NUBRA_SIZE_CAP_BYTES, or nullptr
        uint32_t unMost;        // no record may count more
    };
    const Case cases[] = {
        {"endless body", L"endless", kSize, nullptr, kSize},
        {"length four times the order", L"length=800000", kSize, nullptr, 0},
        {"length shorter than the order", L"length=100000", kSize, nullptr, 0},
        {"no length, longer body", L"nolength,length=300000", kSize, nullptr, kSize},
        {"endless body, no order: the cap", L"endless", 0, L"300000", 300000},
        {"announced beyond the cap, no order", L"length=400000", 0, L"300000", 0},
    };
    for (const Case& c : cases) {
        RemoveDownload(target);
        ::SetEnvironmentVariableW(L"NUBRA_SIZE_CAP_BYTES", c.pszCap);
        auto records = Download(ServerUrl(L"/fault/" + c.strFault + L"/" + name), target, c.llOrdered);
        EXPECT_EQ(FinalState(records), DOWNLOAD_STATE_NET_FAILED) << c.pszName;
        EXPECT_LE(MostReceived(records), c.unMost) << c.pszName;
        EXPECT_FALSE(Exists(target)) << c.pszName << ": a target file was made";
        EXPECT_LE(SizeOf(target + L".part"), static_cast<LONGLONG>(c.unMost)) << c.pszName;
        EXPECT_FALSE(Exists(target + L".part") && c.unMost == 0) << c.pszName << ": written before the check";
    }
    ::SetEnvironmentVariableW(L"NUBRA_SIZE_CAP_BYTES", nullptr);

    // Without an ordered size the announced length bounds the body and the
    // file is complete at that length.
    RemoveDownload(target);
    auto records = Download(ServerUrl(L"/" + name), target, 0);
    ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_FINISHED);
    EXPECT_EQ(SizeOf(target), static_cast<LONGLONG>(kSize));
    RemoveDownload(target);
}

TEST(Bounds, ARangeOfAnotherTotalFailsAndKeepsThePartialFile)
{
    const std::wstring name = L"ranged.exe";
    const std::string body = Pattern(kSize, 32);
    ASSERT_TRUE(WriteAll(RootPath(name), body));
    const std::wstring target = WorkPath(name);
    RemoveDownload(target);
    Control(TestPort(), L"/_control/reset");

    Control(TestPort(), L"/_control/fault?path=/" + name + L"&fault=drop=90000");
    auto records = Download(ServerUrl(L"/" + name), target, kSize);
    ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_NET_FAILED);
    const std::string kept = ReadAll(target + L".part");
    ASSERT_GT(kept.size(), 0u);

    Control(TestPort(), L"/_control/fault?path=/" + name + L"&fault=total=400000");
    records = Download(ServerUrl(L"/" + name), target, kSize);
    EXPECT_EQ(FinalState(records), DOWNLOAD_STATE_NET_FAILED) << "a range of a 400000-byte file was accepted";
    EXPECT_EQ(MostReceived(records), 0u);
    EXPECT_TRUE(ReadAll(target + L".part") == kept) << "the partial file changed";
    EXPECT_FALSE(Exists(target));

    // The next honest answer still resumes those bytes.
    records = Download(ServerUrl(L"/" + name), target, kSize);
    ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_FINISHED);
    EXPECT_EQ(records.front().rec.unPosition, static_cast<uint32_t>(kept.size()));
    EXPECT_TRUE(ReadAll(target) == body);
    RemoveDownload(target);
}

TEST(Bounds, RedirectsAreFollowedTenTimesAndOnlyToTheWeb)
{
    const std::wstring name = L"moved.exe";
    const std::string file = "/moved.exe";
    const std::string body = Pattern(kSize, 33);
    ASSERT_TRUE(WriteAll(RootPath(name), body));
    const std::wstring target = WorkPath(name);

    RemoveDownload(target);
    Control(TestPort(), L"/_control/reset");
    auto records = Download(ServerUrl(L"/fault/redirect=10/" + name), target, kSize);
    ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_FINISHED) << "ten redirects must be followed";
    EXPECT_TRUE(ReadAll(target) == body);
    EXPECT_EQ(LogFor(TestPort(), file).size(), 11u);

    struct Case {
        const char* pszName;
        std::wstring strUrl;
        size_t nMaxRequests;
    };
    const Case cases[] = {
        {"eleven redirects", ServerUrl(L"/fault/redirect=11/" + name), 11},
        {"a redirect loop", ServerUrl(L"/fault/redirect=loop/" + name), 11},
        {"to ftp", ServerUrl(L"/" + name + L"?fault=location=ftp://127.0.0.1:1/moved.exe"), 1},
        {"to a local file", ServerUrl(L"/" + name + L"?fault=location=file:///C:/windows/win.ini"), 1},
    };
    for (const Case& c : cases) {
        RemoveDownload(target);
        Control(TestPort(), L"/_control/reset");
        records = Download(c.strUrl, target, kSize);
        EXPECT_EQ(FinalState(records), DOWNLOAD_STATE_NET_FAILED) << c.pszName;
        EXPECT_FALSE(Exists(target)) << c.pszName;
        EXPECT_LE(LogFor(TestPort(), file).size(), c.nMaxRequests) << c.pszName;
    }
    RemoveDownload(target);
}
