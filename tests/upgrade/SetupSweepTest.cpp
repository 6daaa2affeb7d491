// The sweep of the upgrade folder: what goes, what stays, what is refused.
#include "upgrade/SetupSweep.h"

#include "upgrade/SetupNaming.h"

#include "TestFolder.h"
#include "win/Handles.h"

#include <gtest/gtest.h>

namespace {

TEST(Sweep, RemovesEveryExeNameAndKeepsTheRest)
{
    CTestFolder folder;
    folder.Write(L"old.exe", "a");
    folder.Write(L"DazuvuVevSetup.exe.part", "b");  // partial download
    folder.Write(L"DazuvuVevSetup.exe.part.meta", "c");
    folder.Write(L"x.exe.bak", "d");
    folder.Write(L"SETUP.EXE", "e");  // capital letters: not ours
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

// Whatever name was accepted as a setup, its own files go by exact path.
TEST(Sweep, OwnSetupFilesGoByExactPathAndNothingElse)
{
    CTestFolder folder;
    for (LPCWSTR pszName : {L"Setup.EXE", L"Setup.EXE.part", L"Setup.EXE.part.meta", L"Other.EXE", L"notes.txt"})
        folder.Write(pszName, "a");
    ::CreateDirectoryW(folder.File(L"sub").c_str(), nullptr);
    folder.Write(L"sub\\Setup.EXE", "b");

    EXPECT_TRUE(SweepOwnSetupFiles(folder.Path(), folder.File(L"Setup.EXE")));
    for (LPCWSTR pszGone : {L"Setup.EXE", L"Setup.EXE.part", L"Setup.EXE.part.meta"})
        EXPECT_FALSE(folder.Exists(pszGone)) << pszGone;
    EXPECT_TRUE(folder.Exists(L"Other.EXE"));
    EXPECT_TRUE(SweepOwnSetupFiles(folder.Path(), folder.File(L"Setup.EXE"))) << "missing files are fine";

    // Paths that name no setup directly in the folder are left alone.
    for (const std::wstring& strPath : {folder.File(L"sub\\Setup.EXE"), folder.File(L"notes.txt"), std::wstring(),
                                        std::wstring(L"Other.EXE"), folder.File(L"..\\Other.EXE")}) {
        EXPECT_TRUE(SweepOwnSetupFiles(folder.Path(), strPath));
    }
    EXPECT_TRUE(folder.Exists(L"sub\\Setup.EXE"));
    EXPECT_TRUE(folder.Exists(L"notes.txt"));

    // A file that cannot go stops the sweep.
    CKernelHandle lock(::CreateFileW(folder.File(L"Other.EXE").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(SweepOwnSetupFiles(folder.Path(), folder.File(L"Other.EXE")));
}

TEST(Sweep, StopsAtAFileThatCannotBeDeleted)
{
    CTestFolder folder;
    folder.Write(L"locked.exe", "a");
    CKernelHandle lock(::CreateFileW(folder.File(L"locked.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_NE(lock.Get(), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(SweepSetupFiles(folder.Path()));
    EXPECT_TRUE(folder.Exists(L"locked.exe"));
    lock.Reset();
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
