// The process-wide diagnostic log: nibble-swapped ANSI records, appended one
// open-write-close at a time, rotated into numbered backups above the limit.
#pragma once

#include <windows.h>

#include <string>

#include "log/LogPlace.h"

enum LogLevel {
    LOGLEVEL_TRACE = 0,
    LOGLEVEL_DEBUG = 1,
    LOGLEVEL_INFO = 2,
    LOGLEVEL_WARN = 3,
    LOGLEVEL_ERROR = 4,
    LOGLEVEL_FATAL = 5,
    LOGLEVEL_UNKNOWN = 6,
};

class CLog {
public:
    static CLog* GetInstance();

    // 0, or -1 for a null path (nothing changes then). Undoes ConfineTo and
    // Refuse: they held for the old path.
    int Init(LPCWSTR pszPath, int nLevel, int nMaxSizeMB);
    // Never fails visibly; a record below the threshold is dropped.
    void Log(int nLevel, LPCWSTR pszFile, int nLine, LPCWSTR pszFunction, LPCWSTR pszFormat, ...);
    std::wstring GetLogFilePath();
    // Records go only to a file of the log's own (see win/OwnFile.h) whose
    // final path lies in this folder, given as its final path; a file found
    // otherwise ends the log for the run. Empty: the folder is not compared.
    void ConfineTo(const std::wstring& strOwnFolder);
    // No record is written from now on; the run goes on without a log.
    void Refuse(LPCWSTR pszWhy);

    int GetLevel() const { return m_nLevel; }

private:
    CLog();
    void WriteFormat(LPCWSTR pszFormat, ...);
    // strRecord: the record's ANSI text with its terminating zero.
    void WriteToFile(const std::string& strRecord);
    void RollFile();
    std::wstring BackupName(const std::wstring& strPath, int nIndex) const;

    int m_nLevel;
    int m_nMaxSizeMB;
    int m_bRollByIndex;
    int m_nMaxIndex;
    std::wstring m_strLogFile;
    std::wstring m_strOwnFolder;
    bool m_bRefused = false;
    // Records that met the file in use, kept in order for the next record
    // that gets through, and how many did not fit.
    std::string m_strWaiting;
    int m_nWaiting = 0;
    int m_nLost = 0;
    // The last record gave up on a file in use: the next ones try once
    // only, so that a long hold does not slow every record of the run.
    bool m_bHeld = false;
    CRITICAL_SECTION m_csLock;
};

// Every byte of the file is stored with its two 4-bit halves swapped; the
// same swap turns the file back into text.
inline void SwapLogNibbles(char* pData, size_t nLength)
{
    for (size_t i = 0; i < nLength; ++i) {
        const unsigned char b = static_cast<unsigned char>(pData[i]);
        pData[i] = static_cast<char>(((b & 0x0F) << 4) | (b >> 4));
    }
}

// The source name written into records: ".\" and the file's base name without
// extension, as the client's own logs show it.
LPCWSTR LogSourceName(const char* pszFile);

// Every call site of the program logs at level 2 and names its qualified
// function ("CUpgradeDlgDUI::OnCopyData"), which the compiler does not give.
#define LOG_INFO(function, format, ...) \
    CLog::GetInstance()->Log(LOGLEVEL_INFO, LogSourceName(__FILE__), __LINE__, function, format, ##__VA_ARGS__)
// Failures the program adds for support: a warning when the upgrade can go on
// or be retried by the next order, an error when this run's upgrade is lost.
// They too are level-2 records, so that the client's LogLevel 3 to 5 still
// silences the whole log; the severity leads the text ("warning: ...",
// "error: ..."), where the decoders find it.
#define LOG_AT(severity, function, format, ...)                                                        \
    CLog::GetInstance()->Log(LOGLEVEL_INFO, LogSourceName(__FILE__), __LINE__, function, L"%s" format, \
                             LogSeverityPrefix(severity), ##__VA_ARGS__)
#define LOG_WARN(function, format, ...) LOG_AT(LOGLEVEL_WARN, function, format, ##__VA_ARGS__)
#define LOG_ERROR(function, format, ...) LOG_AT(LOGLEVEL_ERROR, function, format, ##__VA_ARGS__)

// The words that lead a record's text for a severity above INFO: "warning: "
// for LOGLEVEL_WARN, "error: " for LOGLEVEL_ERROR and above, "" otherwise.
LPCWSTR LogSeverityPrefix(int nSeverity);

// Configures the log under the documents folder with the level from the
// client's config.ini; false when the log cannot be configured.
// A log folder that a link or junction sends elsewhere, or a log file that
// is not the log's own, means no log for the run; InitLog still succeeds.
bool InitLog();
// Creates the log's folder "<app dir>\log\Upgrade" one level at a time
// from the documents folder down, each level only inside one that proved to
// be where its path says; returns its final path, or empty when a level
// leads elsewhere or cannot be made. The documents folder itself may be
// redirected anywhere, so the comparison starts below it.
std::wstring PrepareLogFolder(const std::wstring& strAppDir);
// "<Documents>\DazuvuVev", created when missing; empty when it cannot be.
std::wstring GetDocumentsAppDir();
bool CreateMultiLevelDir(const std::wstring& strPath);
// The client's config.ini keeps every setting the companion reads in one section.
constexpr WCHAR kClientConfigSection[] = L"APP";
bool GetConfigValue(LPCWSTR pszKey, LPCWSTR pszSection, std::wstring& strValue);
bool GetModuleDir(std::wstring& strDir);
