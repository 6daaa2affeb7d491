// The support tool against files that CLog really wrote.
#include "log/Log.h"
#include "tests/log/LogTestUtil.h"
#include "tools/logdecode/LogDecode.h"
#include "tools/logdecode/LogReport.h"
#include "win/Handles.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>

namespace {

struct ToolRun {
    DWORD dwExitCode = 0xFFFFFFFF;
    std::string strOut;
    std::string strErr;
};

// Runs the decoding tool with its output and error streams in files.
ToolRun RunDecoder(const CTempDir& dir, const std::wstring& strArgs)
{
    ToolRun run;
    SECURITY_ATTRIBUTES sa = {sizeof(sa), NULL, TRUE /* inheritable */};
    // Fresh names each run: Wine may release an ended child's handles a
    // moment after the process counts as ended.
    static int s_nRun = 0;
    ++s_nRun;
    const std::wstring strOutFile = dir.File(L"stdout" + std::to_wstring(s_nRun) + L".txt");
    const std::wstring strErrFile = dir.File(L"stderr" + std::to_wstring(s_nRun) + L".txt");
    CKernelHandle hOut(CreateFileW(strOutFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, NULL));
    CKernelHandle hErr(CreateFileW(strErrFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, NULL));
    EXPECT_TRUE(hOut);
    EXPECT_TRUE(hErr);

    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = hOut.Get();
    si.hStdError = hErr.Get();
    PROCESS_INFORMATION pi = {};
    std::wstring strCommand = L"\"" + ModuleDir() + L"\\DazuvuVevLogDecode.exe\" " + strArgs;
    const BOOL bStarted =
        CreateProcessW(NULL, &strCommand[0], NULL, NULL, TRUE, DETACHED_PROCESS, NULL, NULL, &si, &pi);
    // The child has its own copies; ours would keep the files open.
    hOut.Reset();
    hErr.Reset();
    EXPECT_TRUE(bStarted) << "cannot start the decoder, error " << GetLastError();
    if (!bStarted)
        return run;
    const CKernelHandle hProcess(pi.hProcess), hThread(pi.hThread);
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
    GetExitCodeProcess(pi.hProcess, &run.dwExitCode);
    run.strOut = ReadBytes(strOutFile);
    run.strErr = ReadBytes(strErrFile);
    return run;
}

std::wstring Quoted(const std::wstring& strPath)
{
    return L"\"" + strPath + L"\"";
}

// Real rotated logs: with a limit of 0 MiB every record is moved to the
// lowest free backup number. "rotated one" to "three" go to .1 to .3; .1 is
// deleted as a user might, so "rotated four" lands in .1 although it is the
// newest backup; a warning and the orderly end stay in the log itself.
void WriteRotatedLogs(const std::wstring& strLog)
{
    CLog* pLog = CLog::GetInstance();
    ASSERT_EQ(pLog->Init(strLog.c_str(), LOGLEVEL_INFO, 0), 0);
    for (const wchar_t* pszMessage : {L"rotated one", L"rotated two", L"rotated three"}) {
        pLog->Log(LOGLEVEL_INFO, L".\\Test", 10, L"Test::Rotate", L"%s", pszMessage);
        Sleep(20);  // time stamps, not numbers, put the backups in order
    }
    ASSERT_TRUE(DeleteFileW((strLog + L".1").c_str()));
    pLog->Log(LOGLEVEL_INFO, L".\\Test", 11, L"Test::Rotate", L"rotated four");
    Sleep(20);
    ASSERT_EQ(pLog->Init(strLog.c_str(), LOGLEVEL_INFO, 10), 0);
    pLog->Log(LOGLEVEL_WARN, L".\\UpgradeDlgDUI", 50, L"CUpgradeDlgDUI::OnCopyData", L"rotated five %s",
              L"\x4E0B\x8F7D");
    pLog->Log(LOGLEVEL_INFO, L".\\DazuvuVevUpgrade", 167, L"CDazuvuVevUpgradeApp::InitInstance", L"GetMessage QUIT!");
    ASSERT_TRUE(FileExists(strLog + L".1") && FileExists(strLog + L".3") && !FileExists(strLog + L".4"));
}

// The messages of the printed records in their order.
std::vector<std::string> PrintedMessages(const std::string& strOut)
{
    std::vector<std::string> messages;
    for (const char* pszMessage :
         {"rotated one", "rotated two", "rotated three", "rotated four", "rotated five", "GetMessage QUIT!"}) {
        const size_t nAt = strOut.find(std::string(":\r\n") + pszMessage);
        if (nAt != std::string::npos)
            messages.push_back(std::to_string(nAt) + " " + pszMessage);
    }
    std::sort(messages.begin(), messages.end(),
              [](const std::string& a, const std::string& b) { return std::stoul(a) < std::stoul(b); });
    for (std::string& strMessage : messages)
        strMessage = strMessage.substr(strMessage.find(' ') + 1);
    return messages;
}

std::string LastLine(const std::string& strOut)
{
    const size_t nStart = strOut.rfind("\r\n", strOut.size() >= 2 ? strOut.size() - 3 : 0);
    return strOut.substr(nStart == std::string::npos ? 0 : nStart + 2);
}

class LogDecodeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_strLog = m_dir.File(L"Upgrade.log");
        CLog* pLog = CLog::GetInstance();
        ASSERT_EQ(pLog->Init(m_strLog.c_str(), LOGLEVEL_INFO, 10), 0);
        pLog->Log(LOGLEVEL_INFO, L".\\UpgradeDlgDUI", 120, L"CUpgradeDlgDUI::OnCopyData", L"%s %s", L"\x4E0B\x8F7D",
                  L"Setup.exe");
        pLog->Log(LOGLEVEL_INFO, L".\\Test", 2, L"Test::Decode", L"line one\r\nline two");
    }

    CTempDir m_dir;
    std::wstring m_strLog;
};

