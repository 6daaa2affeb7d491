// Reading and writing the state file as the upgrade flow does.
#include "upgrade/StateFile.h"

#include "TestFolder.h"
#include "win/Handles.h"

#include <gtest/gtest.h>

#include <shlobj.h>

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

TEST(StateFile, ANewFileKeepsAnyTextItIsGiven)
{
    CTestFolder folder;
    const std::wstring strIni = folder.File(L"Upgrade.ini");
    ASSERT_TRUE(PrepareStateFile(strIni.c_str()));
    EXPECT_EQ(FileBytes(strIni), std::string("\xFF\xFE")) << "a new file is UTF-16 with its mark";

    // Outside the ANSI code page, and outside the BMP: stored as "?" in an
    // ANSI file, so the same order would download again for ever.
    const std::wstring strVersion = L"5.2 \u0440\u0443\u0441 \u00e9\u00e8 \U0001F600 \u4e0d\u518d";
    WriteUpgradeValue(strIni.c_str(), kKeyVersion, strVersion.c_str());
    WriteUpgradeValue(strIni.c_str(), kKeyVersionNoTips, L"\u4e0d\u518d\u63d0\u9192");
    EXPECT_EQ(ReadUpgradeValue(strIni.c_str(), kKeyVersion), strVersion);
    EXPECT_EQ(ReadUpgradeValue(strIni.c_str(), kKeyVersionNoTips), L"\u4e0d\u518d\u63d0\u9192");
    EXPECT_EQ(FileBytes(strIni).substr(0, 2), std::string("\xFF\xFE"));

    // Preparing again (the next start) changes nothing.
    const std::string before = FileBytes(strIni);
    ASSERT_TRUE(PrepareStateFile(strIni.c_str()));
    EXPECT_EQ(FileBytes(strIni), before);
}

TEST(StateFile, AnExistingAnsiFileIsStillReadAndKeptAsItIs)
{
    CTestFolder folder;
    const std::wstring strIni = folder.File(L"Upgrade.ini");
    const std::string ansi = "[UPGRADE]\r\nversion=4.9.1\r\noverflags=over\r\n";
    folder.Write(L"Upgrade.ini", ansi);
    ASSERT_TRUE(PrepareStateFile(strIni.c_str()));
    EXPECT_EQ(FileBytes(strIni), ansi);
    EXPECT_EQ(ReadUpgradeValue(strIni.c_str(), kKeyVersion), L"4.9.1");
    EXPECT_EQ(ReadUpgradeValue(strIni.c_str(), kKeyOverFlags), kOverFlagsDone);
    WriteUpgradeValue(strIni.c_str(), kKeyClearFlags, kFlagFalse);
    EXPECT_EQ(ReadUpgradeValue(strIni.c_str(), kKeyClearFlags), kFlagFalse);
    EXPECT_EQ(ReadUpgradeValue(strIni.c_str(), kKeyVersion), L"4.9.1");

    // No path at all: nothing is prepared or read.
    EXPECT_FALSE(PrepareStateFile(L""));
    EXPECT_EQ(ReadUpgradeValue(L"", kKeyVersion), L"");
}

}  // namespace
