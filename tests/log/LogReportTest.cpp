// The decoder's rules without the tool: records read in one pass whatever
// the bytes, each record's severity, the runs and how each ended, the named
// error numbers, and the escaping that keeps a log from steering a terminal.
#include "tools/logdecode/ErrorNames.h"
#include "tools/logdecode/LogPrint.h"
#include "tools/logdecode/LogReport.h"
#include "tools/logdecode/LogRuns.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Record(const std::string& strTime, const std::string& strMessage, const char* pszLevel = "[INFO]",
                   const char* pszFunction = "T::F")
{
    return strTime + " " + pszLevel + "\tThread[1]\t.\\T\t" + pszFunction + ": 1 :\r\n" + strMessage +
           std::string("\r\n\r\n\0\r\n", 7);
}

// Records one second apart from 10:00:01.
class CLogText {
public:
    CLogText& Add(const std::string& strMessage, const char* pszLevel = "[INFO]")
    {
        char szTime[32];
        ++m_nSecond;
        snprintf(szTime, sizeof(szTime), "2026-03-04 10:%02d:%02d.000", m_nSecond / 60, m_nSecond % 60);
        m_strText += Record(szTime, strMessage, pszLevel);
        return *this;
    }
    CLogText& Banner(const char* pszVersion = "1.0.0.1")
    {
        return Add(std::string("DazuvuVevUpgrade ") + pszVersion + " started, command line: x, Windows 6.1");
    }
    std::vector<LogEntry> Entries() const
    {
        std::vector<LogEntry> entries;
        EXPECT_TRUE(SplitLogEntries(m_strText, entries));
        return entries;
    }
    // The closing lines, one string each, without their CR LF.
    std::vector<std::wstring> SummaryLines() const
    {
        const std::wstring strText = LogSummaryText(Entries(), 936);
        std::vector<std::wstring> lines;
        for (size_t nStart = 0; nStart < strText.size();) {
            const size_t nEnd = strText.find(L"\r\n", nStart);
            lines.push_back(strText.substr(nStart, nEnd - nStart));
            nStart = nEnd + 2;
        }
        return lines;
    }

private:
    std::string m_strText;
    int m_nSecond = 0;
};

const char kTransfer404[] =
    "error: transfer failed on the server or the connection: HTTP status 404, network error 12152, 0 bytes "
    "received (0 already on disk), 0.125 s, mean speed 0.0 KB/s";

}  // namespace

TEST(LogReport, SeverityIsTheLeadingWordElseTheHeadersLevel)
{
    const std::vector<LogEntry> entries = CLogText()
                                              .Add("warning: order refused")
                                              .Add("error: transfer failed")
                                              .Add("old warning", "[WARN]")
                                              .Add("warning: the word wins", "[ERROR]")
                                              .Add("a warning: in the middle")
                                              .Add("Warning: capitalised")
                                              .Entries();
    ASSERT_EQ(entries.size(), 6u);
    const int expected[] = {3, 4, 3, 3, 2, 2};
    for (size_t i = 0; i < entries.size(); ++i)
        EXPECT_EQ(LogSeverity(entries[i]), expected[i]) << entries[i].strMessage;
    EXPECT_EQ(LogMessageWithoutSeverity(entries[0]), "order refused");

    // The printed level shows the severity; the text stays whole.
    EXPECT_EQ(PrintedLogEntry(entries[0], 936),
              L"2026-03-04 10:00:01.000 [WARN]\tThread[1]\t.\\T\tT::F: 1 :\r\nwarning: order refused\r\n\r\n\r\n");
    EXPECT_EQ(PrintedLogEntry(entries[4], 936).substr(24, 7), L"[INFO]\t");

    LogFilter filter;
    filter.nMinLevel = LogLevelNumber(L"WARN");
    std::vector<std::string> shown;
    for (const LogEntry& entry : entries) {
        if (filter.Accepts(entry))
            shown.push_back(entry.strMessage);
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"warning: order refused", "error: transfer failed", "old warning",
                                               "warning: the word wins"}));
    filter.nMinLevel = LogLevelNumber(L"error");
    EXPECT_TRUE(filter.Accepts(entries[1]));
    EXPECT_FALSE(filter.Accepts(entries[0]));
}

