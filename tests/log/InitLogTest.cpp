// Start-up of the log: the client's config.ini, the folders, the source names.
#include "log/Log.h"
#include "tests/log/LogTestUtil.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

// config.ini beside the test executable, as the client keeps it beside ours;
// removed again whatever the test does.
class CConfigFile {
public:
    CConfigFile() : m_strPath(ModuleDir() + L"\\config.ini") { DeleteFileW(m_strPath.c_str()); }
    ~CConfigFile() { DeleteFileW(m_strPath.c_str()); }
    void Write(const std::string& strContent) { WriteBytes(m_strPath, strContent); }
    void Remove() { DeleteFileW(m_strPath.c_str()); }

private:
    std::wstring m_strPath;
};

TEST(InitLogTest, ConfigValueIsReadFromConfigBesideExecutable)
{
    CConfigFile config;
    std::wstring strValue = L"untouched";
    EXPECT_FALSE(GetConfigValue(L"LogLevel", L"APP", strValue)) << "no config.ini";
    EXPECT_EQ(strValue, L"untouched");

    config.Write("[OTHER]\r\nLogLevel=1\r\n[APP]\r\nLogLevel=7\r\nEmpty=\r\n");
    EXPECT_TRUE(GetConfigValue(L"LogLevel", L"APP", strValue));
    EXPECT_EQ(strValue, L"7");
    strValue = L"untouched";
    EXPECT_FALSE(GetConfigValue(L"Empty", L"APP", strValue));
    EXPECT_FALSE(GetConfigValue(L"Absent", L"APP", strValue));
    EXPECT_FALSE(GetConfigValue(L"LogLevel", L"NOSECTION", strValue));
    EXPECT_EQ(strValue, L"untouched");

    std::wstring strDir;
    ASSERT_TRUE(GetModuleDir(strDir));
    EXPECT_EQ(strDir, ModuleDir());
}

TEST(InitLogTest, LogLevelFromConfigSetsThreshold)
{
    CConfigFile config;
    CTempDir dir;
    const std::wstring strProbe = dir.File(L"probe.log");
    CLog* pLog = CLog::GetInstance();

    struct {
        const char* pszConfig;  // NULL: no config.ini at all
        int nStored;
        bool bWritten;
    } const cases[] = {
        {NULL, 0, true},
        {"[APP]\r\nLogLevel=\r\n", 0, true},
        {"[APP]\r\nLogLevel=abc\r\n", 0, true},
        {"[APP]\r\nLogLevel=0\r\n", 0, true},
        {"[APP]\r\nLogLevel=1\r\n", 1, true},
        {"[APP]\r\nLogLevel=2\r\n", 2, true},
        {"[APP]\r\nLogLevel=3\r\n", 3, false},
        {"[APP]\r\nLogLevel=4\r\n", 4, false},
        {"[APP]\r\nLogLevel=5\r\n", 5, false},
        {"[APP]\r\nLogLevel=9\r\n", 6, false},
        {"[APP]\r\nLogLevel=-1\r\n", 2, true},
    };
    for (const auto& c : cases) {
        const std::string strCase = c.pszConfig ? c.pszConfig : "(no config.ini)";
        ASSERT_EQ(pLog->Init(strProbe.c_str(), LOGLEVEL_INFO, 10), 0);
        if (c.pszConfig)
            config.Write(c.pszConfig);
        else
            config.Remove();

        ASSERT_TRUE(InitLog()) << strCase;
        EXPECT_EQ(pLog->GetLevel(), c.nStored) << strCase;
        const std::wstring strLogFile = pLog->GetLogFilePath();
        const std::wstring strTail = L"\\DazuvuVev\\log\\Upgrade\\Upgrade.log";
        ASSERT_GT(strLogFile.size(), strTail.size());
        EXPECT_EQ(strLogFile.substr(strLogFile.size() - strTail.size()), strTail);
        EXPECT_TRUE(FileExists(strLogFile.substr(0, strLogFile.size() - 12))) << "log folder created";

        // Keep the threshold, write to the probe instead of the real log.
        DeleteFileW(strProbe.c_str());
        ASSERT_EQ(pLog->Init(strProbe.c_str(), -1, 10), 0);
        pLog->Log(LOGLEVEL_INFO, L".\\Test", 1, L"Test::Config", L"probe");
        EXPECT_EQ(FileExists(strProbe), c.bWritten) << strCase;
    }
}

