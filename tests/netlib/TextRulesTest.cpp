// The library's plain rules: proxy and server settings, the Content-Range
// answer and lengths, the validator note, the bounds of an answer and of a
// redirect, and the digest's text form.
#include <gtest/gtest.h>

#include <windows.h>

#include "NetTestUtil.h"
#include "NubraSdk/HostPort.h"
#include "NubraSdk/PartialFile.h"
#include "NubraSdk/Proxy.h"
#include "NubraSdk/TransferRules.h"
#include "netlib/NubraSdk.h"
#include "win/Handles.h"

using namespace nettest;

TEST(TextRules, ProxySettingsSplitIntoHostAndPort)
{
    struct Case {
        const wchar_t* pszSetting;
        const wchar_t* pszHost;  // nullptr: no proxy found
        const wchar_t* pszPort;
    };
    const Case cases[] = {
        {L"proxy.corp:8080", L"proxy.corp", L"8080"},
        {L"proxy.corp", L"proxy.corp", L"80"},
        {L"http://proxy.corp:3128/", L"proxy.corp", L"3128"},
        {L"ftp=f:21;https=s:8443;http=h:8080", L"h", L"8080"},
        {L"https=s:8443;socks=k:1080", L"s", L"8443"},
        {L"socks=k:1080", nullptr, nullptr},
        {L"[fe80::1]:8080", L"[fe80::1]", L"8080"},
        {L"proxy.corp:80x", nullptr, nullptr},
        {L"proxy.corp:70000", nullptr, nullptr},
        {L"", nullptr, nullptr},
        {L" ; ", nullptr, nullptr},
        // The same host:port rule as the watched server's.
        {L"fe80::1", L"[fe80::1]", L"80"},
        {L"proxy.corp:", nullptr, nullptr},
        {L"[::1]8080", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        std::wstring host, port;
        const bool ok = nubra::SplitProxyServer(c.pszSetting, host, port);
        EXPECT_EQ(ok, c.pszHost != nullptr) << testing::PrintToString(std::wstring(c.pszSetting));
        if (ok && c.pszHost) {
            EXPECT_EQ(host, c.pszHost);
            EXPECT_EQ(port, c.pszPort);
        }
    }
}

TEST(TextRules, HostAndOptionalPortSplitAlike)
{
    std::wstring host;
    USHORT port = 1;
    ASSERT_TRUE(nubra::SplitHostPort(L"upgrade.talvex.com", host, port));
    EXPECT_EQ(host, L"upgrade.talvex.com");
    EXPECT_EQ(port, 0);
    ASSERT_TRUE(nubra::SplitHostPort(L"127.0.0.1:8080", host, port));
    EXPECT_EQ(host, L"127.0.0.1");
    EXPECT_EQ(port, 8080);
    ASSERT_TRUE(nubra::SplitHostPort(L"[::1]:81", host, port));
    EXPECT_EQ(host, L"::1");
    EXPECT_EQ(port, 81);
    ASSERT_TRUE(nubra::SplitHostPort(L"fe80::1", host, port));
    EXPECT_EQ(port, 0);
    for (const wchar_t* bad : {L"", L"host:", L"host:0", L"host:65536", L"host:8o", L":80", L"[::1", L"a b"})
        EXPECT_FALSE(nubra::SplitHostPort(bad, host, port)) << testing::PrintToString(std::wstring(bad));
    for (const wchar_t* bad : {L"[::1]:", L"[::1]x", L"[::1]:0", L"a/b:80"})
        EXPECT_FALSE(nubra::SplitHostPort(bad, host, port)) << testing::PrintToString(std::wstring(bad));
    EXPECT_EQ(nubra::ParsePort(L"65535"), 65535);
    for (const wchar_t* bad : {L"", L"0", L"65536", L"123456", L"80x", L" 80", L"-1"})
        EXPECT_EQ(nubra::ParsePort(bad), 0) << testing::PrintToString(std::wstring(bad));
    EXPECT_EQ(nubra::BareHost(L"[::1]"), L"::1");
    EXPECT_EQ(nubra::BareHost(L"proxy.corp"), L"proxy.corp");
    EXPECT_EQ(nubra::BareHost(L"[]"), L"[]");
}

TEST(TextRules, ContentRangeAnswers)
{
    ULONGLONG first = 0, last = 0;
    LONGLONG total = 0;
    ASSERT_TRUE(nubra::ParseContentRange(L"bytes 100-199/200", first, last, total));
    EXPECT_EQ(first, 100u);
    EXPECT_EQ(last, 199u);
    EXPECT_EQ(total, 200);
    ASSERT_TRUE(nubra::ParseContentRange(L"bytes 0-9/*", first, last, total));
    EXPECT_EQ(total, -1);
    ASSERT_TRUE(nubra::ParseContentRange(L"bytes 5000000000-5000000001/6000000000", first, last, total));
    EXPECT_EQ(first, 5000000000ull);
    for (const wchar_t* bad :
         {L"", L"bytes */200", L"bytes 10-5/200", L"bytes 0-199/199", L"items 0-1/2", L"bytes a-1/2", L"bytes 0-1/"})
        EXPECT_FALSE(nubra::ParseContentRange(bad, first, last, total)) << testing::PrintToString(std::wstring(bad));
}

TEST(TextRules, ValidatorNoteDecidesWhatMayBeResumed)
{
    EXPECT_EQ(nubra::ChooseValidator(L"\"abc\"", L"Mon, 01 Jan 2024 00:00:00 GMT"), L"\"abc\"");
    EXPECT_EQ(nubra::ChooseValidator(L"W/\"abc\"", L"Mon, 01 Jan 2024 00:00:00 GMT"), L"Mon, 01 Jan 2024 00:00:00 GMT")
        << "If-Range cannot use a weak tag";

    const std::wstring target = WorkPath(L"note.exe");
    RemoveDownload(target);
    EXPECT_NE(nubra::PartialPathOf(target).find(L".exe"), std::wstring::npos);
    EXPECT_NE(nubra::MetaPathOf(target).find(L".exe"), std::wstring::npos);
    const std::wstring url = L"http://127.0.0.1:1/note.exe";
    ASSERT_TRUE(nubra::WritePartMeta(nubra::MetaPathOf(target), {url, L"\"v1\""}));
    ASSERT_TRUE(WriteAll(nubra::PartialPathOf(target), std::string(1234, 'p')));
    std::wstring validator;
    EXPECT_EQ(nubra::ResumableBytes(target, url, 0, validator), 1234u);
    EXPECT_EQ(validator, L"\"v1\"");
    EXPECT_EQ(nubra::ResumableBytes(target, url + L"?x", 5000, validator), 0u) << "another address, note without size";

    // With the ordered size in the note, another address for the same file
    // (a new signature, a mirror) resumes; another size never does.
    ASSERT_TRUE(nubra::WritePartMeta(nubra::MetaPathOf(target), {url, L"\"v1\"", 5000}));
    EXPECT_EQ(nubra::ResumableBytes(target, L"http://mirror.test/x/note.exe?sig=2", 5000, validator), 1234u);
    EXPECT_EQ(validator, L"\"v1\"");
    EXPECT_EQ(nubra::ResumableBytes(target, L"http://mirror.test/x/note.exe?sig=2", 5001, validator), 0u);
    EXPECT_EQ(nubra::ResumableBytes(target, L"http://mirror.test/x/note.exe?sig=2", 0, validator), 0u)
        << "without an ordered size only the same address may resume";
    EXPECT_EQ(nubra::ResumableBytes(target, url, 5001, validator), 1234u) << "same address: If-Range decides";
    EXPECT_EQ(nubra::ResumableBytes(target, url, 1234, validator), 0u) << "a partial file as long as the whole";

    // A note cut short by a crash, or with a forged line, is not trusted.
    ASSERT_TRUE(WriteAll(nubra::MetaPathOf(target), "url=http://127.0.0.1:1/note.exe\nvalidator=\"v1"));
    EXPECT_EQ(nubra::ResumableBytes(target, url, 0, validator), 0u);
    ASSERT_TRUE(WriteAll(nubra::MetaPathOf(target), "url=http://127.0.0.1:1/note.exe\nvalidator=\"v1\"\nsize=12x\n"));
    EXPECT_EQ(nubra::ResumableBytes(target, url, 0, validator), 0u);
    EXPECT_FALSE(nubra::WritePartMeta(nubra::MetaPathOf(target), {url, L"\"v\"\nurl=x"}));
    RemoveDownload(target);
}

TEST(TextRules, TheOrderedSizeIsAHintWithinItsMargin)
{
    using nubra::BoundsVerdict;
    const ULONGLONG cap = 10000000;
    const ULONGLONG mib = 1048576;  // the margin of every order up to 100 MiB
    struct Case {
        const char* pszName;
        LONGLONG llOrdered, llOffset, llLength, llRangeTotal;
        BoundsVerdict verdict;
        ULONGLONG ullMax;
        bool bExact;
    };
    const Case cases[] = {
        {"length as ordered", 5000, 0, 5000, -1, BoundsVerdict::Accepted, 5000, true},
        {"one byte longer", 5000, 0, 5001, -1, BoundsVerdict::Accepted, 5001, true},
        {"one byte shorter", 5000, 0, 4999, -1, BoundsVerdict::Accepted, 4999, true},
        {"longer by the margin", 5000, 0, 5000 + mib, -1, BoundsVerdict::Accepted, 5000 + mib, true},
        {"longer than the margin", 5000, 0, 5001 + mib, -1, BoundsVerdict::BeyondOrder, 0, false},
        {"no length: the order and its margin bound it", 5000, 0, -1, -1, BoundsVerdict::Accepted, 5000 + mib, false},
        {"no length, resumed", 5000, 1000, -1, -1, BoundsVerdict::Accepted, 4000 + mib, false},
        {"resumed range as ordered", 5000, 1000, 4000, 5000, BoundsVerdict::Accepted, 4000, true},
        {"resumed range one byte longer", 5000, 1000, 4001, 5001, BoundsVerdict::Accepted, 4001, true},
        {"range total beyond the margin", 5000, 1000, 4001 + mib, 5001 + mib, BoundsVerdict::BeyondOrder, 0, false},
        {"range length differs from its total", 5000, 1000, 3000, 5000, BoundsVerdict::Inconsistent, 0, false},
        {"no order: the announced length bounds it", 0, 0, 7000, -1, BoundsVerdict::Accepted, 7000, true},
        {"no order: the range total bounds it", -1, 1000, 6000, 7000, BoundsVerdict::Accepted, 6000, true},
        {"no order, range disagrees with length", 0, 1000, 6001, 7000, BoundsVerdict::Inconsistent, 0, false},
        {"nothing known: the cap bounds it", 0, 0, -1, -1, BoundsVerdict::Accepted, cap, false},
        {"announced beyond the cap", 0, 0, static_cast<LONGLONG>(cap) + 1, -1, BoundsVerdict::BeyondCap, 0, false},
        {"ordered beyond the cap", static_cast<LONGLONG>(cap) + 1, 0, -1, -1, BoundsVerdict::BeyondCap, 0, false},
        {"offset beyond any file of the order", 5000, 2 * mib, -1, -1, BoundsVerdict::OffsetBeyondFile, 0, false},
    };
    for (const Case& c : cases) {
        ULONGLONG ullMax = 0;
        bool bExact = false;
        const BoundsVerdict verdict = nubra::BodyBounds(c.llOrdered, static_cast<ULONGLONG>(c.llOffset), c.llLength,
                                                        c.llRangeTotal, cap, ullMax, bExact);
        EXPECT_EQ(static_cast<int>(verdict), static_cast<int>(c.verdict)) << c.pszName;
        if (verdict == BoundsVerdict::Accepted && c.verdict == BoundsVerdict::Accepted) {
            EXPECT_EQ(ullMax, c.ullMax) << c.pszName;
            EXPECT_EQ(bExact, c.bExact) << c.pszName;
        }
    }

    // Above 100 MiB the margin is 1 %, below the order as above it.
    const LONGLONG big = 300000000;
    const struct {
        LONGLONG llLength;
        BoundsVerdict verdict;
    } bigCases[] = {{big + 3000000, BoundsVerdict::Accepted},
                    {big + 3000001, BoundsVerdict::BeyondOrder},
                    {big - 3000000, BoundsVerdict::Accepted},
                    {big - 3000001, BoundsVerdict::BelowOrder}};
    for (const auto& c : bigCases) {
        ULONGLONG ullMax = 0;
        bool bExact = false;
        EXPECT_EQ(static_cast<int>(nubra::BodyBounds(big, 0, c.llLength, -1, nubra::kUnsizedCapBytes, ullMax, bExact)),
                  static_cast<int>(c.verdict))
            << c.llLength;
    }
}

TEST(TextRules, LengthsOfNineteenDigitsAreNoLengths)
{
    LONGLONG ll = -5;
    ASSERT_TRUE(nubra::ParseLength(L"0", ll));
    EXPECT_EQ(ll, 0);
    ASSERT_TRUE(nubra::ParseLength(L"999999999999999999", ll)) << "18 digits";
    EXPECT_EQ(ll, 999999999999999999LL);
    for (const wchar_t* bad : {L"", L"1000000000000000000", L"18446744073709551617", L"12a", L" 1", L"-1", L"+1"})
        EXPECT_FALSE(nubra::ParseLength(bad, ll)) << testing::PrintToString(std::wstring(bad));

    // A range total that wraps a signed 64-bit number used to read as "no total".
    ULONGLONG first = 0, last = 0;
    LONGLONG total = 0;
    EXPECT_TRUE(nubra::ParseContentRange(L"bytes 1-2/999999999999999999", first, last, total));
    for (const wchar_t* bad : {L"bytes 1-2/9999999999999999999", L"bytes 1-2/10000000000000000000",
                               L"bytes 1000000000000000000-1000000000000000001/1000000000000000002"})
        EXPECT_FALSE(nubra::ParseContentRange(bad, first, last, total)) << testing::PrintToString(std::wstring(bad));
}

TEST(TextRules, RedirectsLeadOnlyToTheWebAndNeverOutOfHttps)
{
    using nubra::RedirectVerdict;
    std::wstring to;
    const std::wstring from = L"http://a.test:8080/dir/setup.exe?sig=1";
    ASSERT_EQ(nubra::RedirectTarget(from, L"https://b.test/s.exe", to), RedirectVerdict::Follow);
    EXPECT_EQ(to, L"https://b.test/s.exe");
    ASSERT_EQ(nubra::RedirectTarget(from, L"/other/s.exe?sig=2", to), RedirectVerdict::Follow);
    EXPECT_EQ(to, L"http://a.test:8080/other/s.exe?sig=2");
    ASSERT_EQ(nubra::RedirectTarget(from, L"next.exe", to), RedirectVerdict::Follow);
    EXPECT_EQ(to, L"http://a.test:8080/dir/next.exe");
    EXPECT_EQ(nubra::RedirectTarget(from, L"ftp://a.test/s.exe", to), RedirectVerdict::NotWeb);
    EXPECT_EQ(nubra::RedirectTarget(from, L"file:///C:/Windows/s.exe", to), RedirectVerdict::NotWeb);
    for (const wchar_t* bad : {L"", L"http://a.test/\r\nX: y"})
        EXPECT_EQ(nubra::RedirectTarget(from, bad, to), RedirectVerdict::Malformed)
            << testing::PrintToString(std::wstring(bad));

    // Once on https, the file never travels in the clear.
    const std::wstring secure = L"https://a.test/dir/setup.exe";
    to.clear();
    EXPECT_EQ(nubra::RedirectTarget(secure, L"http://a.test/dir/setup.exe", to), RedirectVerdict::LeavesHttps);
    EXPECT_EQ(nubra::RedirectTarget(secure, L"HTTP://mirror.test:80/setup.exe", to), RedirectVerdict::LeavesHttps);
    EXPECT_TRUE(to.empty()) << "a refused redirect named a target";
    ASSERT_EQ(nubra::RedirectTarget(secure, L"https://mirror.test/setup.exe", to), RedirectVerdict::Follow);
    ASSERT_EQ(nubra::RedirectTarget(secure, L"/moved/setup.exe", to), RedirectVerdict::Follow);
    EXPECT_EQ(to, L"https://a.test/moved/setup.exe");
}

TEST(TextRules, DigestIsLowerCaseHexOrNothing)
{
    struct Case {
        std::string data;
        const wchar_t* pszMd5;
    };
    const Case cases[] = {
        {"", L"d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", L"900150983cd24fb0d6963f7d28e17f72"},
        {"The quick brown fox jumps over the lazy dog", L"9e107d9d372bb6826bd81d3542a419d6"},
        {std::string(1000000, 'a'), L"7707d6ae4e027c70eea2a935c2296f21"},
    };
    const std::wstring path = WorkPath(L"digest.bin");
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteAll(path, c.data));
        EXPECT_EQ(Md5(path), c.pszMd5) << c.data.size() << " bytes";
    }
    // Several read blocks: the served big file's digest comes from the driver.
    EXPECT_EQ(Md5(RootPath(L"big.bin")), Env(L"NUBRA_TEST_BIG_MD5"));

    wchar_t sz[MAX_PATH];
    for (const std::wstring& bad : {WorkPath(L"missing.bin"), Env(L"NUBRA_TEST_WORK"), std::wstring()}) {
        wmemset(sz, L'x', MAX_PATH);
        EXPECT_FALSE(Md5CalFile(bad.c_str(), sz));
        EXPECT_EQ(sz[0], L'\0') << "an unreadable file must leave the buffer empty";
    }
    ::DeleteFileW(path.c_str());
}

