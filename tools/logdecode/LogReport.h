// What support reads from the upgrade log: its records split out, each
// record's severity, the rotated backups put in time order and the filters by
// severity and time. Window-free, so the unit tests check the rules without
// starting the tool; tools/logdecode/logdecode.py follows the same rules and
// prints the same text byte for byte.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// One piece of a decoded log file: a record, or a stretch of damaged bytes
// (a torn end, foreign bytes) kept so that nothing is hidden from the
// reader. The texts are the file's ANSI bytes, unconverted.
struct LogEntry {
    bool bRecord = false;
    bool bFallback = false;  // the short record written when a record could not be built
    std::string strTime;     // "2026-01-02 03:04:05.678"
    std::string strLevel;    // the header's level: "[INFO]"
    std::string strThread;   // as written, digits with an optional '-'
    std::string strSource;
    std::string strFunction;
    std::string strLine;
    std::string strMessage;
    std::string strDamaged;  // a damaged stretch: its bytes, without the final terminator
};

// Splits decoded bytes in one pass: at each record terminator (zero byte,
// CR LF), then every piece against the record's layout with bounded fields.
// Neighbouring pieces that are no record form one damaged entry. False when
// the first bytes are no record: a foreign file printed as if it were a log
// would only mislead.
bool SplitLogEntries(const std::string& strDecoded, std::vector<LogEntry>& entries);

// True when the bytes look like a log that was already decoded.
bool LooksDecoded(const std::string& strRaw);

// 0 to 6 for "TRACE" ... "UNKNOWN" (any case, brackets optional) or a digit;
// -1 otherwise.
int LogLevelNumber(const std::wstring& strName);

// Every record of the companion is written at INFO; a failure's text starts
// with "warning: " or "error: ". Older logs carry the level in the header.
// A record's severity is that word when present, else its header's level:
// a level number as LogLevelNumber gives it (-1 for an unknown name).
int LogSeverity(const LogEntry& entry);
// The severity as a level name in brackets ("[WARN]"), or the header's own
// level when it names no known level.
std::string LogSeverityName(const LogEntry& entry);
// The message without its leading severity word.
std::string LogMessageWithoutSeverity(const LogEntry& entry);

// A prefix of a record's time stamp, at least the date: "2026-01-02",
// "2026-01-02 03:04", "2026-01-02 03:04:05.6".
bool IsLogTimePrefix(const std::string& strTime);

struct LogFilter {
    int nMinLevel = -1;    // -1: every severity
    std::string strSince;  // time prefixes; empty: open
    std::string strUntil;
    bool IsEmpty() const { return nMinLevel < 0 && strSince.empty() && strUntil.empty(); }
    bool Accepts(const LogEntry& entry) const;
};

// The backups "<log>.1" to "<log>.4" beside the log, as the log writes them,
// oldest first. Rotation fills the lowest free number, so after one was
// deleted by hand the numbers no longer follow time: the first record's time
// decides, then the number.
struct LogBackup {
    std::wstring strPath;
    int nNumber = 0;
    std::string strFirstTime;  // the first 23 decoded bytes
};
std::vector<std::wstring> OrderLogBackups(std::vector<LogBackup> backups);
// The backup number of a file name beside the log "strBase" (compared
// ignoring case, as the file system does): 1 to 4 for "<base>.1" to
// "<base>.4", 0 for any other name.
int LogBackupNumber(const std::wstring& strName, const std::wstring& strBase);

// ANSI text of the log to UTF-16. In code page 936, the users' one, a byte
// or byte pair the code page does not define comes out as "\xNN" per byte,
// as in the Python decoder; other code pages convert as the system does.
std::wstring LogTextToWide(const std::string& strText, UINT nCodePage);
