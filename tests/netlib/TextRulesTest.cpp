// The library's plain rules: proxy and server settings, the Content-Range
// answer, the validator note, the bounds of an answer, the disk writer, and
// the digest's text form.
#include <gtest/gtest.h>

#include <windows.h>

#include "NetTestUtil.h"
#include "NubraSdk/BackgroundWriter.h"
#include "NubraSdk/HostPort.h"
#include "NubraSdk/PartialFile.h"
#include "NubraSdk/Proxy.h"
#include "NubraSdk/TransferBounds.h"
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

TEST(TextRules, AnAnswerMayDeliverNoMoreThanTheOrderedFile)
{
    const ULONGLONG cap = 1000000;
    struct Case {
        const char* pszName;
        LONGLONG llOrdered, llOffset, llLength, llRangeTotal;
        bool bOk;
        ULONGLONG ullMax;
        bool bExact;
    };
    const Case cases[] = {
        {"length as ordered", 5000, 0, 5000, -1, true, 5000, true},
        {"no length: the order bounds it", 5000, 0, -1, -1, true, 5000, true},
        {"length four times the order", 5000, 0, 20000, -1, false, 0, false},
        {"length shorter than the order", 5000, 0, 4000, -1, false, 0, false},
        {"resumed range as ordered", 5000, 1000, 4000, 5000, true, 4000, true},
        {"range total differs from the order", 5000, 1000, 4000, 6000, false, 0, false},
        {"range length differs from its total", 5000, 1000, 3000, 5000, false, 0, false},
        {"no order: the announced length bounds it", 0, 0, 7000, -1, true, 7000, true},
        {"no order: the range total bounds it", -1, 1000, 6000, 7000, true, 6000, true},
        {"no order, range disagrees with length", 0, 1000, 6001, 7000, false, 0, false},
        {"nothing known: the cap bounds it", 0, 0, -1, -1, true, cap, false},
        {"announced beyond the cap", 0, 0, static_cast<LONGLONG>(cap) + 1, -1, false, 0, false},
        {"ordered beyond the cap", static_cast<LONGLONG>(cap) + 1, 0, -1, -1, false, 0, false},
        {"offset beyond the file", 5000, 6000, -1, -1, false, 0, false},
    };
    for (const Case& c : cases) {
        ULONGLONG ullMax = 0;
        bool bExact = false;
        const bool ok = nubra::BodyBounds(c.llOrdered, static_cast<ULONGLONG>(c.llOffset), c.llLength, c.llRangeTotal,
                                          cap, ullMax, bExact);
        EXPECT_EQ(ok, c.bOk) << c.pszName;
        if (ok && c.bOk) {
            EXPECT_EQ(ullMax, c.ullMax) << c.pszName;
            EXPECT_EQ(bExact, c.bExact) << c.pszName;
        }
    }

    // Redirects lead only to http and https, relative ones resolved.
    std::wstring to;
    const std::wstring from = L"http://a.test:8080/dir/setup.exe?sig=1";
    ASSERT_TRUE(nubra::RedirectTarget(from, L"https://b.test/s.exe", to));
    EXPECT_EQ(to, L"https://b.test/s.exe");
    ASSERT_TRUE(nubra::RedirectTarget(from, L"/other/s.exe?sig=2", to));
    EXPECT_EQ(to, L"http://a.test:8080/other/s.exe?sig=2");
    ASSERT_TRUE(nubra::RedirectTarget(from, L"next.exe", to));
    EXPECT_EQ(to, L"http://a.test:8080/dir/next.exe");
    for (const wchar_t* bad : {L"ftp://a.test/s.exe", L"file:///C:/Windows/s.exe", L"", L"http://a.test/\r\nX: y"})
        EXPECT_FALSE(nubra::RedirectTarget(from, bad, to)) << testing::PrintToString(std::wstring(bad));
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

TEST(TextRules, TheDiskWriterKeepsOrderAndReportsAFailedWrite)
{
    // Blocks handed over from two alternating buffers land in order, each
    // buffer reused only after the writer let go of it.
    const std::wstring path = WorkPath(L"writer.bin");
    CKernelHandle hFile(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(hFile);
    std::string expected;
    {
        nubra::CBackgroundWriter writer(hFile.Get());
        ASSERT_TRUE(writer.Start());
        std::string buffers[2];
        for (int i = 0; i < 6; ++i) {
            std::string& block = buffers[i % 2];
            // Refilled only now: the hand-over before this one waited for it.
            block = Pattern(100000 + i, 50 + i);
            expected += block;
            ASSERT_TRUE(writer.Write(reinterpret_cast<const BYTE*>(block.data()), static_cast<DWORD>(block.size())));
        }
        EXPECT_TRUE(writer.Finish());
    }
    hFile.Reset();
    EXPECT_TRUE(ReadAll(path) == expected) << "blocks were lost or reordered";

    // A handle that cannot write: the failure surfaces at the next hand-over.
    hFile.Reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(hFile);
    {
        nubra::CBackgroundWriter writer(hFile.Get());
        ASSERT_TRUE(writer.Start());
        const std::string block(4096, 'x');
        writer.Write(reinterpret_cast<const BYTE*>(block.data()), static_cast<DWORD>(block.size()));
        EXPECT_FALSE(writer.Write(reinterpret_cast<const BYTE*>(block.data()), static_cast<DWORD>(block.size())))
            << "a failed write was reported as success";
        EXPECT_FALSE(writer.Finish());
        EXPECT_NE(writer.Error(), 0u);
    }
    hFile.Reset();
    EXPECT_TRUE(ReadAll(path) == expected) << "a failed writer changed the file";
    ::DeleteFileW(path.c_str());
}
