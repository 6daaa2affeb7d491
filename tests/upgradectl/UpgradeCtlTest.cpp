// The console tool's pure parts: the order record a client sends, the
// command line a script writes, the log text and the setup file's digest.
#include "NubraSdk/Md5.h"
#include "tools/upgradectl/CtlOptions.h"
#include "tools/upgradectl/FileDigest.h"
#include "tools/upgradectl/LogText.h"
#include "tools/upgradectl/UpgradeOrder.h"
#include "upgrade/SetupNaming.h"
#include "win/Handles.h"

#include <gtest/gtest.h>

#include <string.h>

#include <initializer_list>
#include <vector>

namespace {

// Field text read back from the raw bytes at the offset the companion uses.
std::wstring FieldAt(const UPGRADE_COMM& rec, size_t nOffset)
{
    const BYTE* p = reinterpret_cast<const BYTE*>(&rec) + nOffset;
    std::wstring strText;
    for (size_t i = 0; i < UPGRADE_TEXT_CCH; ++i) {
        wchar_t ch;
        memcpy(&ch, p + i * 2, 2);
        if (ch == 0)
            break;
        strText += ch;
    }
    return strText;
}

bool Parse(std::initializer_list<const wchar_t*> args, CtlRequest& req, std::wstring& strError)
{
    std::vector<const wchar_t*> argv = {L"DazuvuVevUpgradeCtl.exe"};
    argv.insert(argv.end(), args.begin(), args.end());
    return ParseCtlArgs(static_cast<int>(argv.size()), argv.data(), req, strError);
}

std::wstring ParseError(std::initializer_list<const wchar_t*> args)
{
    CtlRequest req;
    std::wstring strError;
    EXPECT_FALSE(Parse(args, req, strError)) << "accepted a bad command line";
    return strError;
}

}  // namespace

TEST(UpgradeOrder, FieldsLandWhereTheCompanionReadsThem)
{
    UpgradeOrderFields fields;
    fields.strFileName = L"setup.exe";
    fields.strVersion = L"3.1.0.25";
    fields.strURL = L"http://127.0.0.1:8080/d/setup.exe";
    fields.strSize = L"123456";
    fields.strMD5 = L"0123456789abcdef0123456789abcdef";
    fields.strUpgradeType = L"9434";
    UPGRADE_COMM rec;
    memset(&rec, 0xCC, sizeof(rec));
    std::wstring strError;
    ASSERT_TRUE(BuildUpgradeOrder(fields, false, rec, strError)) << strError;

    EXPECT_EQ(FieldAt(rec, 0), L"setup.exe");
    EXPECT_EQ(FieldAt(rec, 520), L"") << "szReserved is sent empty";
    EXPECT_EQ(FieldAt(rec, 1040), L"3.1.0.25");
    EXPECT_EQ(FieldAt(rec, 1560), L"http://127.0.0.1:8080/d/setup.exe");
    EXPECT_EQ(FieldAt(rec, 2080), L"123456");
    EXPECT_EQ(FieldAt(rec, 2600), L"0123456789abcdef0123456789abcdef");
    EXPECT_EQ(FieldAt(rec, 3120), L"9434");
    const BYTE* p = reinterpret_cast<const BYTE*>(&rec);
    EXPECT_EQ(p[3640], 0) << "bReserved";
    EXPECT_EQ(p[3641], 0) << "padding";
    // No stale bytes after a field's terminator: the receiver may look at them.
    for (size_t i = 2 * 9; i < 520; ++i)
        ASSERT_EQ(p[i], 0) << "byte " << i << " of szFileName";

    fields.strVersion = L"版本3";
    ASSERT_TRUE(BuildUpgradeOrder(fields, false, rec, strError));
    EXPECT_EQ(FieldAt(rec, 1040), L"版本3") << "UTF-16 text is stored unchanged";
}