TEST_F(LogDecodeTest, DecodedFileIsTheTextCLogWrote)
{
    const std::string strRaw = ReadBytes(m_strLog);
    const std::string strDecoded = DecodeLogBytes(strRaw);
    EXPECT_EQ(DecodeLogBytes(strDecoded), strRaw) << "the swap is its own inverse";

    const ToolRun run = RunDecoder(m_dir, L"--raw -o " + Quoted(m_dir.File(L"decoded.txt")) + L" " + Quoted(m_strLog));
    EXPECT_EQ(run.dwExitCode, 0u) << run.strErr;
    EXPECT_EQ(run.strOut, "");
    EXPECT_EQ(ReadBytes(m_dir.File(L"decoded.txt")), strDecoded);

    const std::vector<LogRecord> records = ParseRecords(strDecoded);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].strMessage, "\xCF\xC2\xD4\xD8 Setup.exe");  // GBK bytes, unchanged
    EXPECT_EQ(records[0].strFunction, "CUpgradeDlgDUI::OnCopyData");
    // The log writes line breaks inside a message out, so no record can forge another.
    EXPECT_EQ(records[1].strMessage, "line one\\r\\nline two");
}

TEST_F(LogDecodeTest, PrintedTextIsUtf8WithoutZeroBytesAndEndsWithASummary)
{
    const ToolRun run = RunDecoder(m_dir, Quoted(m_strLog));
    EXPECT_EQ(run.dwExitCode, 0u) << run.strErr;
    EXPECT_EQ(run.strOut.find('\0'), std::string::npos);
    EXPECT_NE(run.strOut.find("\xE4\xB8\x8B\xE8\xBD\xBD Setup.exe\r\n\r\n\r\n"), std::string::npos)
        << "the Chinese text comes out as UTF-8:\n"
        << run.strOut;
    EXPECT_NE(run.strOut.find(":\r\nline one\\r\\nline two\r\n\r\n\r\n"), std::string::npos)
        << "a line break inside a message is shown escaped, the record's own ones stay:\n"
        << run.strOut;
    const size_t nSummary = run.strOut.rfind("summary: 2 records, run start ");
    ASSERT_NE(nSummary, std::string::npos) << run.strOut;
    EXPECT_EQ(run.strOut.find("\r\n", nSummary), run.strOut.size() - 2) << "the summary is the last line";
    EXPECT_NE(run.strOut.find("outcome still running or ended without a record", nSummary), std::string::npos)
        << run.strOut;
    EXPECT_NE(run.strOut.find("\r\nrun 1: "), std::string::npos) << "a line for the one run:\n" << run.strOut;

    // The same text in a file with -o.
    const ToolRun written = RunDecoder(m_dir, Quoted(m_strLog) + L" -o " + Quoted(m_dir.File(L"text.txt")));
    EXPECT_EQ(written.dwExitCode, 0u) << written.strErr;
    EXPECT_EQ(ReadBytes(m_dir.File(L"text.txt")), run.strOut);
}

