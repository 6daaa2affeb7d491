// DazuvuVevLogDecode [options] [LOGFILE]
// Prints the upgrade companion's log and its rotated backups, oldest first,
// as UTF-8 text (UTF-16 on a console), optionally filtered, and ends with one
// line per run of the companion and a one-line summary of the last run.
// --raw writes the decoded bytes of one file unchanged (ANSI text, zero byte
// after each record).
#include "tools/logdecode/LogDecode.h"
#include "tools/logdecode/LogPrint.h"
#include "tools/logdecode/LogReport.h"
#include "tools/logdecode/LogRuns.h"
#include "tools/console/ToolConsole.h"
#include "win/Handles.h"

#include <cwchar>
#include <string>
#include <vector>

namespace {

const WCHAR kUsage[] =
    L"Usage: DazuvuVevLogDecode [options] [LOGFILE]\r\n"
    L"  Prints the upgrade log and its backups LOGFILE.1 to .4, oldest first, as UTF-8,\r\n"
    L"  then one line per run of the companion (its outcome and last error) and a\r\n"
    L"  one-line summary of the last run. The level of each record shows its severity\r\n"
    L"  (the word that leads its text, warning: or error:, else its own level);\r\n"
    L"  control characters in the text are shown as \\r, \\n, \\t or \\xNN.\r\n"
    L"  LOGFILE       the log to read (default: Documents\\DazuvuVev\\log\\Upgrade\\Upgrade.log)\r\n"
    L"  -o FILE       write the text to FILE instead of printing it\r\n"
    L"  --level L     only records of severity L or above (TRACE DEBUG INFO WARN ERROR FATAL, 0-6)\r\n"
    L"  --since T     only records from time T on (2026-01-02[ 03[:04[:05]]]; T for the blank too)\r\n"
    L"  --until T     only records up to T (the whole minute for 2026-01-02 03:04)\r\n"
    L"  --no-backups  read only LOGFILE\r\n"
    L"  --codepage N  code page of the log's text (default: this machine's ANSI code page)\r\n"
    L"  --raw         write the decoded bytes of LOGFILE unchanged: no filter, no summary\r\n"
    L"Exit code 0 on success, 1 on a usage error or a file that cannot be read or is no log.\r\n";

int Fail(const std::wstring& strMessage)
{
    ToolWriteText(STD_ERROR_HANDLE, L"DazuvuVevLogDecode: " + strMessage + L"\r\n");
    return 1;
}

std::string Narrow(const std::wstring& str)
{
    std::string strNarrow;
    for (wchar_t ch : str)
        strNarrow += ch < 0x80 ? static_cast<char>(ch) : '?';
    return strNarrow;
}

// One file's entries; false with a message when it cannot be read or is no log.
bool ReadLogEntries(const std::wstring& strPath, std::string& strRaw, std::vector<LogEntry>& entries,
                    std::wstring& strError)
{
    if (!ReadWholeFile(strPath, strRaw, strError))
        return false;
    if (SplitLogEntries(DecodeLogBytes(strRaw), entries))
        return true;
    strError = LooksDecoded(strRaw) ? strPath + L" is already decoded text, not the log file itself"
                                    : strPath + L" is not an upgrade log (its first record cannot be read)";
    return false;
}

// The backups "<log>.N" beside the log, oldest first.
std::vector<std::wstring> FindBackups(const std::wstring& strLog)
{
    std::vector<LogBackup> backups;
    const size_t nSlash = strLog.find_last_of(L"\\/");
    const std::wstring strFolder = nSlash == std::wstring::npos ? std::wstring() : strLog.substr(0, nSlash + 1);
    const std::wstring strBase = strLog.substr(nSlash == std::wstring::npos ? 0 : nSlash + 1);
    WIN32_FIND_DATAW fd = {};
    CFindHandle hFind(FindFirstFileW((strLog + L".*").c_str(), &fd));
    if (!hFind)
        return std::vector<std::wstring>();
    do {
        const std::wstring strName = fd.cFileName;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        LogBackup backup;
        backup.strPath = strFolder + strName;
        backup.nNumber = LogBackupNumber(strName, strBase);
        if (backup.nNumber == 0)
            continue;
        std::string strRaw;
        std::wstring strIgnored;
        if (ReadWholeFile(backup.strPath, strRaw, strIgnored))
            backup.strFirstTime = DecodeLogBytes(strRaw.substr(0, 23));
        backups.push_back(backup);
    } while (FindNextFileW(hFind.Get(), &fd));
    return OrderLogBackups(backups);
}

struct DecodeOptions {
    std::wstring strInput;
    std::wstring strOutput;
    LogFilter filter;
    bool bNoBackups = false;
    bool bRaw = false;
    UINT nCodePage = CP_ACP;
};

// False with a message on a usage error; bHelp when only the usage is wanted.
bool ParseOptions(int argc, wchar_t** argv, DecodeOptions& options, bool& bHelp, std::wstring& strError)
{
    for (int i = 1; i < argc; ++i) {
        const std::wstring strArg = argv[i];
        const bool bHasValue = i + 1 < argc;
        if (strArg == L"-h" || strArg == L"--help" || strArg == L"/?") {
            bHelp = true;
            return true;
        }
        if (strArg == L"-o" || strArg == L"--level" || strArg == L"--since" || strArg == L"--until" ||
            strArg == L"--codepage") {
            if (!bHasValue) {
                strError = strArg + L" needs a value";
                return false;
            }
            std::wstring strValue = argv[++i];
            // An unquoted "--since 2026-01-02 03:04" arrives as two arguments.
            if ((strArg == L"--since" || strArg == L"--until") && i + 1 < argc && strValue.size() == 10 &&
                wcslen(argv[i + 1]) >= 5 && IsLogTimePrefix(Narrow(strValue + L" " + argv[i + 1])))
                strValue += std::wstring(L" ") + argv[++i];
            if (strArg == L"-o") {
                if (!options.strOutput.empty()) {
                    strError = L"-o needs one output file name";
                    return false;
                }
                options.strOutput = strValue;
            } else if (strArg == L"--level") {
                options.filter.nMinLevel = LogLevelNumber(strValue);
                if (options.filter.nMinLevel < 0) {
                    strError = L"unknown level " + strValue + L" (TRACE, DEBUG, INFO, WARN, ERROR, FATAL or 0 to 6)";
                    return false;
                }
            } else if (strArg == L"--codepage") {
                options.nCodePage = static_cast<UINT>(_wtoi(strValue.c_str()));
                CPINFO info = {};
                if (strValue.find_first_not_of(L"0123456789") != std::wstring::npos ||
                    !GetCPInfo(options.nCodePage, &info)) {
                    strError = L"unknown code page " + strValue;
                    return false;
                }
            } else {
                std::string strTime = Narrow(strValue);
                // "2026-01-02T03:04", as the state file's resulttime has it.
                if (strTime.size() > 10 && strTime[10] == 'T')
                    strTime[10] = ' ';
                if (!IsLogTimePrefix(strTime)) {
                    strError = strArg + L" takes a time like 2026-01-02 03:04:05, not " + strValue;
                    return false;
                }
                (strArg == L"--since" ? options.filter.strSince : options.filter.strUntil) = strTime;
            }
        } else if (strArg == L"--no-backups") {
            options.bNoBackups = true;
        } else if (strArg == L"--raw") {
            options.bRaw = true;
        } else if (strArg.size() > 1 && strArg[0] == L'-') {
            strError = L"unknown option " + strArg;
            return false;
        } else if (options.strInput.empty()) {
            options.strInput = strArg;
        } else {
            strError = L"only one log file may be given";
            return false;
        }
    }
    return true;
}

int Run(int argc, wchar_t** argv)
{
    DecodeOptions options;
    bool bHelp = false;
    std::wstring strError;
    if (!ParseOptions(argc, argv, options, bHelp, strError))
        return Fail(strError + L"\r\n" + kUsage);
    if (bHelp) {
        ToolWriteText(STD_OUTPUT_HANDLE, kUsage);
        return 0;
    }
    if (options.strInput.empty()) {
        options.strInput = DefaultLogDecodeInput();
        if (options.strInput.empty())
            return Fail(L"the documents folder is unknown; name the log file");
    }
    // Writing over the log would destroy the only copy of it.
    if (!options.strOutput.empty() && IsSameFile(options.strInput, options.strOutput))
        return Fail(L"the output file is the log itself: " + options.strOutput);

    std::string strData;
    if (options.bRaw) {
        // Only a log is decoded, even without a filter: the bytes of a
        // foreign file swapped would look like a damaged log.
        std::string strRaw;
        std::vector<LogEntry> entries;
        if (!ReadLogEntries(options.strInput, strRaw, entries, strError))
            return Fail(strError);
        strData = DecodeLogBytes(strRaw);
    } else {
        std::vector<std::wstring> files;
        if (!options.bNoBackups)
            files = FindBackups(options.strInput);
        files.push_back(options.strInput);
        std::vector<LogEntry> all;
        for (const std::wstring& strFile : files) {
            std::string strRaw;
            std::vector<LogEntry> entries;
            if (!ReadLogEntries(strFile, strRaw, entries, strError)) {
                if (strFile == options.strInput)
                    return Fail(strError);
                ToolWriteText(STD_ERROR_HANDLE, L"DazuvuVevLogDecode: skipped: " + strError + L"\r\n");
                continue;
            }
            all.insert(all.end(), entries.begin(), entries.end());
        }
        std::wstring strText;
        for (const LogEntry& entry : all) {
            if (options.filter.Accepts(entry))
                strText += PrintedLogEntry(entry, options.nCodePage);
        }
        strText += LogSummaryText(all, options.nCodePage);
        if (options.strOutput.empty()) {
            ToolWriteText(STD_OUTPUT_HANDLE, strText);
            return 0;
        }
        strData = WideToUtf8(strText);
    }

    if (options.strOutput.empty()) {
        HANDLE hOut = GetStdHandle(STD_OUTPUT_HANDLE);
        if (hOut != NULL && hOut != INVALID_HANDLE_VALUE)
            ToolWriteBytes(hOut, strData);
        return 0;
    }
    if (!WriteWholeFile(options.strOutput, strData, strError))
        return Fail(strError);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    try {
        return Run(argc, argv);
    } catch (...) {
        return Fail(L"out of memory");
    }
}