TEST(InitLogTest, UnknownDocumentsFolderFallsBackBesideExecutable)
{
    // Never a folder at the root of whatever drive is current.
    EXPECT_EQ(LogFilePathUnder(L""), L"");
    EXPECT_EQ(LogFilePathUnder(L"C:\\Docs\\DazuvuVev"), L"C:\\Docs\\DazuvuVev\\log\\Upgrade\\Upgrade.log");
    CLog* pLog = CLog::GetInstance();
    ASSERT_EQ(pLog->Init(LogFilePathUnder(L"").c_str(), 2, 10), 0);
    EXPECT_EQ(pLog->GetLogFilePath(), ModuleDir() + L"\\QVXSDK.log");
}

TEST(InitLogTest, CreateMultiLevelDirBuildsEveryLevel)
{
    CTempDir dir;
    EXPECT_TRUE(CreateMultiLevelDir(dir.File(L"a\\b\\c")));
    EXPECT_TRUE(FileExists(dir.File(L"a\\b\\c")));
    EXPECT_TRUE(CreateMultiLevelDir(dir.File(L"a\\b\\c\\")));  // existing levels are fine
    EXPECT_TRUE(CreateMultiLevelDir(dir.File(L"a\\d\\")));
    EXPECT_TRUE(FileExists(dir.File(L"a\\d")));

    // A file in the way ends the walk.
    WriteBytes(dir.File(L"file"), "x");
    EXPECT_FALSE(CreateMultiLevelDir(dir.File(L"file\\sub")));
    EXPECT_FALSE(FileExists(dir.File(L"file\\sub")));

    // Only drive paths are walked; nothing is created for the others.
    EXPECT_FALSE(CreateMultiLevelDir(L"\\log\\Upgrade"));
    EXPECT_FALSE(CreateMultiLevelDir(L"relative\\folder"));
    EXPECT_FALSE(FileExists(L"relative"));
}

TEST(InitLogTest, SourceNameIsBaseNameWithoutExtension)
{
    static const char kUnix[] = "/work/main/upgrade/UpgradeDlgDUI.cpp";
    static const char kWindows[] = "C:\\src\\app\\DazuvuVevUpgrade.cpp";
    static const char kBare[] = "Makefile";
    static const char kDotted[] = "ui/Msg.Box.Cal.cpp";
    EXPECT_STREQ(LogSourceName(kUnix), L".\\UpgradeDlgDUI");
    EXPECT_STREQ(LogSourceName(kWindows), L".\\DazuvuVevUpgrade");
    EXPECT_STREQ(LogSourceName(kBare), L".\\Makefile");
    EXPECT_STREQ(LogSourceName(kDotted), L".\\Msg.Box.Cal");
    EXPECT_STREQ(LogSourceName(__FILE__), L".\\InitLogTest");

    // The same name for the same pointer, from any thread, for good.
    LPCWSTR pszFirst = LogSourceName(kUnix);
    std::vector<std::thread> threads;
    std::vector<LPCWSTR> results(8);
    for (size_t t = 0; t < results.size(); ++t)
        threads.emplace_back([t, &results] {
            for (int i = 0; i < 200; ++i)
                results[t] = LogSourceName(i % 2 ? kUnix : kWindows);
        });
    for (auto& thread : threads)
        thread.join();
    for (LPCWSTR pszResult : results)
        EXPECT_EQ(pszResult, pszFirst);
    EXPECT_STREQ(pszFirst, L".\\UpgradeDlgDUI");
}

}  // namespace