TEST(UpgradeOrder, ValuesMustLeaveRoomForTheTerminator)
{
    UpgradeOrderFields fields;
    UPGRADE_COMM rec;
    std::wstring strError;

    fields.strURL = std::wstring(259, L'u');
    EXPECT_TRUE(BuildUpgradeOrder(fields, false, rec, strError)) << "259 characters fit";
    EXPECT_EQ(FieldAt(rec, 1560).size(), 259u);

    memset(&rec, 0x11, sizeof(rec));
    const UPGRADE_COMM before = rec;
    fields.strURL = std::wstring(260, L'u');
    EXPECT_FALSE(BuildUpgradeOrder(fields, false, rec, strError));
    EXPECT_NE(strError.find(L"--url"), std::wstring::npos) << "the message names the option";
    EXPECT_EQ(memcmp(&rec, &before, sizeof(rec)), 0) << "a refused order leaves the record alone";

    EXPECT_TRUE(BuildUpgradeOrder(fields, true, rec, strError)) << "a test may fill a field to the brim";
    const wchar_t* pURL = reinterpret_cast<const wchar_t*>(reinterpret_cast<const BYTE*>(&rec) + 1560);
    EXPECT_EQ(pURL[259], L'u');
    EXPECT_EQ(FieldAt(rec, 2080), L"") << "the next field starts clean";

    fields.strURL = std::wstring(261, L'u');
    EXPECT_FALSE(BuildUpgradeOrder(fields, true, rec, strError)) << "nothing may spill into the next field";
}

TEST(UpgradeOrder, MessageWordsAndPayload)
{
    EXPECT_EQ(MakeOrderDwData(239, 0), 15663104u);
    EXPECT_EQ(MakeOrderDwData(239, 1), 15663105u);
    EXPECT_EQ(MakeOrderDwData(239, 2), 15663106u);
    EXPECT_EQ(MakeOrderDwData(238, 0), 238u << 16);

    UPGRADE_COMM rec;
    memset(&rec, 0x5A, sizeof(rec));
    std::vector<BYTE> full = MakeOrderPayload(rec, 3642);
    ASSERT_EQ(full.size(), 3642u);
    EXPECT_EQ(memcmp(full.data(), &rec, 3642), 0);
    std::vector<BYTE> cut = MakeOrderPayload(rec, 100);
    ASSERT_EQ(cut.size(), 100u);
    EXPECT_EQ(cut[99], 0x5A);
    std::vector<BYTE> padded = MakeOrderPayload(rec, 4000);
    ASSERT_EQ(padded.size(), 4000u);
    EXPECT_EQ(padded[3641], 0x5A);
    EXPECT_EQ(padded[3642], 0);
    EXPECT_EQ(padded[3999], 0);
    EXPECT_TRUE(MakeOrderPayload(rec, 0).empty());

    // The setup name the tool sends is the one the companion derives itself:
    // query and fragment are no part of it.
    EXPECT_EQ(SetupNameFromUrl(L"http://h/a/b/Setup_3.1.exe"), L"Setup_3.1.exe");
    EXPECT_EQ(SetupNameFromUrl(L"http://h/dir/"), L"");
    EXPECT_EQ(SetupNameFromUrl(L"noslash"), L"noslash");
    EXPECT_EQ(SetupNameFromUrl(L"http://h/a/Setup_3.1.exe?sig=x/y#z"), L"Setup_3.1.exe");
}

