// Where the setup program goes, and when it counts as verified.
#include "upgrade/SetupCheck.h"
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

TEST(SetupDigest, TheLibrarysDigestPassesFailsOrTellsNothing)
{
    const wchar_t kFox[] = L"9e107d9d372bb6826bd81d3542a419d6";
    const wchar_t kNoBytes[] = L"d41d8cd98f00b204e9800998ecf8427e";
    EXPECT_EQ(JudgeLibraryDigest(kFox, kFox, 43), CheckAnswer::Passed);
    // Hex has no letter case: a library or a client that writes capitals
    // must not cost a download.
    EXPECT_EQ(JudgeLibraryDigest(L"9E107D9D372BB6826BD81D3542A419D6", kFox, 43), CheckAnswer::Passed);
    EXPECT_EQ(JudgeLibraryDigest(kFox, L"9E107D9D372BB6826BD81D3542A419D6", 43), CheckAnswer::Passed);
    // Another digest of the bytes is evidence, and so is any order it is not.
    EXPECT_EQ(JudgeLibraryDigest(kFox, L"9e107d9d372bb6826bd81d3542a419d7", 43), CheckAnswer::Against);
    EXPECT_EQ(JudgeLibraryDigest(kFox, L"9e107d9d372bb6826bd81d3542a419d", 43), CheckAnswer::Against);
    EXPECT_EQ(JudgeLibraryDigest(kFox, L"", 43), CheckAnswer::Against);
    // No digest tells nothing: a library that could not open the file
    // writes nothing, or the digest of no bytes.
    EXPECT_EQ(JudgeLibraryDigest(L"", kFox, 43), CheckAnswer::CouldNot);
    EXPECT_EQ(JudgeLibraryDigest(L"", L"", 43), CheckAnswer::CouldNot);
    EXPECT_EQ(JudgeLibraryDigest(nullptr, kFox, 43), CheckAnswer::CouldNot);
    EXPECT_EQ(JudgeLibraryDigest(kNoBytes, kFox, 43), CheckAnswer::CouldNot);
    EXPECT_EQ(JudgeLibraryDigest(L"9e107d9d372bb6826bd81d3542a419dx", kFox, 43), CheckAnswer::CouldNot);
    // ... except for a file that really has no bytes.
    EXPECT_EQ(JudgeLibraryDigest(kNoBytes, kNoBytes, 0), CheckAnswer::Passed);
    EXPECT_EQ(JudgeLibraryDigest(kNoBytes, kFox, 0), CheckAnswer::Against);
}

TEST(SetupDigest, ACheckThatCannotBeMadeWaitsOnlyAwakeTimeWithinItsBound)
{
    CCheckPatience patience;
    patience.Start(1000, 5000);
    EXPECT_FALSE(patience.IsSpent(1000));
    EXPECT_FALSE(patience.IsSpent(5999));
    EXPECT_TRUE(patience.IsSpent(6000));
    // A clock that went back has spent nothing.
    EXPECT_FALSE(patience.IsSpent(10));
    EXPECT_EQ(patience.WaitedMs(10), 0u);

    // The bound can only be shortened, and never below its floor.
    ::SetEnvironmentVariableW(L"DAZUVUVEV_CHECK_PATIENCE_MS", L"1");
    EXPECT_EQ(SetupCheckPatienceMs(), 5000u);
    ::SetEnvironmentVariableW(L"DAZUVUVEV_CHECK_PATIENCE_MS", L"20000");
    EXPECT_EQ(SetupCheckPatienceMs(), 20000u);
    ::SetEnvironmentVariableW(L"DAZUVUVEV_CHECK_PATIENCE_MS", L"99999999999");
    EXPECT_EQ(SetupCheckPatienceMs(), 90000u);
    ::SetEnvironmentVariableW(L"DAZUVUVEV_CHECK_PATIENCE_MS", nullptr);
    EXPECT_EQ(SetupCheckPatienceMs(), 90000u);
}

}  // namespace