TEST(LogReport, EachRunHasItsOwnOutcomeAndTheSummaryTellsTheLast)
{
    CLogText log;
    // An older build: no banner, a reason without a result word, [WARN].
    log.Add("order accepted").Add("URL check failure,URL= x", "[WARN]").Add("upgrade ends: the order was refused");
    log.Add("GetMessage QUIT!").Add("order accepted").Add("GetMessage QUIT!");
    // Today's: a clean 404, whose last error is the transfer, not its end.
    log.Banner().Add(kTransfer404).Add("error: upgrade ends: download-failed: the transfer failed");
    log.Add("GetMessage QUIT!");
    // A success: "network error 0" in an INFO record is no error.
    log.Banner("1.0.0.2")
        .Add("transfer finished: HTTP status 200, network error 0, 9 bytes received")
        .Add("upgrade ends: setup-started: download verified while the user watched")
        .Add("GetMessage QUIT!");
    // Ended by a newer instance, right after a warning.
    log.Banner("1.0.0.2").Add("warning: order refused, another download is running");
    log.Add("warning: upgrade ends: superseded: ended by a newer instance (process 1234)");
    // Still running.
    log.Banner("1.0.0.2");

    const std::vector<std::wstring> lines = log.SummaryLines();
    const std::vector<std::wstring> expected = {
        L"run 1: 2026-03-04 10:00:01.000 to 2026-03-04 10:00:04.000, 4 records, outcome the order was refused, "
        L"last error URL check failure,URL= x",
        L"run 2: 2026-03-04 10:00:05.000 to 2026-03-04 10:00:06.000, 2 records, outcome ended in order without an "
        L"outcome record",
        L"run 3: 2026-03-04 10:00:07.000 to 2026-03-04 10:00:10.000, 4 records, companion 1.0.0.1, outcome "
        L"download-failed: the transfer failed, last error HTTP 404 (not found)",
        L"run 4: 2026-03-04 10:00:11.000 to 2026-03-04 10:00:14.000, 4 records, companion 1.0.0.2, outcome "
        L"setup-started: download verified while the user watched",
        L"run 5: 2026-03-04 10:00:15.000 to 2026-03-04 10:00:17.000, 3 records, companion 1.0.0.2, outcome "
        L"superseded: ended by a newer instance (process 1234), last error order refused, another download is "
        L"running",
        L"run 6: 2026-03-04 10:00:18.000 to 2026-03-04 10:00:18.000, 1 records, companion 1.0.0.2, outcome still "
        L"running or ended without a record",
        L"summary: 18 records, run start 2026-03-04 10:00:18.000, outcome still running or ended without a record, "
        L"last error none",
    };
    EXPECT_EQ(lines, expected);

    // The summary of a failed last run: the time, the severity, the named
    // numbers first, then the record's own text.
    CLogText failed;
    failed.Banner().Add(kTransfer404).Add("error: upgrade ends: download-failed: the transfer failed");
    EXPECT_EQ(failed.SummaryLines().back(),
              L"summary: 3 records, run start 2026-03-04 10:00:01.000, outcome download-failed: the transfer failed, "
              L"last error 2026-03-04 10:00:02.000 [ERROR] T::F: HTTP 404 (not found); transfer failed on the server "
              L"or the connection: HTTP status 404, network error 12152, 0 bytes received (0 already on disk), 0.125 "
              L"s, mean speed 0.0 KB/s");

    // The result word alone, a reason with line breaks and an escape, and
    // only the first end of a run counts.
    CLogText words;
    words.Banner().Add("upgrade ends: hidden").Add("upgrade ends: refused: later");
    words.Banner().Add("upgrade ends: refused: two\r\nlines \x1b[2J");
    const std::vector<std::wstring> wordLines = words.SummaryLines();
    ASSERT_EQ(wordLines.size(), 3u);
    const std::wstring strHidden = L", outcome hidden";
    EXPECT_EQ(wordLines[0].substr(wordLines[0].size() - strHidden.size()), strHidden) << wordLines[0];
    EXPECT_NE(wordLines[1].find(L"outcome refused: two lines \\x1b[2J"), std::wstring::npos) << wordLines[1];

    EXPECT_EQ(LogSummaryText(std::vector<LogEntry>(), 936), L"summary: no records\r\n");
}

