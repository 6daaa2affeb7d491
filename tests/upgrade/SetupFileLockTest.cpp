// The verified setup held from its digest until it is started.
#include "upgrade/SetupFileLock.h"

#include "TestFolder.h"
#include "win/Handles.h"

#include <gtest/gtest.h>

namespace {

const char kContent[] = "The quick brown fox jumps over the lazy dog";
const wchar_t kContentMd5[] = L"9e107d9d372bb6826bd81d3542a419d6";

HANDLE OpenForWriting(const std::wstring& strPath)
{
    return ::CreateFileW(strPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(SetupFileLock, HeldFileCannotBeChangedButCanBeStartedUntilReleased)
{
    CTestFolder folder;
    folder.Write(L"setup.exe", kContent);
    folder.Write(L"impostor.exe", "another program");
    const std::wstring strPath = folder.File(L"setup.exe");

    CSetupFileLock lock;
    ASSERT_EQ(lock.HoldAndDigest(strPath), kContentMd5);
    EXPECT_TRUE(lock.IsHeld());
    EXPECT_EQ(lock.Path(), strPath);
    EXPECT_TRUE(lock.IsUnchanged());

    CKernelHandle writer(OpenForWriting(strPath));
    EXPECT_EQ(writer.Get(), INVALID_HANDLE_VALUE) << "a held setup must refuse writers";
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    writer.Reset();
    EXPECT_FALSE(::DeleteFileW(strPath.c_str())) << "a held setup must not be deleted";
    EXPECT_FALSE(::MoveFileW(strPath.c_str(), folder.File(L"other.exe").c_str())) << "nor renamed";
    EXPECT_FALSE(::CopyFileW(folder.File(L"impostor.exe").c_str(), strPath.c_str(), FALSE)) << "nor replaced";
    EXPECT_FALSE(::MoveFileExW(folder.File(L"impostor.exe").c_str(), strPath.c_str(), MOVEFILE_REPLACE_EXISTING))
        << "nor replaced by a rename";
    EXPECT_TRUE(lock.IsUnchanged());

    // Whoever starts it only needs to read it.
    CKernelHandle reader(::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_NE(reader.Get(), INVALID_HANDLE_VALUE);
    reader.Reset();

    // Taken again, the digest covers the whole file once more.
    EXPECT_EQ(lock.HoldAndDigest(strPath), kContentMd5);

    lock.Release();
    EXPECT_FALSE(lock.IsHeld());
    EXPECT_FALSE(lock.IsUnchanged());
    EXPECT_TRUE(::DeleteFileW(strPath.c_str())) << "released, the sweep can remove it";
}

TEST(SetupFileLock, NothingIsHeldWhenTheFileCannotBeHeldOrRead)
{
    CTestFolder folder;
    folder.Write(L"setup.exe", kContent);
    folder.Write(L"empty.exe", "");
    CSetupFileLock lock;

    EXPECT_EQ(lock.HoldAndDigest(folder.File(L"missing.exe")), L"");
    EXPECT_FALSE(lock.IsHeld());
    EXPECT_EQ(lock.HoldAndDigest(L""), L"");
    EXPECT_FALSE(lock.IsHeld());
    EXPECT_EQ(lock.HoldAndDigest(folder.Path()), L"") << "a folder is no setup";
    EXPECT_FALSE(lock.IsHeld());
    EXPECT_EQ(lock.HoldAndDigest(folder.File(L"empty.exe")), L"d41d8cd98f00b204e9800998ecf8427e");
    lock.Release();

    // A file still open for writing is not verified: it may change after.
    // That is no evidence against it either: the hold says "busy", not "missing".
    CKernelHandle writer(OpenForWriting(folder.File(L"setup.exe")));
    ASSERT_NE(writer.Get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(lock.HoldAndDigest(folder.File(L"setup.exe")), L"");
    EXPECT_EQ(lock.Hold(folder.File(L"setup.exe")), CSetupFileLock::HoldResult::Busy);
    EXPECT_FALSE(lock.IsHeld());
    writer.Reset();
    // So is a scanner that reads it without sharing.
    CKernelHandle scanner(::CreateFileW(folder.File(L"setup.exe").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_NE(scanner.Get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(lock.Hold(folder.File(L"setup.exe")), CSetupFileLock::HoldResult::Busy);
    scanner.Reset();
    EXPECT_EQ(lock.Hold(folder.File(L"missing.exe")), CSetupFileLock::HoldResult::Missing);

    // A failed hold lets go of what was held before.
    ASSERT_EQ(lock.HoldAndDigest(folder.File(L"setup.exe")), kContentMd5);
    EXPECT_EQ(lock.HoldAndDigest(folder.File(L"missing.exe")), L"");
    EXPECT_FALSE(lock.IsHeld());
    EXPECT_TRUE(::DeleteFileW(folder.File(L"setup.exe").c_str()));
}

TEST(SetupFileLock, TheFolderOfAHeldSetupCannotBeRenamedAway)
{
    CTestFolder folder;
    ::CreateDirectoryW(folder.File(L"upgrade").c_str(), nullptr);
    folder.Write(L"upgrade\\setup.exe", kContent);
    const std::wstring strPath = folder.File(L"upgrade\\setup.exe");

    CSetupFileLock lock;
    lock.SetTrustedRoot(folder.Path());
    ASSERT_EQ(lock.HoldAndDigest(strPath), kContentMd5);
    EXPECT_TRUE(lock.IsAtItsPath());
    // Windows refuses to rename the held folder; Wine lets it go, and then
    // a file planted at the old path must be told from the verified one.
    if (::MoveFileW(folder.File(L"upgrade").c_str(), folder.File(L"moved").c_str())) {
        ::CreateDirectoryW(folder.File(L"upgrade").c_str(), nullptr);
        folder.Write(L"upgrade\\setup.exe", kContent);
        EXPECT_FALSE(lock.IsAtItsPath()) << "the shell would start the planted file";
        lock.Release();
    } else {
        EXPECT_TRUE(lock.IsAtItsPath());
        lock.Release();
        ASSERT_TRUE(::MoveFileW(folder.File(L"upgrade").c_str(), folder.File(L"moved").c_str()));
    }

    // A path that does not lead where it says (here through "..") is not held.
    folder.Write(L"moved\\setup.exe", kContent);
    ::CreateDirectoryW(folder.File(L"other").c_str(), nullptr);
    EXPECT_EQ(lock.HoldAndDigest(folder.File(L"other\\..\\moved\\setup.exe")), L"");
    EXPECT_EQ(lock.HoldAndDigest(folder.File(L"moved\\setup.exe")), kContentMd5);
    lock.SetTrustedRoot(folder.File(L"other"));
    EXPECT_EQ(lock.HoldAndDigest(folder.File(L"moved\\setup.exe")), L"") << "outside the trusted root";
}

}  // namespace