TEST(CtlOptions, OrderTakesNamedOptions)
{
    CtlRequest req;
    std::wstring strError;
    ASSERT_TRUE(Parse({L"order", L"--url", L"http://127.0.0.1/s.exe", L"--version=2.0", L"--size", L"42", L"--md5",
                       L"0123456789ABCDEF0123456789abcdef", L"--type", L"9434", L"--mode", L"1", L"--wait-ms", L"5000"},
                      req, strError))
        << strError;
    EXPECT_EQ(req.nCommand, CTL_ORDER);
    EXPECT_EQ(req.strURL, L"http://127.0.0.1/s.exe");
    EXPECT_EQ(req.strVersion, L"2.0");
    EXPECT_EQ(req.strSize, L"42");
    EXPECT_EQ(req.strMD5, L"0123456789abcdef0123456789abcdef")
        << "the companion compares exactly with a lower-case digest, so upper case is lowered";
    EXPECT_EQ(req.strUpgradeType, L"9434");
    EXPECT_EQ(req.nMode, 1);
    EXPECT_EQ(req.nTag, 239);
    EXPECT_EQ(req.cbData, 3642u);
    EXPECT_EQ(req.dwWaitMs, 5000u);
    EXPECT_EQ(req.dwTimeoutMs, static_cast<DWORD>(CTL_DEFAULT_SEND_TIMEOUT_MS))
        << "the companion may answer only after a modal prompt";

    ASSERT_TRUE(Parse({L"order", L"--url", L"u", L"--version", L"", L"--file", L"C:\\setup.exe"}, req, strError))
        << "--file stands in for both --size and --md5: " << strError;
    EXPECT_TRUE(req.bHaveLocalFile);
    EXPECT_FALSE(req.bHaveSize);
    EXPECT_EQ(req.strVersion, L"") << "an empty version is a valid order";
    EXPECT_EQ(req.nMode, 0);

    ASSERT_TRUE(Parse({L"order", L"--url", L"u", L"--version", L"1", L"--file", L"f", L"--md5",
                       L"00000000000000000000000000000000", L"--raw-mode", L"2", L"--tag", L"238", L"--cbdata", L"3641",
                       L"--unterminated"},
                      req, strError))
        << strError;
    EXPECT_TRUE(req.bHaveMD5) << "an explicit --md5 overrides the file's";
    EXPECT_EQ(req.nMode, 2);
    EXPECT_EQ(req.nTag, 238);
    EXPECT_EQ(req.cbData, 3641u);
    EXPECT_TRUE(req.bUnterminated);
}

TEST(CtlOptions, OrderRejectsBadInputClearly)
{
    const wchar_t* md5 = L"0123456789abcdef0123456789abcdef";
    EXPECT_NE(ParseError({L"order", L"--version", L"1", L"--size", L"1", L"--md5", md5}).find(L"--url"),
              std::wstring::npos);
    EXPECT_NE(ParseError({L"order", L"--url", L"u", L"--size", L"1", L"--md5", md5}).find(L"--version"),
              std::wstring::npos);
    EXPECT_NE(ParseError({L"order", L"--url", L"u", L"--version", L"1", L"--md5", md5}).find(L"--size"),
              std::wstring::npos);
    EXPECT_NE(ParseError({L"order", L"--url", L"u", L"--version", L"1", L"--size", L"1"}).find(L"--md5"),
              std::wstring::npos);
    EXPECT_NE(ParseError({L"order", L"--url", L"u", L"--version", L"1", L"--file", L"f", L"--mode", L"2"})
                  .find(L"--mode"),
              std::wstring::npos)
        << "only 0 and 1 are modes; --raw-mode is for sending others";
    ParseError({L"order", L"--url", L"u", L"--version", L"1", L"--file", L"f", L"--mode", L"1", L"--raw-mode", L"1"});
    ParseError({L"order", L"--url", L"u", L"--version", L"1", L"--file", L"f", L"--mode", L"-1"});
    EXPECT_NE(ParseError({L"order", L"--url", L"u", L"--version", L"1", L"--md5", md5, L"--size", L"2147483648"})
                  .find(L"--size"),
              std::wstring::npos)
        << "the companion reads the size as a 32-bit signed number";
    ParseError({L"order", L"--url", L"u", L"--version", L"1", L"--md5", md5, L"--size", L"12k"});
    ParseError({L"order", L"--url", L"u", L"--version", L"1", L"--md5", md5, L"--size", L" 12"});
    ParseError({L"order", L"--url", L"u", L"--version", L"1", L"--size", L"1", L"--md5", L"0123"});
    ParseError(
        {L"order", L"--url", L"u", L"--version", L"1", L"--size", L"1", L"--md5", L"0123456789abcdef0123456789abcdeg"});
    ParseError({L"order", L"--url", L"u", L"--version", L"1", L"--file", L"f", L"--tag", L"65536"});
    ParseError({L"order", L"--url", L"u", L"--version", L"1", L"--file", L"f", L"--cbdata", L"99999999"});
    EXPECT_NE(ParseError({L"order", L"--url", L"u", L"--url", L"v", L"--version", L"1", L"--file", L"f"})
                  .find(L"twice"),
              std::wstring::npos);
    EXPECT_NE(ParseError({L"order", L"--url"}).find(L"needs a value"), std::wstring::npos);
    EXPECT_NE(ParseError({L"order", L"--colour", L"red"}).find(L"--colour"), std::wstring::npos);
    EXPECT_NE(ParseError({L"order", L"stray", L"--url", L"u", L"--version", L"1", L"--file", L"f"}).find(L"stray"),
              std::wstring::npos);
    EXPECT_NE(ParseError({L"upgrade"}).find(L"upgrade"), std::wstring::npos);
}