TEST(LogReport, NetworkErrorNumbersAreNamedTheHttpStatusFirst)
{
    EXPECT_EQ(ErrorGist(L"transfer failed: HTTP status 404, network error 12152, 0 bytes"), L"HTTP 404 (not found)")
        << "the library's 12152 beside a refused status says nothing more";
    EXPECT_EQ(ErrorGist(L"transfer failed: HTTP status 200, network error 12152, 0 bytes"),
              L"HTTP 200 (ok), network error 12152 (invalid server response)");
    EXPECT_EQ(ErrorGist(L"transfer failed: HTTP status 0, network error 12029, 0 bytes"),
              L"network error 12029 (cannot connect)");
    EXPECT_EQ(ErrorGist(L"transfer finished: HTTP status 200, network error 0"), L"HTTP 200 (ok)");
    EXPECT_EQ(ErrorGist(L"setup could not be started: x, result 2, error 5"), L"error 5 (access denied)");
    EXPECT_EQ(ErrorGist(L"transfer failed writing the local file: HTTP status 200, network error 112"),
              L"HTTP 200 (ok), network error 112 (disk full)");
    EXPECT_EQ(ErrorGist(L"HTTP status 418, network error 12345"), L"HTTP 418, network error 12345");
    EXPECT_EQ(ErrorGist(L"error 12345678901 is no number, error 2 is"), L"error 2 (file not found)");
    EXPECT_EQ(ErrorGist(L"error: no number here"), L"");

    // What the network library reports: the codes the task names and the
    // ones it sets itself.
    for (unsigned long ulCode :
         {12002ul, 12005ul, 12006ul, 12007ul, 12029ul, 12030ul, 12031ul, 12038ul, 12044ul, 12045ul,
          12152ul, 12156ul, 12157ul, 12175ul, 2ul,     3ul,     5ul,     32ul,    39ul,    112ul})
        EXPECT_NE(ErrorCodeName(ulCode), nullptr) << ulCode;
    for (unsigned long ulStatus : {400ul, 401ul, 403ul, 404ul, 407ul, 416ul, 500ul, 502ul, 503ul})
        EXPECT_NE(HttpStatusName(ulStatus), nullptr) << ulStatus;
}

