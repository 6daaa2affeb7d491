// Reading and writing the state file as the upgrade flow does.
#include "upgrade/StateFile.h"

#include "TestFolder.h"
#include "win/Handles.h"
#include "win/OwnFile.h"

#include <gtest/gtest.h>

#include <shlobj.h>
#include <shlwapi.h>

namespace {

TEST(StateFile, TheUpgradeFolderIsTheOneUnderApplicationData)
{
    // The window and the box's "don't remind me" both take the folder from here.
    wchar_t szAppData[MAX_PATH] = {};
    ASSERT_TRUE(::SHGetSpecialFolderPathW(nullptr, szAppData, CSIDL_APPDATA, TRUE));
    EXPECT_EQ(UpgradeFolderPath(), std::wstring(szAppData) + L"\\DazuvuvevUpgrade\\");
}

TEST(StateFile, MissingFileSectionOrKeyReadsEmpty)
{
    CTestFolder folder;
    const std::wstring strIni = folder.File(L"Upgrade.ini");
    EXPECT_EQ(ReadUpgradeValue(strIni.c_str(), kKeyVersion), L"");
    folder.Write(L"Upgrade.ini", "");
    EXPECT_EQ(ReadUpgradeValue(strIni.c_str(), kKeyOverFlags), L"");
    folder.Write(L"Upgrade.ini", "[OTHER]\r\nversion=1.0\r\n");
    EXPECT_EQ(ReadUpgradeValue(strIni.c_str(), kKeyVersion), L"");
}

TEST(StateFile, ValuesRoundTripAndEmptyWritesKeepTheKey)
{
    CTestFolder folder;
    const std::wstring strIni = folder.File(L"Upgrade.ini");
    WriteUpgradeValue(strIni.c_str(), kKeyVersion, L"5.2.0.1024");
    WriteUpgradeValue(strIni.c_str(), kKeyOverFlags, kOverFlagsDone);
    WriteUpgradeValue(strIni.c_str(), kKeyPath, L"C:\\上传\\DazuvuVevSetup.exe");
    EXPECT_EQ(ReadUpgradeValue(strIni.c_str(), kKeyVersion), L"5.2.0.1024");
    EXPECT_EQ(ReadUpgradeValue(strIni.c_str(), kKeyOverFlags), L"over");
    EXPECT_EQ(ReadUpgradeValue(strIni.c_str(), kKeyPath), L"C:\\上传\\DazuvuVevSetup.exe");

    WriteUpgradeValue(strIni.c_str(), kKeyOverFlags, L"");
    EXPECT_EQ(ReadUpgradeValue(strIni.c_str(), kKeyOverFlags), L"");
    wchar_t szKeys[256] = {};
    ::GetPrivateProfileStringW(kUpgradeSection, nullptr, L"", szKeys, 256, strIni.c_str());
    bool bFound = false;
    for (LPCWSTR p = szKeys; *p; p += wcslen(p) + 1)
        bFound = bFound || wcscmp(p, kKeyOverFlags) == 0;
    EXPECT_TRUE(bFound) << "an empty value keeps its key";
}

TEST(StateFile, FlagsAreWholeExactTexts)
{
    // The window compares what it reads with "over" and "true" as whole
    // strings; anything else is "not set".
    CTestFolder folder;
    const std::wstring strIni = folder.File(L"Upgrade.ini");
    folder.Write(L"Upgrade.ini", "[UPGRADE]\r\noverflags=Over\r\nclearflags=TRUE\r\nversion=5.2\r\n");
    EXPECT_NE(ReadUpgradeValue(strIni.c_str(), kKeyOverFlags), kOverFlagsDone);
    EXPECT_NE(ReadUpgradeValue(strIni.c_str(), kKeyClearFlags), kFlagTrue);
    folder.Write(L"Upgrade.ini", "[UPGRADE]\r\noverflags=overx\r\nclearflags=true\r\n");
    EXPECT_NE(ReadUpgradeValue(strIni.c_str(), kKeyOverFlags), kOverFlagsDone);
    EXPECT_EQ(ReadUpgradeValue(strIni.c_str(), kKeyClearFlags), kFlagTrue);
}

TEST(StateFile, LongValuesAreCutAt259Characters)
{
    CTestFolder folder;
    const std::wstring strIni = folder.File(L"Upgrade.ini");
    const std::wstring strLong(400, L'v');
    WriteUpgradeValue(strIni.c_str(), kKeyVersion, strLong.c_str());
    EXPECT_EQ(ReadUpgradeValue(strIni.c_str(), kKeyVersion), std::wstring(259, L'v'));
}

std::string FileBytes(const std::wstring& strPath)
{
    std::string data;
    CKernelHandle file(
        ::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file)
        return data;
    char buf[4096];
    DWORD n = 0;
    while (::ReadFile(file.Get(), buf, sizeof(buf), &n, nullptr) && n)
        data.append(buf, n);
    return data;
}

TEST(StateFile, StaysAnsiWhileValuesFitAndBecomesUtf16KeepingEveryKey)
{
    CTestFolder folder;
    const std::wstring strIni = folder.File(L"Upgrade.ini");
    ASSERT_TRUE(PrepareStateFile(strIni.c_str()));
    EXPECT_EQ(FileBytes(strIni), "") << "a new file is empty";

    // What older companions and other readers know: ANSI while values fit.
    WriteUpgradeValue(strIni.c_str(), kKeyVersion, L"5.1.0.2046");
    WriteUpgradeValue(strIni.c_str(), kKeyOverFlags, kOverFlagsDone);
    ASSERT_NE(FileBytes(strIni).find("version=5.1.0.2046"), std::string::npos) << "still ANSI";

    // Outside the ANSI code page, and outside the BMP: as "?" in an ANSI file
    // the same order would download again for ever.
    const std::wstring strVersion = L"5.2 \u0e01\u0e02 \U0001F600 \u4e0d\u518d";
    ASSERT_FALSE(FitsAnsiCodePage(strVersion.c_str()));
    WriteUpgradeValue(strIni.c_str(), kKeyVersionNoTips, strVersion.c_str());
    EXPECT_EQ(FileBytes(strIni).substr(0, 2), std::string("\xFF\xFE"));
    EXPECT_EQ(ReadUpgradeValue(strIni.c_str(), kKeyVersionNoTips), strVersion);
    EXPECT_EQ(ReadUpgradeValue(strIni.c_str(), kKeyVersion), L"5.1.0.2046") << "every key kept";
    EXPECT_EQ(ReadUpgradeValue(strIni.c_str(), kKeyOverFlags), kOverFlagsDone);
    WriteUpgradeValue(strIni.c_str(), kKeyVersion, strVersion.c_str());
    EXPECT_EQ(ReadUpgradeValue(strIni.c_str(), kKeyVersion), strVersion);
    EXPECT_FALSE(::PathFileExistsW((strIni + L".new").c_str())) << "no leftover of the rewrite";

    // Preparing again (the next start) changes nothing.
    const std::string before = FileBytes(strIni);
    ASSERT_TRUE(PrepareStateFile(strIni.c_str()));
    EXPECT_EQ(FileBytes(strIni), before);
}

TEST(StateFile, AnExistingAnsiFileIsReadKeptAndConvertedOnlyWhenAValueNeedsIt)
{
    CTestFolder folder;
    const std::wstring strIni = folder.File(L"Upgrade.ini");
    // Chinese in the code page the users' machines have (936).
    const std::string ansi = "[UPGRADE]\r\nversion=4.9.1\r\noverflags=over\r\nversion_no_tips=\xB2\xBB\xD4\xD9\r\n";
    folder.Write(L"Upgrade.ini", ansi);
    ASSERT_TRUE(PrepareStateFile(strIni.c_str()));
    EXPECT_EQ(FileBytes(strIni), ansi);
    EXPECT_EQ(ReadUpgradeValue(strIni.c_str(), kKeyVersion), L"4.9.1");
    EXPECT_EQ(ReadUpgradeValue(strIni.c_str(), kKeyOverFlags), kOverFlagsDone);
    WriteUpgradeValue(strIni.c_str(), kKeyClearFlags, kFlagFalse);
    EXPECT_EQ(ReadUpgradeValue(strIni.c_str(), kKeyClearFlags), kFlagFalse);
    EXPECT_NE(FileBytes(strIni).find("clearflags=false"), std::string::npos) << "still ANSI";

    const std::wstring strThai = L"5.0 \u0e01";
    WriteUpgradeValue(strIni.c_str(), kKeyVersion, strThai.c_str());
    EXPECT_EQ(ReadUpgradeValue(strIni.c_str(), kKeyVersion), strThai);
    EXPECT_EQ(ReadUpgradeValue(strIni.c_str(), kKeyVersionNoTips), L"\u4e0d\u518d") << "ANSI text converted";
    EXPECT_EQ(ReadUpgradeValue(strIni.c_str(), kKeyClearFlags), kFlagFalse);

    // No path at all: nothing is prepared or read.
    EXPECT_FALSE(PrepareStateFile(L""));
    EXPECT_EQ(ReadUpgradeValue(L"", kKeyVersion), L"");
}

// The state file and the log refuse a reparse point that stands for another
// name or for no data, and accept any other kind, such as the placeholders
// of a synced Documents folder. Wine makes no reparse points: the tags alone.
TEST(OwnFile, OnlyLinksAndFilesWithoutDataAreForeignReparseTags)
{
    struct TAG_CASE {
        DWORD dwTag;
        const char* pszKind;
    };
    const TAG_CASE kForeign[] = {
        {0xA000000C, "symbolic link"},
        {0xA0000003, "mount point or junction"},
        {0xA000001D, "Linux symlink"},
        {0xA0000019, "global reparse"},
        {0xA000001F, "WCI tombstone"},
        {0xA0000022, "projected tombstone"},
        {0xA0000010, "IIS cache"},
        {0x2000ABCD, "unknown, name surrogate"},
        {0xE0000123, "unknown, name surrogate, high-latency"},
        {0x8000001B, "app execution alias"},
        {0x80000023, "Unix socket"},
        {0x80000024, "Linux FIFO"},
        {0x80000025, "Linux char dev"},
        {0x80000026, "Linux block dev"},
    };
    const TAG_CASE kAccepted[] = {
        {0x80000013, "deduplicated"},
        {0x80000017, "compressed (WOF)"},
        {0x80000018, "container (WCI)"},
        {0x90001018, "container 1"},
        {0x9000001C, "projected file"},
        {0x8000001E, "storage sync"},
        {0x80000021, "sync client"},
        {0xC0000004, "HSM"},
        {0x80000006, "HSM2"},
        {0x80000007, "single instance"},
        {0x00001234, "unknown"},
        {0x80000FFF, "unknown"},
    };
    for (const auto& tag : kForeign)
        EXPECT_TRUE(IsForeignReparseTag(tag.dwTag)) << tag.pszKind;
    for (const auto& tag : kAccepted)
        EXPECT_FALSE(IsForeignReparseTag(tag.dwTag)) << tag.pszKind;
    // A cloud placeholder and all of its variants (the provider's number in
    // bits 12 to 15).
    for (DWORD dwVariant = 0; dwVariant <= 0xF; ++dwVariant)
        EXPECT_FALSE(IsForeignReparseTag(0x9000001A | (dwVariant << 12))) << "cloud placeholder " << dwVariant;
}

}  // namespace
