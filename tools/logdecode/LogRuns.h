// The log's runs and how each ended, for the lines that close the decoded
// log: one line per run of the companion, then the one-line summary of the
// last run that support greps for ("summary: ").
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tools/logdecode/LogReport.h"

// One run of the companion: from its start banner ("DazuvuVevUpgrade
// <version> started, command line: ...") to the next. Before the first
// banner (older logs, or a run that began in a deleted backup), runs end at
// the orderly end of the message loop ("GetMessage QUIT!").
struct LogRun {
    size_t nFirst = 0;  // the run's records: [nFirst, nEnd) of the record list
    size_t nEnd = 0;
    std::string strVersion;                // from the banner; empty without one
    const LogEntry* pEnds = nullptr;       // its first "upgrade ends: ..." record
    bool bQuit = false;                    // the message loop ended in order
    const LogEntry* pLastError = nullptr;  // its last warning or error, other than its end
    const LogEntry* pOrder = nullptr;      // its last "order accepted: ..." record
};

// The records (no damaged entries), in the order the log holds them.
std::vector<LogRun> SplitLogRuns(const std::vector<const LogEntry*>& records);

// How the run ended: "<result>: <reason>" from its "upgrade ends:" record
// (the reason alone in older logs, whose record has no result word), else
// whether it ended in order or is still running or ended without a record.
std::wstring LogRunOutcome(const LogRun& run, UINT nCodePage);

// The closing lines of the decoded log, CR LF each: one per run ("run N:
// START to END, K records, companion C, version V, URL U, outcome O, last
// error G"), then "summary: N records, run start T, outcome O, last error E"
// for the last run, with ", N damaged" when stretches of the files were no
// records. Version and URL are those of the run's accepted order; a last
// error of a run whose upgrade went through or waits is marked
// " (recovered)".
std::wstring LogSummaryText(const std::vector<LogEntry>& entries, UINT nCodePage);