TEST(CtlOptions, CommandsWaitsAndInspection)
{
    CtlRequest req;
    std::wstring strError;

    ASSERT_TRUE(Parse({L"prompt"}, req, strError));
    EXPECT_EQ(req.nCode, 100u);
    EXPECT_TRUE(req.bPost) << "the prompt blocks its handler, so it is posted unless asked otherwise";
    ASSERT_TRUE(Parse({L"prompt", L"--send", L"--timeout-ms", L"100"}, req, strError));
    EXPECT_FALSE(req.bPost);
    EXPECT_EQ(req.dwTimeoutMs, 100u);
    ASSERT_TRUE(Parse({L"hold"}, req, strError));
    EXPECT_EQ(req.nCode, 101u);
    EXPECT_FALSE(req.bPost);
    ASSERT_TRUE(Parse({L"install", L"--post"}, req, strError));
    EXPECT_EQ(req.nCode, 102u);
    EXPECT_TRUE(req.bPost);
    ASSERT_TRUE(Parse({L"release", L"--tag", L"7"}, req, strError));
    EXPECT_EQ(req.nCode, 103u);
    EXPECT_EQ(req.nTag, 7);
    ASSERT_TRUE(Parse({L"cmd", L"104"}, req, strError));
    EXPECT_EQ(req.nCode, 104u);
    ParseError({L"cmd"});
    ParseError({L"cmd", L"x"});
    ParseError({L"hold", L"--post", L"--send"});
    ParseError({L"hold", L"--post=1"});

    ASSERT_TRUE(Parse({L"wait-window"}, req, strError));
    EXPECT_EQ(req.dwTimeoutMs, static_cast<DWORD>(CTL_DEFAULT_WAIT_TIMEOUT_MS));
    ASSERT_TRUE(Parse({L"wait-gone", L"--timeout-ms=0"}, req, strError));
    EXPECT_EQ(req.nCommand, CTL_WAIT_GONE);
    EXPECT_EQ(req.dwTimeoutMs, 0u);

    ASSERT_TRUE(Parse({L"client"}, req, strError));
    EXPECT_FALSE(req.bHaveExitAfter);
    ASSERT_TRUE(Parse({L"client", L"--exit-after-ms", L"2500"}, req, strError));
    EXPECT_TRUE(req.bHaveExitAfter);
    EXPECT_EQ(req.dwExitAfterMs, 2500u);

    ASSERT_TRUE(Parse({L"log"}, req, strError));
    EXPECT_FALSE(req.bHavePath);
    ASSERT_TRUE(Parse({L"log", L"C:\\x\\Upgrade.log"}, req, strError));
    EXPECT_EQ(req.strPath, L"C:\\x\\Upgrade.log");
    ParseError({L"log", L"a", L"b"});
    ASSERT_TRUE(Parse({L"state", L"--ini", L"C:\\u.ini"}, req, strError));
    EXPECT_EQ(req.strPath, L"C:\\u.ini");

    // The companion a client started, by its process id.
    ASSERT_TRUE(
        Parse({L"order", L"--url", L"u", L"--version", L"1", L"--file", L"f", L"--pid", L"1234"}, req, strError))
        << strError;
    EXPECT_EQ(req.dwProcessId, 1234u);
    ASSERT_TRUE(Parse({L"hold"}, req, strError));
    EXPECT_EQ(req.dwProcessId, 0u) << "without --pid, the first window of the class";
    for (const wchar_t* pszCommand : {L"hold", L"prompt", L"cmd", L"wait-window", L"wait-gone", L"quit"}) {
        std::vector<const wchar_t*> args = {pszCommand, L"--pid", L"8"};
        if (std::wstring(pszCommand) == L"cmd")
            args.insert(args.begin() + 1, L"100");
        std::vector<const wchar_t*> argv = {L"DazuvuVevUpgradeCtl.exe"};
        argv.insert(argv.end(), args.begin(), args.end());
        ASSERT_TRUE(ParseCtlArgs(static_cast<int>(argv.size()), argv.data(), req, strError)) << strError;
        EXPECT_EQ(req.dwProcessId, 8u) << pszCommand;
    }
    ParseError({L"hold", L"--pid", L"0"});
    ParseError({L"hold", L"--pid", L"-4"});
    ParseError({L"hold", L"--pid", L"4294967296"});
    EXPECT_NE(ParseError({L"state", L"--pid", L"8"}).find(L"--pid"), std::wstring::npos);

    // The SHA-256 of the setup file in the digest field.
    ASSERT_TRUE(Parse({L"order", L"--url", L"u", L"--version", L"1", L"--file", L"f", L"--sha256"}, req, strError))
        << strError;
    EXPECT_TRUE(req.bSha256);
    EXPECT_NE(ParseError({L"order", L"--url", L"u", L"--version", L"1", L"--size", L"1", L"--sha256"}).find(L"--file"),
              std::wstring::npos)
        << "the digest is computed from the file";
    EXPECT_NE(ParseError({L"order", L"--url", L"u", L"--version", L"1", L"--file", L"f", L"--sha256", L"--md5",
                          L"0123456789abcdef0123456789abcdef"})
                  .find(L"--md5"),
              std::wstring::npos);
    EXPECT_NE(CtlUsageText(L"order").find(L"--sha256"), std::wstring::npos);
    EXPECT_NE(CtlUsageText(L"order").find(L"--pid N"), std::wstring::npos);

    for (const wchar_t* pszHelp : {L"--help", L"-h", L"help", L"/?"}) {
        ASSERT_TRUE(Parse({pszHelp}, req, strError));
        EXPECT_EQ(req.nCommand, CTL_HELP);
    }
    ASSERT_TRUE(Parse({L"order", L"--help"}, req, strError)) << "help wins over missing options";
    EXPECT_EQ(req.nCommand, CTL_HELP);
    EXPECT_NE(CtlUsageText(req.strHelpTopic).find(L"--cbdata"), std::wstring::npos);
    EXPECT_NE(CtlUsageText(L"").find(L"Exit codes"), std::wstring::npos);
}

