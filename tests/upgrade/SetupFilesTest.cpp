// Where the setup program goes, when it counts as verified, and the sweep.
#include "upgrade/SetupFiles.h"

#include "TestFolder.h"

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

    for (LPCWSTR pszName : {L"", L".", L"..", L"a\\b.exe", L"c:setup.exe", L"a*b.exe", L"a?.exe", L"a\"b", L"a<b",
                            L"a>b", L"a|b", L"tab\there.exe", L"setup.exe.", L"setup.exe ", L"CON", L"con.exe",
                            L"Nul.txt", L"COM1.exe", L"lpt9", L"AUX .exe", L"PRN"}) {
        EXPECT_FALSE(IsAcceptableSetupName(kDir, pszName)) << pszName;
    }

    // The whole path must fit MAX_PATH - 1 characters.
    const std::wstring strFits = std::wstring(MAX_PATH - 1 - kDir.size() - 4, L'a') + L".exe";
    EXPECT_TRUE(IsAcceptableSetupName(kDir, strFits));
    EXPECT_FALSE(IsAcceptableSetupName(kDir, L"a" + strFits));
}

TEST(SetupPath, TheServerNeverNamesOurOwnFilesOrANonProgram)
{
    for (LPCWSTR pszName : {L"Upgrade.ini", L"upgrade.INI", L"UPGRADE.ini", L"Setup.exe.part", L"Setup.exe.PART",
                            L"Setup.exe.part.meta", L"setup.exe.Part.Meta", L"setup.msi", L"setup", L"setup.exe.bak",
                            L"setup.ex", L"readme.txt", L".exe.txt"}) {
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

TEST(Sweep, RemovesEveryExeNameAndKeepsTheRest)
{
    CTestFolder folder;
    folder.Write(L"old.exe", "a");
    folder.Write(L"DazuvuVevSetup.exe.part", "b");     // partial download
    folder.Write(L"DazuvuVevSetup.exe.part.meta", "c");
    folder.Write(L"x.exe.bak", "d");
    folder.Write(L"SETUP.EXE", "e");                   // capital letters: not ours
    folder.Write(L"Upgrade.ini", "[UPGRADE]\r\n");
    folder.Write(L"notes.txt", "f");
    ::CreateDirectoryW(folder.File(L"sub.exe").c_str(), nullptr);
    folder.Write(L"sub.exe\\inner.exe", "g");

    bool bSearched = false;
    EXPECT_TRUE(SweepSetupFiles(folder.Path(), &bSearched));
    EXPECT_TRUE(bSearched);
    for (LPCWSTR pszGone : {L"old.exe", L"DazuvuVevSetup.exe.part", L"DazuvuVevSetup.exe.part.meta", L"x.exe.bak"})
        EXPECT_FALSE(folder.Exists(pszGone)) << pszGone;
    for (LPCWSTR pszKept : {L"SETUP.EXE", L"Upgrade.ini", L"notes.txt", L"sub.exe", L"sub.exe\\inner.exe"})
        EXPECT_TRUE(folder.Exists(pszKept)) << pszKept;
}

TEST(Sweep, StopsAtAFileThatCannotBeDeleted)
{
    CTestFolder folder;
    folder.Write(L"locked.exe", "a");
    HANDLE hLock = ::CreateFileW(folder.File(L"locked.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(hLock, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(SweepSetupFiles(folder.Path()));
    EXPECT_TRUE(folder.Exists(L"locked.exe"));
    ::CloseHandle(hLock);
    EXPECT_TRUE(SweepSetupFiles(folder.Path()));
    EXPECT_FALSE(folder.Exists(L"locked.exe"));
}

TEST(Sweep, ClearsTheReadOnlyMarkOfItsOwnLeftovers)
{
    CTestFolder folder;
    folder.Write(L"Old.exe", "a");
    folder.Write(L"keep.txt", "b");
    ASSERT_TRUE(::SetFileAttributesW(folder.File(L"Old.exe").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(::SetFileAttributesW(folder.File(L"keep.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(SweepSetupFiles(folder.Path()));
    EXPECT_FALSE(folder.Exists(L"Old.exe"));
    // What is not swept keeps its mark.
    EXPECT_EQ(::GetFileAttributesW(folder.File(L"keep.txt").c_str()) & FILE_ATTRIBUTE_READONLY,
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    ::SetFileAttributesW(folder.File(L"keep.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(Sweep, RefusesAFolderThatIsNotAbsolute)
{
    // Relative to the current folder, these would sweep whatever lies there.
    CTestFolder folder;
    folder.Write(L"program.exe", "a");
    ::CreateDirectoryW(folder.File(L"sub").c_str(), nullptr);
    folder.Write(L"sub\\tool.exe", "b");
    wchar_t szOld[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, szOld);
    ASSERT_TRUE(::SetCurrentDirectoryW(folder.Path().c_str()));
    for (LPCWSTR pszDir : {L"", L"sub\\", L".\\", L"\\", L"C:", L"C:sub\\", L"sub"}) {
        bool bSearched = true;
        EXPECT_FALSE(SweepSetupFiles(pszDir, &bSearched)) << pszDir;
        EXPECT_FALSE(bSearched) << pszDir;
    }
    ::SetCurrentDirectoryW(szOld);
    EXPECT_TRUE(folder.Exists(L"program.exe"));
    EXPECT_TRUE(folder.Exists(L"sub\\tool.exe"));
    EXPECT_TRUE(IsOwnFolderPath(folder.Path()));
    EXPECT_TRUE(IsOwnFolderPath(L"\\\\server\\share\\DazuvuvevUpgrade\\"));
}

TEST(Sweep, EmptyAndMissingFoldersCountAsSwept)
{
    CTestFolder folder;
    bool bSearched = false;
    EXPECT_TRUE(SweepSetupFiles(folder.Path(), &bSearched));
    EXPECT_TRUE(bSearched);
    EXPECT_TRUE(SweepSetupFiles(folder.File(L"vanished\\"), &bSearched));
    EXPECT_FALSE(bSearched);
}

}  // namespace
