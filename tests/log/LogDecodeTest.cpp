// The support tool against files that CLog really wrote.
#include "log/Log.h"
#include "tests/log/LogTestUtil.h"
#include "tools/logdecode/LogDecode.h"

#include <gtest/gtest.h>

#include <stdlib.h>

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
    HANDLE hOut = CreateFileW(strOutFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, NULL);
    HANDLE hErr = CreateFileW(strErrFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, NULL);
    EXPECT_NE(hOut, INVALID_HANDLE_VALUE);
    EXPECT_NE(hErr, INVALID_HANDLE_VALUE);

    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = hOut;
    si.hStdError = hErr;
    PROCESS_INFORMATION pi = {};
    std::wstring strCommand = L"\"" + ModuleDir() + L"\\DazuvuVevLogDecode.exe\" " + strArgs;
    const BOOL bStarted =
        CreateProcessW(NULL, &strCommand[0], NULL, NULL, TRUE, DETACHED_PROCESS, NULL, NULL, &si, &pi);
    CloseHandle(hOut);
    CloseHandle(hErr);
    EXPECT_TRUE(bStarted) << "cannot start the decoder, error " << GetLastError();
    if (!bStarted)
        return run;
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
    GetExitCodeProcess(pi.hProcess, &run.dwExitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    run.strOut = ReadBytes(strOutFile);
    run.strErr = ReadBytes(strErrFile);
    return run;
}

std::wstring Quoted(const std::wstring& strPath)
{
    return L"\"" + strPath + L"\"";
}

class LogDecodeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_strLog = m_dir.File(L"Upgrade.log");
        CLog* pLog = CLog::GetInstance();
        ASSERT_EQ(pLog->Init(m_strLog.c_str(), LOGLEVEL_INFO, 10), 0);
        pLog->Log(LOGLEVEL_INFO, L".\\UpgradeDlgDUI", 120, L"CUpgradeDlgDUI::OnCopyData", L"%s %s",
                  L"\x4E0B\x8F7D", L"Setup.exe");
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

    const ToolRun run = RunDecoder(m_dir, L"-o " + Quoted(m_dir.File(L"decoded.txt")) + L" " + Quoted(m_strLog));
    EXPECT_EQ(run.dwExitCode, 0u) << run.strErr;
    EXPECT_EQ(run.strOut, "");
    EXPECT_EQ(ReadBytes(m_dir.File(L"decoded.txt")), strDecoded);

    const std::vector<LogRecord> records = ParseRecords(strDecoded);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].strMessage, "\xCF\xC2\xD4\xD8 Setup.exe");  // GBK bytes, unchanged
    EXPECT_EQ(records[0].strFunction, "CUpgradeDlgDUI::OnCopyData");
    EXPECT_EQ(records[1].strMessage, "line one\r\nline two");
}

TEST_F(LogDecodeTest, PrintedTextHasNoZeroBytes)
{
    const ToolRun run = RunDecoder(m_dir, Quoted(m_strLog));
    EXPECT_EQ(run.dwExitCode, 0u) << run.strErr;
    const std::string strExpected = ReadableLogText(DecodeLogBytes(ReadBytes(m_strLog)));
    EXPECT_EQ(run.strOut, strExpected);
    EXPECT_EQ(run.strOut.find('\0'), std::string::npos);
    EXPECT_NE(run.strOut.find("\xCF\xC2\xD4\xD8 Setup.exe\r\n\r\n\r\n"), std::string::npos);
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
    pLog->Log(LOGLEVEL_INFO, L".\\UpgradeDlgDUI", 120, L"CUpgradeDlgDUI::OnCopyData", L"%s %s",
              L"\x4E0B\x8F7D", L"Setup.exe");
    pLog->Log(LOGLEVEL_INFO, L".\\Test", 2, L"Test::Decode", L"line one\r\nline two");
    pLog->Log(LOGLEVEL_INFO, L".\\Test", 3, L"Test::Decode", NULL);
    pLog->Log(LOGLEVEL_FATAL, L".\\DazuvuVevUpgrade", 167, L"CDazuvuVevUpgradeApp::InitInstance", L"GetMessage QUIT!");
}

}  // namespace