TEST(LogText, RecordsComeOutAsWideTextTheirControlsEscaped)
{
    // Three records as the log writes them, in code page 936, then swapped.
    std::string strPlain =
        "2026-01-02 03:04:05.006 [INFO]\tThread[12]\t.\\UpgradeDlgDUI\tCUpgradeDlgDUI::OnCopyData: 7 :\r\n"
        "URL check failure,URL= ftp:/x\r\n\r\n";
    strPlain += std::string("\0\r\n", 3);
    strPlain += "2026-01-02 03:04:06.000 [INFO]\tThread[12]\t.\\Msg\tF: 9 :\r\n\xC9\xFD\xBC\xB6\r\n\r\n";  // "升级"
    strPlain += std::string("\0\r\n", 3);
    strPlain += "2026-01-02 03:04:07.000 [INFO]\tThread[12]\t.\\Msg\tF: 9 :\r\nerror: bad\x1b[2J\r\nURL\r\n\r\n";
    strPlain += std::string("\0\r\n", 3);
    std::string strFile = strPlain;
    for (char& ch : strFile) {
        const unsigned char b = static_cast<unsigned char>(ch);
        ch = static_cast<char>(((b & 0x0F) << 4) | (b >> 4));
    }

    std::wstring strText;
    ASSERT_TRUE(LogFileText(strFile, 936, strText));
    EXPECT_EQ(strText.find(L'\r'), std::wstring::npos) << "line ends are plain newlines";
    EXPECT_EQ(strText.find(L'\0'), std::wstring::npos) << "no record terminators";
    EXPECT_EQ(strText.find(L"2026-01-02 03:04:05.006 [INFO]\tThread[12]\t.\\UpgradeDlgDUI\t"
                           L"CUpgradeDlgDUI::OnCopyData: 7 :\nURL check failure,URL= ftp:/x\n"),
              0u);
    EXPECT_NE(strText.find(L"F: 9 :\n升级\n"), std::wstring::npos) << "code page 936 text is converted";
    EXPECT_NE(strText.find(L"03:04:07.000 [ERROR]\tThread[12]\t.\\Msg\tF: 9 :\nerror: bad\\x1b[2J\\r\\nURL\n\n\n"),
              std::wstring::npos)
        << "the severity in the level, the message's controls escaped";
    EXPECT_NE(strText.find(L"\n\nrun 1: 2026-01-02 03:04:05.006 to 2026-01-02 03:04:07.000, 3 records, outcome "
                           L"still running or ended without a record, last error bad\\x1b[2J URL\nsummary: 3 records"),
              std::wstring::npos)
        << "the decoder's run lines and summary close the view";
    EXPECT_TRUE(LogFileText("", 936, strText));
    EXPECT_EQ(strText, L"summary: no records\n");
    EXPECT_FALSE(LogFileText("MZ not a log", 936, strText)) << "a foreign file is no log";
}

