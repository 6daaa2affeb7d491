// Where the setup program goes, and when it counts as verified.
#include "upgrade/SetupNaming.h"

#include <gtest/gtest.h>

namespace {

const std::wstring kDir = L"C:\\users\\me\\AppData\\Roaming\\DazuvuvevUpgrade\\";

TEST(SetupPath, NameIsTheLastSegmentOfTheAddress)
{
    EXPECT_EQ(SetupNameFromUrl(L"http://dl.example/pkg/5.2/DazuvuVevSetup.exe"), L"DazuvuVevSetup.exe");
    EXPECT_EQ(SetupNameFromUrl(L"DazuvuVevSetup.exe"), L"DazuvuVevSetup.exe");  // no slash: the whole address
    EXPECT_EQ(SetupNameFromUrl(L"http://dl.example/pkg/"), L"");
    // A query or fragment is not part of the file's name, even with a "/" in it.
    EXPECT_EQ(SetupNameFromUrl(L"http://dl.example/Setup.exe?sig=a/b&x=1"), L"Setup.exe");
    EXPECT_EQ(SetupNameFromUrl(L"http://dl.example/Setup.exe#part/upgrade.ini"), L"Setup.exe");
    EXPECT_EQ(SetupNameFromUrl(L"http://dl.example/get?f=/Setup.exe"), L"get");
    EXPECT_EQ(SetupNameFromUrl(L"http://dl.example/Setup.exe?sig=abc"), L"Setup.exe");
    EXPECT_EQ(SetupNameFromUrl(L"http://dl.example/Setup.exe#top"), L"Setup.exe");
    EXPECT_EQ(SetupNameFromUrl(nullptr), L"");
}

TEST(SetupPath, RefusesNamesThatAreNoPlainFileInTheFolder)
{
    EXPECT_TRUE(IsAcceptableSetupName(kDir, L"DazuvuVevSetup_5.2.0.exe"));
    EXPECT_TRUE(IsAcceptableSetupName(kDir, L"setup%20v2.exe"));
    EXPECT_TRUE(IsAcceptableSetupName(kDir, L"安装程序.exe"));
    EXPECT_TRUE(IsAcceptableSetupName(kDir, L"console.exe"));  // starts like a device, is none
    EXPECT_TRUE(IsAcceptableSetupName(kDir, L"SETUP.EXE"));

    for (LPCWSTR pszName :
         {L"",     L".",       L"..",      L"a\\b.exe", L"c:setup.exe",   L"a*b.exe",    L"a?.exe",
          L"a\"b", L"a<b",     L"a>b",     L"a|b",      L"tab\there.exe", L"setup.exe.", L"setup.exe ",
          L"CON",  L"con.exe", L"Nul.txt", L"COM1.exe", L"lpt9",          L"AUX .exe",   L"PRN"}) {
        EXPECT_FALSE(IsAcceptableSetupName(kDir, pszName)) << pszName;
    }

    // The whole path, with room for the partial download's note (".part.meta"),
    // must fit MAX_PATH - 1 characters.
    const std::wstring strFits = std::wstring(MAX_PATH - 1 - kDir.size() - 4 - 10, L'a') + L".exe";
    EXPECT_TRUE(IsAcceptableSetupName(kDir, strFits));
    EXPECT_FALSE(IsAcceptableSetupName(kDir, L"a" + strFits));
}

TEST(SetupPath, TheServerNeverNamesOurOwnFilesOrANonProgram)
{
    for (LPCWSTR pszName :
         {L"Upgrade.ini", L"upgrade.INI", L"UPGRADE.ini", L"Setup.exe.part", L"Setup.exe.PART", L"Setup.exe.part.meta",
          L"setup.exe.Part.Meta", L"setup.msi", L"setup", L"setup.exe.bak", L"setup.ex", L"readme.txt", L".exe.txt"}) {
        EXPECT_FALSE(IsAcceptableSetupName(kDir, pszName)) << pszName;
    }
    for (LPCWSTR pszName : {L"Setup.Exe", L"a.part.exe", L"Upgrade.ini.exe"})
        EXPECT_TRUE(IsAcceptableSetupName(kDir, pszName)) << pszName;
}

TEST(SetupDigest, MatchesExactlyAndNeverWhenUnreadable)
{
    EXPECT_TRUE(SetupDigestMatches(L"9e107d9d372bb6826bd81d3542a419d6", L"9e107d9d372bb6826bd81d3542a419d6"));
    EXPECT_FALSE(SetupDigestMatches(L"9e107d9d372bb6826bd81d3542a419d6", L"9E107D9D372BB6826BD81D3542A419D6"));
    EXPECT_FALSE(SetupDigestMatches(L"9e107d9d372bb6826bd81d3542a419d6", L"9e107d9d372bb6826bd81d3542a419d"));
    EXPECT_FALSE(SetupDigestMatches(L"", L""));
    EXPECT_FALSE(SetupDigestMatches(L"", L"9e107d9d372bb6826bd81d3542a419d6"));
    EXPECT_FALSE(SetupDigestMatches(nullptr, L"x"));
}

}  // namespace
