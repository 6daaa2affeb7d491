// What one record looks like on disk, which records pass the threshold, and
// records from several threads at once.
#include "log/Log.h"
#include "tests/log/LogTestUtil.h"
#include "tools/logdecode/LogDecode.h"
#include "win/Handles.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

class LogRecordTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_strLog = m_dir.File(L"Upgrade.log");
        ASSERT_EQ(CLog::GetInstance()->Init(m_strLog.c_str(), LOGLEVEL_TRACE, 10), 0);
    }

    CTempDir m_dir;
    std::wstring m_strLog;
};

std::string Swapped(const std::string& strPlain)
{
    std::string strOut;
    for (unsigned char b : strPlain)
        strOut += static_cast<char>(((b & 0x0F) << 4) | (b >> 4));
    return strOut;
}

TEST_F(LogRecordTest, RecordLayoutIsByteExact)
{
    CLog* pLog = CLog::GetInstance();
    pLog->Log(LOGLEVEL_INFO, L".\\UpgradeDlgDUI", 42, L"CUpgradeDlgDUI::OnCopyData", L"order %s size %d", L"abc", 7);
    pLog->Log(LOGLEVEL_INFO, L".\\DazuvuVevUpgrade", 167, L"CDazuvuVevUpgradeApp::InitInstance", L"GetMessage QUIT!");

    const std::string strRaw = ReadBytes(m_strLog);
    ASSERT_GT(strRaw.size(), 46u);
    // The timestamps are the only parts not known in advance; take them from
    // the file (with the swap done by hand) and check their shape.
    const std::string strTime1 = Swapped(strRaw.substr(0, 23));
    ASSERT_TRUE(IsTimestamp(strTime1)) << strTime1;
    const std::string strThread = std::to_string(GetCurrentThreadId());
    const std::string strFirst = strTime1 + " [INFO]\tThread[" + strThread +
                                 "]\t.\\UpgradeDlgDUI\tCUpgradeDlgDUI::OnCopyData: 42 :\r\norder abc size 7\r\n\r\n" +
                                 std::string("\0\r\n", 3);
    ASSERT_GT(strRaw.size(), strFirst.size() + 23);
    const std::string strTime2 = Swapped(strRaw.substr(strFirst.size(), 23));
    ASSERT_TRUE(IsTimestamp(strTime2)) << strTime2;
    EXPECT_LE(strTime1, strTime2);
    const std::string strSecond = strTime2 + " [INFO]\tThread[" + strThread +
                                  "]\t.\\DazuvuVevUpgrade\tCDazuvuVevUpgradeApp::InitInstance: 167 :\r\nGetMessage "
                                  "QUIT!\r\n\r\n" +
                                  std::string("\0\r\n", 3);
    EXPECT_EQ(strRaw, Swapped(strFirst + strSecond));

    // Between two records: CR LF CR LF 00 CR LF, stored swapped.
    const std::string strBoundary("\xD0\xA0\xD0\xA0\x00\xD0\xA0", 7);
    EXPECT_EQ(strRaw.substr(strFirst.size() - 7, 7), strBoundary);
    EXPECT_EQ(strRaw.substr(strRaw.size() - 7), strBoundary);
    // The timestamp's digits are stored swapped too: '2' (0x32) as 0x23.
    EXPECT_EQ(static_cast<unsigned char>(strRaw[0]), 0x23);
}

TEST_F(LogRecordTest, LevelNamesIncludingOutOfRangeLevels)
{
    CLog* pLog = CLog::GetInstance();
    for (int nLevel = 0; nLevel <= 6; ++nLevel)
        pLog->Log(nLevel, L".\\Test", nLevel, L"Test::Levels", L"level %d", nLevel);
    // Beyond the table: named like level 6 instead of reading past it.
    pLog->Log(7, L".\\Test", 7, L"Test::Levels", L"level 7");
    pLog->Log(1000, L".\\Test", 1000, L"Test::Levels", L"level 1000");
    // Below every threshold: never written.
    pLog->Log(-1, L".\\Test", -1, L"Test::Levels", L"level -1");

    const std::vector<LogRecord> records = ReadRecords(m_strLog);
    const char* const kNames[] = {"[TRACE]", "[DEBUG]",  "[INFO]",   "[WARN]",  "[ERROR]",
                                  "[FATAL]", "[UNKNWN]", "[UNKNWN]", "[UNKNWN]"};
    ASSERT_EQ(records.size(), 9u);
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].strLevel, kNames[i]) << "record " << i;
        EXPECT_EQ(records[i].strSource, ".\\Test");
        EXPECT_EQ(records[i].strFunction, "Test::Levels");
    }
    EXPECT_EQ(records[8].strLine, "1000");
}

