// Rotation into numbered backups once the log grows past 10 MiB, with real
// files of that size.
#include "log/Log.h"
#include "tests/log/LogTestUtil.h"
#include "win/Handles.h"

#include <gtest/gtest.h>

namespace {

const LONGLONG kLimit = 10LL * 1024 * 1024;

class LogRotationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_strLog = m_dir.File(L"Upgrade.log");
        ASSERT_EQ(CLog::GetInstance()->Init(m_strLog.c_str(), LOGLEVEL_INFO, 10), 0);
    }

    void LogOne(const wchar_t* pszMessage)
    {
        CLog::GetInstance()->Log(LOGLEVEL_INFO, L".\\Test", 1, L"Test::Rotation", L"%s", pszMessage);
    }

    static LONGLONG SizeOf(const std::wstring& strPath)
    {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        if (!GetFileAttributesExW(strPath.c_str(), GetFileExInfoStandard, &data))
            return -1;
        return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }

    // Which generation a file holds, by the mark in its first byte.
    static char MarkOf(const std::wstring& strPath)
    {
        CKernelHandle file(CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL));
        if (!file)
            return 0;
        char c = 0;
        DWORD dwRead = 0;
        ReadFile(file.Get(), &c, 1, &dwRead, NULL);
        return c;
    }

    std::wstring Backup(int n) const { return m_strLog + L"." + std::to_wstring(n); }

    // One rotation: a log just past the limit, then one record.
    void RotateGeneration(char cMark)
    {
        MakeFileOfSize(m_strLog, kLimit + 1, cMark);
        LogOne(L"over the limit");
        ASSERT_FALSE(FileExists(m_strLog)) << "generation " << cMark << " was not moved away";
    }

    std::string Marks() const
    {
        std::string strMarks;
        for (int n = 1; n <= 5; ++n)
            strMarks += FileExists(Backup(n)) ? MarkOf(Backup(n)) : '-';
        return strMarks;
    }

    CTempDir m_dir;
    std::wstring m_strLog;
};

TEST_F(LogRotationTest, ExactlyTheLimitStaysAndOneByteMoreRotatesAfterTheRecord)
{
    LogOne(L"measure");
    const LONGLONG llRecord = SizeOf(m_strLog);
    ASSERT_GT(llRecord, 0);
    ASSERT_TRUE(DeleteFileW(m_strLog.c_str()));

    // The record brings the file to exactly 10,485,760 bytes: it stays.
    MakeFileOfSize(m_strLog, kLimit - llRecord, 'A');
    LogOne(L"measure");
    EXPECT_EQ(SizeOf(m_strLog), kLimit);
    EXPECT_FALSE(FileExists(Backup(1)));

    // The next record takes it past the limit: moved right after it, whole.
    LogOne(L"measure");
    EXPECT_FALSE(FileExists(m_strLog));
    EXPECT_EQ(SizeOf(Backup(1)), kLimit + llRecord);
    EXPECT_EQ(MarkOf(Backup(1)), 'A');

    // The next record starts a fresh file under the configured name.
    LogOne(L"fresh");
    const std::vector<LogRecord> records = ReadRecords(m_strLog);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].strMessage, "fresh");
    EXPECT_FALSE(FileExists(Backup(2)));
}

TEST_F(LogRotationTest, NumberedBackupsShiftOnceAllFourExist)
{
    const char kGenerations[] = "abcdef";
    for (int i = 0; i < 4; ++i)
        RotateGeneration(kGenerations[i]);
    EXPECT_EQ(Marks(), "abcd-");

    // The fifth drops the oldest and shifts the rest down.
    RotateGeneration('e');
    EXPECT_EQ(Marks(), "bcde-");
    RotateGeneration('f');
    EXPECT_EQ(Marks(), "cdef-");

    // A ".1" removed by hand is the first free number again.
    ASSERT_TRUE(DeleteFileW(Backup(1).c_str()));
    RotateGeneration('g');
    EXPECT_EQ(Marks(), "gdef-");
}

TEST_F(LogRotationTest, BackupThatCannotBeReplacedLeavesTheLogInPlace)
{
    for (int i = 0; i < 4; ++i)
        RotateGeneration(static_cast<char>('a' + i));

    // A reader holding ".1" open without sharing delete blocks the shift;
    // nothing may be lost, the log stays and is rotated by a later record.
    CKernelHandle reader(CreateFileW(Backup(1).c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL));
    ASSERT_NE(reader.Get(), INVALID_HANDLE_VALUE);
    MakeFileOfSize(m_strLog, kLimit + 1, 'e');
    LogOne(L"blocked");
    EXPECT_TRUE(FileExists(m_strLog));
    EXPECT_EQ(MarkOf(m_strLog), 'e');
    EXPECT_EQ(Marks(), "abcd-");
    reader.Reset();

    LogOne(L"unblocked");
    EXPECT_FALSE(FileExists(m_strLog));
    EXPECT_EQ(Marks(), "bcde-");
}

}  // namespace