TEST(FileDigest, SizeAndLowerCaseDigestsOfALocalFile)
{
    EXPECT_EQ(nubra::Md5Text("abc", 3), L"900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(nubra::Md5Text("", 0), L"d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Sha256Text("abc", 3), L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    wchar_t szDir[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, szDir), 0u);
    const std::wstring strPath = std::wstring(szDir) + L"upgradectl_digest_test.bin";
    // More than one read block, so the digest spans several updates.
    std::string strData(200000, '\0');
    for (size_t i = 0; i < strData.size(); ++i)
        strData[i] = static_cast<char>(i * 7 + 3);
    CKernelHandle hFile(
        CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(hFile);
    DWORD cbWritten = 0;
    ASSERT_TRUE(WriteFile(hFile.Get(), strData.data(), static_cast<DWORD>(strData.size()), &cbWritten, nullptr));
    hFile.Reset();

    std::wstring strSize, strMD5, strSha256, strError;
    ASSERT_TRUE(DigestSetupFile(strPath, false, strSize, strMD5, strError)) << strError;
    EXPECT_EQ(strSize, L"200000");
    EXPECT_EQ(strMD5, nubra::Md5Text(strData.data(), strData.size()));
    EXPECT_EQ(strMD5.find_first_not_of(L"0123456789abcdef"), std::wstring::npos);
    ASSERT_TRUE(DigestSetupFile(strPath, true, strSize, strSha256, strError)) << strError;
    EXPECT_EQ(strSha256, Sha256Text(strData.data(), strData.size()));
    EXPECT_EQ(strSha256.size(), 64u);
    EXPECT_EQ(strSha256.find_first_not_of(L"0123456789abcdef"), std::wstring::npos);
    DeleteFileW(strPath.c_str());

    EXPECT_FALSE(DigestSetupFile(strPath, true, strSize, strMD5, strError));
    EXPECT_NE(strError.find(L"upgradectl_digest_test.bin"), std::wstring::npos) << "the message names the file";
}