TEST_F(LogRecordTest, InvalidParametersWriteTheFallbackRecord)
{
    CLog* pLog = CLog::GetInstance();
    pLog->Log(LOGLEVEL_INFO, L".\\Test", 5, L"Test::Fallback", NULL);
    pLog->Log(LOGLEVEL_INFO, L".\\Test", 6, NULL, L"no function");
    pLog->Log(LOGLEVEL_INFO, L".\\Test", 7, L"Test::Fallback", L"after %s", L"fallback");

    const std::string strDecoded = DecodeLogBytes(ReadBytes(m_strLog));
    const std::string strThread = std::to_string(GetCurrentThreadId());
    const std::string strFallback = " [ERROR]\t" + strThread +
                                    " .\\Log:280 \tCLog::Log:\tException error,the params invalid" +
                                    std::string("\0\r\n", 3);
    ASSERT_GT(strDecoded.size(), 2 * (23 + strFallback.size()));
    EXPECT_TRUE(IsTimestamp(strDecoded.substr(0, 23)));
    EXPECT_EQ(strDecoded.substr(23, strFallback.size()), strFallback);
    const size_t nSecond = 23 + strFallback.size();
    EXPECT_TRUE(IsTimestamp(strDecoded.substr(nSecond, 23)));
    EXPECT_EQ(strDecoded.substr(nSecond + 23, strFallback.size()), strFallback);

    // The caller goes on: the next record is an ordinary one.
    const std::vector<LogRecord> records = ParseRecords(strDecoded.substr(2 * nSecond));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].strMessage, "after fallback");
}

TEST_F(LogRecordTest, LongMessagesAreWrittenWhole)
{
    std::wstring strLong;
    for (int i = 0; strLong.size() < 6000; ++i)
        strLong += L"segment " + std::to_wstring(i) + L"; ";
    std::wstring strHuge(70000, L'x');
    strHuge[0] = L'<';
    strHuge.back() = L'>';

    CLog* pLog = CLog::GetInstance();
    pLog->Log(LOGLEVEL_INFO, L".\\Test", 1, L"Test::Long", L"%s", strLong.c_str());
    pLog->Log(LOGLEVEL_INFO, L".\\Test", 2, L"Test::Long", L"[%s|%d]", strHuge.c_str(), 12345);
    // A long format, not only a long argument.
    pLog->Log(LOGLEVEL_INFO, L".\\Test", 3, L"Test::Long", strLong.c_str());

    const std::vector<LogRecord> records = ReadRecords(m_strLog);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].strMessage, Narrow(strLong));
    EXPECT_EQ(records[1].strMessage, "[" + Narrow(strHuge) + "|12345]");
    EXPECT_EQ(records[2].strMessage, Narrow(strLong));
}

TEST_F(LogRecordTest, TextIsStoredInTheAnsiCodePage)
{
    ASSERT_EQ(GetACP(), 936u) << "the test bed runs with the Chinese ANSI code page";
    // U+4E2D U+6587 are in the code page, Thai U+0E01 is not.
    CLog::GetInstance()->Log(LOGLEVEL_INFO, L".\\Test", 1, L"Test::Ansi", L"%s|%s|%s", L"\x4E2D\x6587", L"\x0E01",
                             L"ok");

    const std::vector<LogRecord> records = ReadRecords(m_strLog);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].strMessage, "\xD6\xD0\xCE\xC4|?|ok");
}

// The thresholds themselves are checked through config.ini in InitLogTest.
TEST_F(LogRecordTest, InitKeepsSettingsForNullPathAndNegativeLevel)
{
    CLog* pLog = CLog::GetInstance();
    ASSERT_EQ(pLog->Init(m_strLog.c_str(), 4, 10), 0);
    ASSERT_EQ(pLog->Init(m_strLog.c_str(), -7, 10), 0);
    EXPECT_EQ(pLog->GetLevel(), 4);
    EXPECT_EQ(pLog->Init(NULL, 0, 1), -1);
    EXPECT_EQ(pLog->GetLogFilePath(), m_strLog);
    EXPECT_EQ(pLog->GetLevel(), 4);

    ASSERT_EQ(pLog->Init(L"", 2, 10), 0);
    EXPECT_EQ(pLog->GetLogFilePath(), ModuleDir() + L"\\QVXSDK.log");
}

TEST_F(LogRecordTest, UnreachableFileDropsRecordsQuietly)
{
    const std::wstring strMissing = m_dir.File(L"missing\\Upgrade.log");
    CLog* pLog = CLog::GetInstance();
    ASSERT_EQ(pLog->Init(strMissing.c_str(), 2, 10), 0);
    pLog->Log(LOGLEVEL_INFO, L".\\Test", 1, L"Test::Missing", L"lost");
    EXPECT_FALSE(FileExists(strMissing));
    EXPECT_FALSE(FileExists(m_dir.File(L"missing")));

    // Logging resumes as soon as the file can be opened.
    ASSERT_EQ(pLog->Init(m_strLog.c_str(), 2, 10), 0);
    pLog->Log(LOGLEVEL_INFO, L".\\Test", 2, L"Test::Missing", L"kept");
    const std::vector<LogRecord> records = ReadRecords(m_strLog);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].strMessage, "kept");
}