TEST_F(LogDecodeTest, BadArgumentsFailClearlyAndLoseNothing)
{
    const std::string strLogBefore = ReadBytes(m_strLog);

    ToolRun run = RunDecoder(m_dir, Quoted(m_dir.File(L"absent.log")) + L" -o " + Quoted(m_dir.File(L"out.txt")));
    EXPECT_EQ(run.dwExitCode, 1u);
    EXPECT_NE(run.strErr.find("absent.log"), std::string::npos) << run.strErr;
    EXPECT_FALSE(FileExists(m_dir.File(L"out.txt")));

    // Decoding the log onto itself would destroy it.
    run = RunDecoder(m_dir, Quoted(m_strLog) + L" -o " + Quoted(m_strLog));
    EXPECT_EQ(run.dwExitCode, 1u);
    EXPECT_NE(run.strErr.find("the log itself"), std::string::npos) << run.strErr;
    EXPECT_EQ(ReadBytes(m_strLog), strLogBefore);

    run = RunDecoder(m_dir, L"-o");
    EXPECT_EQ(run.dwExitCode, 1u);
    EXPECT_NE(run.strErr.find("Usage"), std::string::npos) << run.strErr;
    run = RunDecoder(m_dir, L"--bogus");
    EXPECT_EQ(run.dwExitCode, 1u);
    EXPECT_NE(run.strErr.find("--bogus"), std::string::npos) << run.strErr;
}

TEST_F(LogDecodeTest, RotatedLogsAreReadTogetherInTimeOrderAndFiltered)
{
    const std::wstring strLog = m_dir.File(L"rotated.log");
    WriteRotatedLogs(strLog);
    typedef std::vector<std::string> Messages;

    ToolRun run = RunDecoder(m_dir, Quoted(strLog));
    EXPECT_EQ(run.dwExitCode, 0u) << run.strErr;
    EXPECT_EQ(PrintedMessages(run.strOut),
              (Messages{"rotated two", "rotated three", "rotated four", "rotated five", "GetMessage QUIT!"}))
        << "backups oldest first by their records' time, the log last:\n"
        << run.strOut;
    const std::vector<LogRecord> first = ReadRecords(strLog + L".2");
    ASSERT_EQ(first.size(), 1u);
    std::string strSummary = LastLine(run.strOut);
    EXPECT_EQ(strSummary.find("summary: 5 records, run start " + first[0].strTimestamp + ", "), 0u) << strSummary;
    EXPECT_NE(strSummary.find("outcome ended in order without an outcome record, last error "), std::string::npos)
        << strSummary;
    EXPECT_NE(strSummary.find(" [WARN] CUpgradeDlgDUI::OnCopyData: rotated five \xE4\xB8\x8B\xE8\xBD\xBD\r\n"),
              std::string::npos)
        << strSummary;

    run = RunDecoder(m_dir, L"--level WARN " + Quoted(strLog));
    EXPECT_EQ(run.dwExitCode, 0u) << run.strErr;
    EXPECT_EQ(PrintedMessages(run.strOut), (Messages{"rotated five"})) << run.strOut;
    EXPECT_EQ(LastLine(run.strOut), strSummary) << "the summary covers every record, not only the shown ones";

    const std::vector<LogRecord> four = ReadRecords(strLog + L".1");
    ASSERT_EQ(four.size(), 1u);
    run = RunDecoder(m_dir, Quoted(strLog) + L" --since \"" +
                                std::wstring(four[0].strTimestamp.begin(), four[0].strTimestamp.end()) + L"\"");
    EXPECT_EQ(PrintedMessages(run.strOut), (Messages{"rotated four", "rotated five", "GetMessage QUIT!"}))
        << run.strOut;
    run = RunDecoder(m_dir, Quoted(strLog) + L" --until \"" +
                                std::wstring(first[0].strTimestamp.begin(), first[0].strTimestamp.end()) + L"\"");
    EXPECT_EQ(PrintedMessages(run.strOut), (Messages{"rotated two"})) << run.strOut;
    run = RunDecoder(m_dir, L"--until 2000-01-01 " + Quoted(strLog));
    EXPECT_EQ(PrintedMessages(run.strOut), Messages()) << run.strOut;

    run = RunDecoder(m_dir, L"--no-backups " + Quoted(strLog));
    EXPECT_EQ(PrintedMessages(run.strOut), (Messages{"rotated five", "GetMessage QUIT!"})) << run.strOut;

    for (const wchar_t* pszBad :
         {L"--level LOUD", L"--since yesterday", L"--until \"2026-01-02 3:04\"", L"--codepage 99999"}) {
        run = RunDecoder(m_dir, std::wstring(pszBad) + L" " + Quoted(strLog));
        EXPECT_EQ(run.dwExitCode, 1u) << Narrow(pszBad);
        EXPECT_NE(run.strErr.find("Usage"), std::string::npos) << run.strErr;
    }
}