TEST(TextRules, UserProxyComesFromTheUsersSettings)
{
    HKEY hCreated = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                                0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hCreated, nullptr),
              ERROR_SUCCESS);
    const CRegKey key(hCreated);
    const HKEY hKey = key.Get();
    // Keep the test bed's own values and put them back afterwards.
    DWORD dwOldEnable = 0, cb = sizeof(dwOldEnable);
    const bool bHadEnable = ::RegQueryValueExW(hKey, L"ProxyEnable", nullptr, nullptr,
                                               reinterpret_cast<BYTE*>(&dwOldEnable), &cb) == ERROR_SUCCESS;
    wchar_t szOldServer[512] = {};
    cb = sizeof(szOldServer) - sizeof(wchar_t);
    const bool bHadServer = ::RegQueryValueExW(hKey, L"ProxyServer", nullptr, nullptr,
                                               reinterpret_cast<BYTE*>(szOldServer), &cb) == ERROR_SUCCESS;

    const wchar_t szServer[] = L"https=s.corp:8443;http=h.corp:3128";
    DWORD dwEnable = 1;
    ::RegSetValueExW(hKey, L"ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(szServer), sizeof(szServer));
    ::RegSetValueExW(hKey, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwEnable), sizeof(dwEnable));
    wchar_t szHost[MAX_PATH], szPort[MAX_PATH];
    EXPECT_TRUE(GetIEProxy(szHost, szPort));
    EXPECT_STREQ(szHost, L"h.corp");
    EXPECT_STREQ(szPort, L"3128");

    dwEnable = 0;
    ::RegSetValueExW(hKey, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwEnable), sizeof(dwEnable));
    EXPECT_FALSE(GetIEProxy(szHost, szPort));
    EXPECT_EQ(szHost[0], L'\0');

    if (bHadEnable)
        ::RegSetValueExW(hKey, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwOldEnable),
                         sizeof(dwOldEnable));
    else
        ::RegDeleteValueW(hKey, L"ProxyEnable");
    if (bHadServer)
        ::RegSetValueExW(hKey, L"ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(szOldServer),
                         static_cast<DWORD>((wcslen(szOldServer) + 1) * sizeof(wchar_t)));
    else
        ::RegDeleteValueW(hKey, L"ProxyServer");
}