// A scanner or a sync client may hold the log without sharing: the records
// of that time wait, and the next record that gets through writes them,
// after a note that says so; the run goes on.
TEST_F(LogRecordTest, RecordsThatMeetTheFileInUseFollowLaterWithANote)
{
    CLog* pLog = CLog::GetInstance();
    auto HoldLog = [this] {
        return CKernelHandle(CreateFileW(m_strLog.c_str(), GENERIC_READ, 0 /* no sharing */, NULL, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, NULL));
    };
    pLog->Log(LOGLEVEL_INFO, L".\\Test", 1, L"Test::InUse", L"before");
    {
        const CKernelHandle hold = HoldLog();
        ASSERT_TRUE(hold.IsValid());
        pLog->Log(LOGLEVEL_INFO, L".\\Test", 2, L"Test::InUse", L"waited %d", 1);
        pLog->Log(LOGLEVEL_INFO, L".\\Test", 3, L"Test::InUse", L"waited %d", 2);
    }
    pLog->Log(LOGLEVEL_INFO, L".\\Test", 4, L"Test::InUse", L"after");
    std::vector<LogRecord> records = ReadRecords(m_strLog);
    std::vector<std::string> messages;
    for (const LogRecord& record : records)
        messages.push_back(record.strMessage);
    ASSERT_EQ(messages.size(), 5u);
    EXPECT_EQ(messages[0], "before");
    EXPECT_EQ(messages[1], "warning: the log file was in use by another program: the 2 records below waited for it");
    EXPECT_EQ(records[1].strFunction, "CLog::WriteToFile");
    EXPECT_EQ(messages[2], "waited 1");
    EXPECT_EQ(records[2].strLine, "2");
    EXPECT_EQ(messages[3], "waited 2");
    EXPECT_EQ(messages[4], "after");

    // A long hold: memory for the waiting records is bounded; those beyond
    // it are counted in the note.
    const int kHeld = 40;
    {
        const CKernelHandle hold = HoldLog();
        ASSERT_TRUE(hold.IsValid());
        const std::wstring strLong(10000, L'x');
        for (int i = 0; i < kHeld; ++i)
            pLog->Log(LOGLEVEL_INFO, L".\\Test", i, L"Test::InUse", L"long %d %s", i, strLong.c_str());
    }
    pLog->Log(LOGLEVEL_INFO, L".\\Test", 5, L"Test::InUse", L"after the long hold");
    records = ReadRecords(m_strLog);
    ASSERT_GE(records.size(), 7u);
    int nWaited = -1, nLost = -1;
    ASSERT_EQ(sscanf(records[5].strMessage.c_str(),
                     "warning: the log file was in use by another program: the %d records below waited for it, %d "
                     "more records were lost",
                     &nWaited, &nLost),
              2)
        << records[5].strMessage;
    EXPECT_EQ(nWaited + nLost, kHeld);
    EXPECT_GT(nLost, 0);
    ASSERT_EQ(records.size(), static_cast<size_t>(5 + 1 + nWaited + 1));
    for (int i = 0; i < nWaited; ++i)
        EXPECT_EQ(records[6 + i].strLine, std::to_string(i)) << "the first ones are kept, in order";
    EXPECT_EQ(records.back().strMessage, "after the long hold");
}

TEST_F(LogRecordTest, ConcurrentRecordsStayIntact)
{
    const int kThreads = 6;
    const int kRecords = 150;
    std::vector<std::thread> threads;
    std::vector<DWORD> ids(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &ids] {
            ids[t] = GetCurrentThreadId();
            // Differing lengths, so that torn or interleaved writes show.
            const std::wstring strPad(static_cast<size_t>(t) * 97 + 1, static_cast<wchar_t>(L'a' + t));
            for (int i = 0; i < kRecords; ++i)
                CLog::GetInstance()->Log(LOGLEVEL_INFO, L".\\Test", i, L"Test::Threads", L"t%d r%d %s", t, i,
                                         strPad.c_str());
        });
    }
    for (auto& thread : threads)
        thread.join();

    const std::vector<LogRecord> records = ReadRecords(m_strLog);
    ASSERT_EQ(records.size(), static_cast<size_t>(kThreads * kRecords));
    std::vector<int> next(kThreads, 0);
    for (const LogRecord& record : records) {
        int t = -1, i = -1;
        ASSERT_EQ(sscanf(record.strMessage.c_str(), "t%d r%d", &t, &i), 2) << record.strMessage;
        ASSERT_TRUE(t >= 0 && t < kThreads);
        // Each thread's records in its own order, none lost or doubled.
        EXPECT_EQ(i, next[t]) << "thread " << t;
        next[t] = i + 1;
        const std::string strPad(static_cast<size_t>(t) * 97 + 1, static_cast<char>('a' + t));
        EXPECT_EQ(record.strMessage, "t" + std::to_string(t) + " r" + std::to_string(i) + " " + strPad);
        EXPECT_EQ(record.strThread, std::to_string(ids[t]));
        EXPECT_EQ(record.strLine, std::to_string(i));
    }
}

}  // namespace