TEST_F(LogDecodeTest, FilesThatAreNoLogAreRefusedOrSkipped)
{
    WriteBytes(m_dir.File(L"junk.txt"), "MZ\x90\x00 not a log at all\r\n");
    ToolRun run = RunDecoder(m_dir, Quoted(m_dir.File(L"junk.txt")));
    EXPECT_EQ(run.dwExitCode, 1u);
    EXPECT_EQ(run.strOut, "");
    EXPECT_NE(run.strErr.find("junk.txt is not an upgrade log"), std::string::npos) << run.strErr;
    run =
        RunDecoder(m_dir, L"--raw -o " + Quoted(m_dir.File(L"junk-out.txt")) + L" " + Quoted(m_dir.File(L"junk.txt")));
    EXPECT_EQ(run.dwExitCode, 1u) << "raw output of a foreign file would look like a damaged log";
    EXPECT_FALSE(FileExists(m_dir.File(L"junk-out.txt")));

    // Someone hands in the decoded text instead of the log.
    WriteBytes(m_dir.File(L"decoded.txt"), DecodeLogBytes(ReadBytes(m_strLog)));
    run = RunDecoder(m_dir, Quoted(m_dir.File(L"decoded.txt")));
    EXPECT_EQ(run.dwExitCode, 1u);
    EXPECT_NE(run.strErr.find("already decoded"), std::string::npos) << run.strErr;

    // A foreign file that happens to carry a backup's name is skipped, the
    // log is still read.
    WriteBytes(m_strLog + L".3", "foreign bytes");
    run = RunDecoder(m_dir, Quoted(m_strLog));
    EXPECT_EQ(run.dwExitCode, 0u) << run.strErr;
    EXPECT_NE(run.strErr.find("skipped: "), std::string::npos) << run.strErr;
    EXPECT_NE(run.strOut.find("line one"), std::string::npos);

    // A record torn off at the end (the program was writing, or died) is
    // shown as it is, on a line of its own, and counted, not dropped.
    std::string strRaw = ReadBytes(m_strLog);
    WriteBytes(m_strLog, strRaw + DecodeLogBytes("2026-01-02 03:04:05.678 [INFO]\tThread[7]\t.\\Te"));
    run = RunDecoder(m_dir, L"--no-backups " + Quoted(m_strLog));
    EXPECT_EQ(run.dwExitCode, 0u) << run.strErr;
    EXPECT_NE(run.strOut.find("\r\ndamaged: 2026-01-02 03:04:05.678 [INFO]\\tThread[7]\\t.\\Te\r\nrun 1: "),
              std::string::npos)
        << run.strOut;
    EXPECT_EQ(LastLine(run.strOut).find("summary: 2 records"), 0u) << LastLine(run.strOut);
    EXPECT_NE(LastLine(run.strOut).find(", 1 damaged\r\n"), std::string::npos) << LastLine(run.strOut);

    // An empty log is a log without records.
    WriteBytes(m_dir.File(L"empty.log"), "");
    run = RunDecoder(m_dir, Quoted(m_dir.File(L"empty.log")));
    EXPECT_EQ(run.dwExitCode, 0u) << run.strErr;
    EXPECT_EQ(run.strOut, "summary: no records\r\n");
}