TEST(LogPrint, ControlCharactersAreShownEscapedTheRecordsOwnLinesStay)
{
    std::wstring strControls = L"a\x1b[31mb\x07\t\r\n\x7f\x9b";
    strControls += L'\0';
    strControls += L'z';
    EXPECT_EQ(EscapeControls(strControls), L"a\\x1b[31mb\\x07\\t\\r\\n\\x7f\\x9b\\x00z");
    EXPECT_EQ(EscapeControls(L"\x4E0B\x8F7D \xA0\xFF"), L"\x4E0B\x8F7D \xA0\xFF") << "text stays as it is";

    std::vector<LogEntry> entries;
    ASSERT_TRUE(SplitLogEntries(Record("2026-03-04 10:00:01.000", "bell\x07 esc\x1b]0;t\x07 two\r\nlines", "[INFO]",
                                       "Evil\x1b[2J::F") +
                                    "foreign\x1b bytes" + std::string("\0\r\n", 3) + "torn\r\nend",
                                entries));
    ASSERT_EQ(entries.size(), 2u) << "neighbouring damaged pieces are one stretch";
    EXPECT_EQ(PrintedLogEntry(entries[0], 936),
              L"2026-03-04 10:00:01.000 [INFO]\tThread[1]\t.\\T\tEvil\\x1b[2J::F: 1 :\r\n"
              L"bell\\x07 esc\\x1b]0;t\\x07 two\\r\\nlines\r\n\r\n\r\n");
    EXPECT_EQ(PrintedLogEntry(entries[1], 936), L"damaged: foreign\\x1b bytes\\x00\\r\\ntorn\\r\\nend\r\n");

    // Code page 936 bytes the code page leaves undefined (0x80, 0xFF, a lead
    // byte without its trail, a pair of the user-defined area) as bytes.
    EXPECT_EQ(LogTextToWide("\xCF\xC2\xD4\xD8 \x80 \xFF \x81 \xA1\x40", 936),
              L"\x4E0B\x8F7D \\x80 \\xff \\x81 \\xa1\\x40");

    EXPECT_EQ(OneLineText(L"  one\r\ntwo\nthree\tfour  ", 200), L"one two three\\tfour");
    EXPECT_EQ(OneLineText(std::wstring(10, L'x'), 4), L"xxxx...");
    EXPECT_EQ(OneLineText(L"xxx\xD83D\xDE00y", 4), L"xxx...") << "a surrogate pair stays whole";
}

TEST(LogReport, CraftedLogsAreReadInOnePass)
{
    // The piece that took the old pattern quadratic time: a header, then a
    // quarter of a megabyte of would-be line numbers, and no end.
    const std::string strHeader = "2026-03-04 11:00:01.000 [INFO]\tThread[1]\t.\\S\t";
    std::string strAdversarial = strHeader;
    for (int i = 0; i < 224 * 1024 / 8; ++i)
        strAdversarial += "F: 1 :\r\n";
    std::string strLog = Record("2026-03-04 10:00:00.000", "start");
    strLog += strAdversarial + std::string("\0\r\n", 3);
    strLog += Record("2026-03-04 10:00:01.000", "error: " + std::string(4 << 20, 'x'));
    for (int i = 0; i < 50000; ++i)
        strLog += Record("2026-03-04 10:00:02.000", "");
    strLog += std::string(20000, '\0');  // a zero-filled tail after a crash
    std::vector<LogEntry> entries;
    ASSERT_TRUE(SplitLogEntries(strLog, entries));
    ASSERT_EQ(entries.size(), 50004u);
    EXPECT_FALSE(entries[1].bRecord);
    EXPECT_EQ(entries[1].strDamaged.size(), strAdversarial.size());
    EXPECT_EQ(entries[2].strMessage.size(), (4u << 20) + 7);
    EXPECT_FALSE(entries.back().bRecord);
    EXPECT_EQ(LogSummaryText(entries, 936).substr(0, 7), L"run 1: ");

    // Bounded fields: a thread or line number longer than ten digits, or a
    // level name longer than ten letters, makes no record.
    EXPECT_FALSE(
        SplitLogEntries("2026-03-04 10:00:00.000 [INFO]\tThread[12345678901]\t.\\T\tF: 1 :\r\nm\r\n\r\n", entries));
    EXPECT_FALSE(
        SplitLogEntries("2026-03-04 10:00:00.000 [INFO]\tThread[1]\t.\\T\tF: 12345678901 :\r\nm\r\n\r\n", entries));
    EXPECT_FALSE(
        SplitLogEntries("2026-03-04 10:00:00.000 [INFORMATIONAL]\tThread[1]\t.\\T\tF: 1 :\r\nm\r\n\r\n", entries));
    ASSERT_TRUE(
        SplitLogEntries("2026-03-04 10:00:00.000 [INFO]\tThread[-1234567890]\t.\\T\tA: B: -1234567890 "
                        ":\r\nm\r\n\r\n",
                        entries));
    EXPECT_EQ(entries[0].strFunction, "A: B");
    EXPECT_EQ(entries[0].strLine, "-1234567890");
}
