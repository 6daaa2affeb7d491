// What a misbehaving server can make a transfer do: send more than the
// ordered file and its margin, announce a size that lies or that no number
// holds, or send the client round in redirects. Each must end the transfer
// as a failure, soon, without a retry, with the disk holding no more than
// the ordered file and its margin. A file that differs from the order by
// less is fetched whole.
#include <gtest/gtest.h>

#include <windows.h>

#include "NetTestUtil.h"
#include "netlib/NubraSdk.h"

using namespace nettest;

namespace {

constexpr size_t kSize = 200000;
// The margin of every order up to 100 MiB.
constexpr uint32_t kMargin = 1048576;

}  // namespace

TEST(Bounds, AnswersBeyondTheMarginFailWithoutFillingTheDisk)
{
    const std::wstring name = L"bounded.exe";
    ASSERT_TRUE(WriteAll(RootPath(name), Pattern(kSize, 31)));
    const std::wstring target = WorkPath(name);
    CLibraryLog log;
    ASSERT_TRUE(log.Installed());

    struct Case {
        const char* pszName;
        std::wstring strFault;
        LONGLONG llOrdered;
        const wchar_t* pszCap;  // NUBRA_SIZE_CAP_BYTES, or nullptr
        uint32_t unMost;        // no record may count more
        const wchar_t* pszLogged;
    };
    const Case cases[] = {
        {"endless body", L"endless", kSize, nullptr, kSize + kMargin, L"beyond the 1248576 bytes the order allows"},
        {"length beyond the margin", L"length=1248577", kSize, nullptr, 0,
         L"a file of 1248577 bytes, beyond the ordered 200000 bytes and their margin of 1048576"},
        {"length short of the order by more than the margin", L"length=100000", 3 * kMargin, nullptr, 0,
         L"a file of 100000 bytes, short of the ordered 3145728 bytes"},
        {"no length, body beyond the margin", L"nolength,length=1300000", kSize, nullptr, kSize + kMargin,
         L"beyond the 1248576 bytes the order allows"},
        {"endless body, no order: the cap", L"endless", 0, L"300000", 300000, L"beyond the 300000 bytes"},
        {"announced beyond the cap, no order", L"length=400000", 0, L"300000", 0, L"beyond the cap of 300000"},
        {"a length of 20 digits", L"rawlength=10000000000000000000", kSize, nullptr, 0, L"no number of at most 18"},
        {"a length of 19 digits", L"rawlength=1000000000000000000", kSize, nullptr, 0, L"no number of at most 18"},
    };
    for (const Case& c : cases) {
        RemoveDownload(target);
        const CScopedEnv cap(L"NUBRA_SIZE_CAP_BYTES", c.pszCap);
        auto records = Download(ServerUrl(L"/fault/" + c.strFault + L"/" + name), target, c.llOrdered);
        EXPECT_EQ(FinalState(records), DOWNLOAD_STATE_NET_FAILED) << c.pszName;
        EXPECT_LE(MostReceived(records), c.unMost) << c.pszName;
        EXPECT_FALSE(Exists(target)) << c.pszName << ": a target file was made";
        EXPECT_LE(SizeOf(target + L".part"), static_cast<LONGLONG>(c.unMost)) << c.pszName;
        EXPECT_FALSE(Exists(target + L".part") && c.unMost == 0) << c.pszName << ": written before the check";
        EXPECT_EQ(log.With(c.pszLogged).size(), 1u) << c.pszName << ": not logged";
        EXPECT_TRUE(log.With(L"retry").empty()) << c.pszName << ": a refused answer was asked again";
        log.Clear();
    }

    // The ordered size is a hint: a file a byte longer or shorter, announced
    // or not, arrives whole and the digest decides.
    const struct {
        const char* pszName;
        std::wstring strPath;
        LONGLONG llOrdered;
    } hints[] = {
        {"a byte longer than ordered", L"/" + name, kSize - 1},
        {"a byte shorter than ordered", L"/" + name, kSize + 1},
        {"no length, a byte longer than ordered", L"/fault/nolength/" + name, kSize - 1},
        {"no length, a byte shorter than ordered", L"/fault/nolength/" + name, kSize + 1},
        {"no order: the announced length", L"/" + name, 0},
    };
    for (const auto& c : hints) {
        RemoveDownload(target);
        auto records = Download(ServerUrl(c.strPath), target, c.llOrdered);
        ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_FINISHED) << c.pszName;
        EXPECT_TRUE(ReadAll(target) == ReadAll(RootPath(name))) << c.pszName;
        EXPECT_EQ(records.back().rec.unReceived, static_cast<uint32_t>(kSize)) << c.pszName;
    }
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

    std::string kept;
    {
        // A run that ends with the break, as one without retries would.
        const CScopedEnv once(L"NUBRA_RETRY_LIMIT", L"0");
        Control(TestPort(), L"/_control/fault?path=/" + name + L"&fault=drop=90000");
        auto records = Download(ServerUrl(L"/" + name), target, kSize);
        ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_NET_FAILED);
        kept = ReadAll(target + L".part");
        ASSERT_GT(kept.size(), 0u);
    }

    // A total beyond the order's margin, and one of 19 digits that once read
    // as no total at all.
    for (const wchar_t* pszTotal : {L"2000000", L"1000000000000000000"}) {
        Control(TestPort(), L"/_control/fault?path=/" + name + L"&fault=total=" + pszTotal);
        auto records = Download(ServerUrl(L"/" + name), target, kSize);
        EXPECT_EQ(FinalState(records), DOWNLOAD_STATE_NET_FAILED) << "a range of total " << pszTotal << " was accepted";
        EXPECT_EQ(MostReceived(records), 0u);
        EXPECT_TRUE(ReadAll(target + L".part") == kept) << "the partial file changed";
        EXPECT_FALSE(Exists(target));
    }

    // The next honest answer still resumes those bytes.
    auto records = Download(ServerUrl(L"/" + name), target, kSize);
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