TEST_F(LogDecodeTest, OnlyTheFourBackupsTheLogWritesAreRead)
{
    // Names that a wider notion of a digit, or of a backup, would take; the
    // first one made the Python decoder fail outright.
    for (const wchar_t* pszSuffix : {L".\x00B2", L".\x0661", L".5", L".0", L".01", L".1x", L".10"})
        WriteBytes(m_strLog + pszSuffix, ReadBytes(m_strLog));
    CLog* pLog = CLog::GetInstance();
    ASSERT_EQ(pLog->Init((m_strLog + L".4").c_str(), LOGLEVEL_INFO, 10), 0);
    pLog->Log(LOGLEVEL_INFO, L".\\Test", 1, L"Test::Backup", L"the newest backup");
    const ToolRun run = RunDecoder(m_dir, Quoted(m_strLog));
    EXPECT_EQ(run.dwExitCode, 0u) << run.strErr;
    EXPECT_EQ(run.strErr, "");
    EXPECT_EQ(LastLine(run.strOut).find("summary: 3 records, "), 0u)
        << "the log's two records and the backup's one, no other file:\n"
        << run.strOut;
    EXPECT_LT(run.strOut.find("the newest backup"), run.strOut.find("line one")) << "the backup comes first";

    EXPECT_EQ(LogBackupNumber(L"Upgrade.log.1", L"Upgrade.log"), 1);
    EXPECT_EQ(LogBackupNumber(L"UPGRADE.LOG.4", L"Upgrade.log"), 4) << "file names ignore case";
    for (const wchar_t* pszName : {L"Upgrade.log.\x00B2", L"Upgrade.log.\xFF11", L"Upgrade.log.5", L"Upgrade.log.0",
                                   L"Upgrade.log.01", L"Upgrade.log1", L"Upgrade.log.", L"Other.log.1"})
        EXPECT_EQ(LogBackupNumber(pszName, L"Upgrade.log"), 0) << Narrow(pszName);
}

TEST_F(LogDecodeTest, DefaultInputIsTheLogUnderDocuments)
{
    const std::wstring strDefault = DefaultLogDecodeInput();
    ASSERT_TRUE(InitLog());
    EXPECT_EQ(strDefault, CLog::GetInstance()->GetLogFilePath());
}

// Writes a fixed set of records for the Python decoder's test, which runs
// this executable with LOG_SAMPLE_PATH set; skipped otherwise.
TEST(LogDecodeSample, WriteSampleForPython)
{
    const char* pszSample = getenv("LOG_SAMPLE_PATH");
    if (pszSample == NULL || *pszSample == '\0')
        GTEST_SKIP() << "LOG_SAMPLE_PATH not set";
    const int nChars = MultiByteToWideChar(CP_UTF8, 0, pszSample, -1, NULL, 0);
    std::wstring strPath(static_cast<size_t>(nChars), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, pszSample, -1, &strPath[0], nChars);
    strPath.resize(static_cast<size_t>(nChars) - 1);

    CLog* pLog = CLog::GetInstance();
    ASSERT_EQ(pLog->Init(strPath.c_str(), LOGLEVEL_INFO, 10), 0);
    pLog->Log(LOGLEVEL_INFO, L".\\UpgradeDlgDUI", 120, L"CUpgradeDlgDUI::OnCopyData", L"%s %s", L"\x4E0B\x8F7D",
              L"Setup.exe");
    pLog->Log(LOGLEVEL_INFO, L".\\Test", 2, L"Test::Decode", L"line one\r\nline two");
    pLog->Log(LOGLEVEL_INFO, L".\\Test", 3, L"Test::Decode", NULL);
    pLog->Log(LOGLEVEL_FATAL, L".\\DazuvuVevUpgrade", 167, L"CDazuvuVevUpgradeApp::InitInstance", L"GetMessage QUIT!");

    // And a set of rotated logs in the folder "rotated" beside it.
    const std::wstring strRotated = strPath.substr(0, strPath.find_last_of(L"\\/") + 1) + L"rotated";
    ASSERT_TRUE(CreateDirectoryW(strRotated.c_str(), NULL));
    WriteRotatedLogs(strRotated + L"\\Upgrade.log");
}

}  // namespace
