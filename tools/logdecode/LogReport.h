// What support reads from the upgrade log: its records split out, the
// rotated backups put in time order, filters by level and time, and a
// one-line summary of the last run. Window-free, so the unit tests check the
// rules without starting the tool; tools/logdecode/logdecode.py prints the
// same text byte for byte.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// One piece of a decoded log file: a record, or damaged bytes (a torn end,
// foreign bytes) kept so that nothing is hidden from the reader.
struct LogEntry {
    std::string strText;  // as written, ANSI, without the zero byte
    bool bRecord = false;
    std::string strTime;   // "2026-01-02 03:04:05.678"
    std::string strLevel;  // "[WARN]"
    std::string strFunction;
    std::string strMessage;
};

// Splits decoded bytes. False when the first bytes are no record: a foreign
// file printed as if it were a log would only mislead.
bool SplitLogEntries(const std::string& strDecoded, std::vector<LogEntry>& entries);

// True when the bytes look like a log that was already decoded.
bool LooksDecoded(const std::string& strRaw);

// 0 to 6 for "TRACE" ... "UNKNOWN" (any case, brackets optional) or a digit;
// -1 otherwise.
int LogLevelNumber(const std::wstring& strName);

// A prefix of a record's time stamp, at least the date: "2026-01-02",
// "2026-01-02 03:04", "2026-01-02 03:04:05.6".
bool IsLogTimePrefix(const std::string& strTime);

struct LogFilter {
    int nMinLevel = -1;    // -1: every level
    std::string strSince;  // time prefixes; empty: open
    std::string strUntil;
    bool IsEmpty() const { return nMinLevel < 0 && strSince.empty() && strUntil.empty(); }
    bool Accepts(const LogEntry& entry) const;
};

// The backups "<log>.N" beside the log, oldest first. Rotation fills the
// lowest free number, so after one was deleted by hand the numbers no longer
// follow time: the first record's time decides, then the number.
struct LogBackup {
    std::wstring strPath;
    int nNumber = 0;
    std::string strFirstTime;  // the first 23 decoded bytes
};
std::vector<std::wstring> OrderLogBackups(std::vector<LogBackup> backups);

// "summary: N records, run start T, outcome O, last error E" with CR LF, in
// UTF-16; the entries' text is converted with nCodePage.
std::wstring LogSummaryLine(const std::vector<LogEntry>& entries, UINT nCodePage);

// ANSI text of the log to UTF-16.
std::wstring LogTextToWide(const std::string& strText, UINT nCodePage);
