// Reading and writing the state file as the upgrade flow does.
#include "upgrade/UpgradeState.h"

#include "TestFolder.h"

#include <gtest/gtest.h>

namespace {

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

}  // namespace
