#include "tools/logdecode/LogReport.h"

#include <algorithm>

namespace {

const char* const kLevelNames[] = {"[TRACE]", "[DEBUG]", "[INFO]", "[WARN]", "[ERROR]", "[FATAL]", "[UNKNOWN]"};
const int kLevelWarn = 3;
// The record with which the companion's message loop ends in order.
const char kEndOfRun[] = "GetMessage QUIT!";
const char kDownloadState[] = "Receive WM_MSG_DOWNLOAD, t->iState=";
// Records of failures that older builds logged at INFO level.
const char* const kFailureWords[] = {"fail", "error", "refused", "cutdown", "is null", "not started", "istate=3"};
const size_t kMaxErrorChars = 200;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Digits, with a leading '-' allowed, and nothing else.
bool IsNumber(const std::string& str)
{
    const size_t nStart = (!str.empty() && str[0] == '-') ? 1 : 0;
    if (str.size() == nStart)
        return false;
    return std::all_of(str.begin() + nStart, str.end(), IsDigit);
}

// "dddd-dd-dd dd:dd:dd.ddd" as far as the text goes.
bool MatchesTimeShape(const std::string& str, size_t nLength)
{
    static const char kShape[] = "dddd-dd-dd dd:dd:dd.ddd";
    if (str.size() < nLength || nLength > sizeof(kShape) - 1)
        return false;
    for (size_t i = 0; i < nLength; ++i) {
        if (kShape[i] == 'd' ? !IsDigit(str[i]) : str[i] != kShape[i])
            return false;
    }
    return true;
}

// "TIME [LEVEL]\t" at the start; the rest follows it.
bool TakeTimeAndLevel(const std::string& strChunk, LogEntry& entry, size_t& nPos)
{
    if (!MatchesTimeShape(strChunk, 23) || strChunk.size() < 26 || strChunk[23] != ' ' || strChunk[24] != '[')
        return false;
    size_t nClose = 25;
    while (nClose < strChunk.size() && strChunk[nClose] >= 'A' && strChunk[nClose] <= 'Z')
        ++nClose;
    if (nClose == 25 || nClose + 1 >= strChunk.size() || strChunk[nClose] != ']' || strChunk[nClose + 1] != '\t')
        return false;
    entry.strTime = strChunk.substr(0, 23);
    entry.strLevel = strChunk.substr(24, nClose - 23);
    nPos = nClose + 2;
    return true;
}

// "TIME LEVEL\tThread[N]\tSOURCE\tFUNCTION: LINE :\r\nMESSAGE\r\n\r\n"
bool ParseRecord(const std::string& strChunk, LogEntry& entry)
{
    size_t nPos = 0;
    if (!TakeTimeAndLevel(strChunk, entry, nPos) || strChunk.compare(nPos, 7, "Thread[") != 0)
        return false;
    const size_t nThreadEnd = strChunk.find("]\t", nPos + 7);
    if (nThreadEnd == std::string::npos || !IsNumber(strChunk.substr(nPos + 7, nThreadEnd - nPos - 7)))
        return false;
    const size_t nSourceEnd = strChunk.find('\t', nThreadEnd + 2);
    const size_t nLineEnd = strChunk.find("\r\n", nThreadEnd + 2);
    if (nSourceEnd == std::string::npos || nLineEnd == std::string::npos || nSourceEnd > nLineEnd)
        return false;
    // "FUNCTION: LINE :" up to the end of the header line.
    const std::string strRest = strChunk.substr(nSourceEnd + 1, nLineEnd - nSourceEnd - 1);
    if (strRest.size() < 2 || strRest.compare(strRest.size() - 2, 2, " :") != 0)
        return false;
    const size_t nColon = strRest.rfind(": ", strRest.size() - 2);
    if (nColon == std::string::npos || !IsNumber(strRest.substr(nColon + 2, strRest.size() - 2 - nColon - 2)))
        return false;
    const size_t nMessage = nLineEnd + 2;
    if (strChunk.size() < nMessage + 4 || strChunk.compare(strChunk.size() - 4, 4, "\r\n\r\n") != 0)
        return false;
    entry.strFunction = strRest.substr(0, nColon);
    entry.strMessage = strChunk.substr(nMessage, strChunk.size() - 4 - nMessage);
    return true;
}

// The record written when a record could not be built:
// "TIME LEVEL\tTHREAD SOURCE:LINE \tFUNCTION:\tMESSAGE"
bool ParseFallbackRecord(const std::string& strChunk, LogEntry& entry)
{
    size_t nPos = 0;
    if (!TakeTimeAndLevel(strChunk, entry, nPos))
        return false;
    const size_t nSpace = strChunk.find(' ', nPos);
    if (nSpace == std::string::npos || !IsNumber(strChunk.substr(nPos, nSpace - nPos)))
        return false;
    const size_t nLineEnd = strChunk.find(" \t", nSpace + 1);
    if (nLineEnd == std::string::npos)
        return false;
    const std::string strSourceLine = strChunk.substr(nSpace + 1, nLineEnd - nSpace - 1);
    const size_t nColon = strSourceLine.find(':');
    if (nColon == std::string::npos || strSourceLine.find('\t') != std::string::npos ||
        !IsNumber(strSourceLine.substr(nColon + 1)))
        return false;
    const size_t nFunctionEnd = strChunk.find(":\t", nLineEnd + 2);
    if (nFunctionEnd == std::string::npos || strChunk.find('\t', nLineEnd + 2) < nFunctionEnd + 1)
        return false;
    entry.strFunction = strChunk.substr(nLineEnd + 2, nFunctionEnd - nLineEnd - 2);
    entry.strMessage = strChunk.substr(nFunctionEnd + 2);
    return true;
}

std::string AsciiLower(std::string str)
{
    for (char& c : str) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return str;
}

std::wstring OneLine(const std::wstring& strText)
{
    std::wstring strLine;
    for (size_t i = 0; i < strText.size(); ++i) {
        if (strText[i] == L'\r' && i + 1 < strText.size() && strText[i + 1] == L'\n')
            continue;
        strLine += (strText[i] == L'\r' || strText[i] == L'\n') ? L' ' : strText[i];
    }
    const size_t nFirst = strLine.find_first_not_of(L" \t");
    const size_t nLast = strLine.find_last_not_of(L" \t");
    strLine = nFirst == std::wstring::npos ? std::wstring() : strLine.substr(nFirst, nLast - nFirst + 1);
    if (strLine.size() > kMaxErrorChars)
        strLine = strLine.substr(0, kMaxErrorChars) + L"...";
    return strLine;
}

std::wstring AsciiWide(const std::string& str)
{
    return std::wstring(str.begin(), str.end());
}

}  // namespace

bool SplitLogEntries(const std::string& strDecoded, std::vector<LogEntry>& entries)
{
    entries.clear();
    size_t nPos = 0;
    while (nPos < strDecoded.size()) {
        const size_t nEnd = strDecoded.find(std::string("\0\r\n", 3), nPos);
        const std::string strChunk =
            strDecoded.substr(nPos, nEnd == std::string::npos ? std::string::npos : nEnd - nPos);
        LogEntry entry;
        entry.bRecord = ParseRecord(strChunk, entry);
        if (!entry.bRecord) {
            entry = LogEntry();
            entry.bRecord = ParseFallbackRecord(strChunk, entry);
        }
        if (!entry.bRecord) {
            if (nPos == 0)
                return false;
            entry = LogEntry();
        }
        for (char c : strChunk) {
            if (c != '\0')
                entry.strText += c;
        }
        if (nEnd != std::string::npos)
            entry.strText += "\r\n";
        entries.push_back(entry);
        nPos = nEnd == std::string::npos ? strDecoded.size() : nEnd + 3;
    }
    return true;
}

bool LooksDecoded(const std::string& strRaw)
{
    return MatchesTimeShape(strRaw, 23) && strRaw.size() > 24 && strRaw[23] == ' ' && strRaw[24] == '[';
}

int LogLevelNumber(const std::wstring& strName)
{
    std::string strUpper;
    for (wchar_t ch : strName) {
        if (ch > 0x7F)
            return -1;
        strUpper += static_cast<char>(ch >= L'a' && ch <= L'z' ? ch - L'a' + L'A' : ch);
    }
    const size_t nFirst = strUpper.find_first_not_of(" []");
    const size_t nLast = strUpper.find_last_not_of(" []");
    if (nFirst == std::string::npos)
        return -1;
    const std::string strBare = strUpper.substr(nFirst, nLast - nFirst + 1);
    if (strBare.size() == 1 && strBare[0] >= '0' && strBare[0] <= '6')
        return strBare[0] - '0';
    for (int n = 0; n < 7; ++n) {
        if ("[" + strBare + "]" == kLevelNames[n])
            return n;
    }
    return -1;
}

bool IsLogTimePrefix(const std::string& strTime)
{
    // Whole fields only, like the Python decoder: date, hour, minute, second,
    // then one to three digits of the milliseconds.
    const size_t n = strTime.size();
    const bool bLength = n == 10 || n == 13 || n == 16 || n == 19 || (n >= 21 && n <= 23);
    return bLength && MatchesTimeShape(strTime, n);
}

bool LogFilter::Accepts(const LogEntry& entry) const
{
    if (IsEmpty())
        return true;
    if (!entry.bRecord)
        return false;
    if (nMinLevel >= 0) {
        const int nLevel = LogLevelNumber(AsciiWide(entry.strLevel));
        if (nLevel < 0 || nLevel < nMinLevel)
            return false;
    }
    if (!strSince.empty() && entry.strTime.compare(0, strSince.size(), strSince) < 0)
        return false;
    if (!strUntil.empty() && entry.strTime.compare(0, strUntil.size(), strUntil) > 0)
        return false;
    return true;
}

std::vector<std::wstring> OrderLogBackups(std::vector<LogBackup> backups)
{
    std::sort(backups.begin(), backups.end(), [](const LogBackup& a, const LogBackup& b) {
        if (a.strFirstTime != b.strFirstTime)
            return a.strFirstTime < b.strFirstTime;
        return a.nNumber < b.nNumber;
    });
    std::vector<std::wstring> paths;
    for (const LogBackup& backup : backups)
        paths.push_back(backup.strPath);
    return paths;
}

std::wstring LogSummaryLine(const std::vector<LogEntry>& entries, UINT nCodePage)
{
    std::vector<const LogEntry*> records;
    for (const LogEntry& entry : entries) {
        if (entry.bRecord)
            records.push_back(&entry);
    }
    const size_t nDamaged = entries.size() - records.size();
    std::wstring strLine;
    if (records.empty()) {
        strLine = L"summary: no records";
    } else {
        // The last run: after the previous orderly end, up to the end of the
        // log; a log that ends with an orderly end closes the last run there.
        std::vector<size_t> ends;
        for (size_t i = 0; i < records.size(); ++i) {
            if (records[i]->strMessage == kEndOfRun)
                ends.push_back(i);
        }
        size_t nStart = 0;
        if (!ends.empty()) {
            if (ends.back() + 1 < records.size())
                nStart = ends.back() + 1;
            else if (ends.size() > 1)
                nStart = ends[ends.size() - 2] + 1;
        }
        int nLastState = -1;
        const LogEntry* pError = NULL;
        const LogEntry* pFailureWord = NULL;
        for (size_t i = nStart; i < records.size(); ++i) {
            const LogEntry& record = *records[i];
            if (record.strMessage.compare(0, sizeof(kDownloadState) - 1, kDownloadState) == 0) {
                const std::string strState = record.strMessage.substr(sizeof(kDownloadState) - 1);
                const size_t nDigits = strState.find_first_not_of("-0123456789");
                const std::string strNumber = strState.substr(0, nDigits);
                if (IsNumber(strNumber))
                    nLastState = atoi(strNumber.c_str());
            }
            if (LogLevelNumber(AsciiWide(record.strLevel)) >= kLevelWarn)
                pError = &record;
            const std::string strLower = AsciiLower(record.strMessage);
            for (const char* pszWord : kFailureWords) {
                if (strLower.find(pszWord) != std::string::npos) {
                    pFailureWord = &record;
                    break;
                }
            }
        }
        if (pError == NULL)
            pError = pFailureWord;

        std::wstring strOutcome;
        if (nLastState == 2)
            strOutcome = L"download complete, ";
        else if (nLastState == 3)
            strOutcome = L"download failed, ";
        strOutcome +=
            records.back()->strMessage == kEndOfRun ? L"ended in order" : L"no orderly end (still running or stopped)";
        std::wstring strError = L"none";
        if (pError != NULL) {
            strError = AsciiWide(pError->strTime) + L" " + AsciiWide(pError->strLevel) + L" " +
                       LogTextToWide(pError->strFunction, nCodePage) + L": " +
                       OneLine(LogTextToWide(pError->strMessage, nCodePage));
        }
        strLine = L"summary: " + std::to_wstring(records.size()) + L" records, run start " +
                  AsciiWide(records[nStart]->strTime) + L", outcome " + strOutcome + L", last error " + strError;
    }
    if (nDamaged != 0)
        strLine += L", " + std::to_wstring(nDamaged) + L" damaged";
    return strLine + L"\r\n";
}

std::wstring LogTextToWide(const std::string& strText, UINT nCodePage)
{
    if (strText.empty())
        return std::wstring();
    const int nChars = MultiByteToWideChar(nCodePage, 0, strText.data(), static_cast<int>(strText.size()), NULL, 0);
    if (nChars <= 0)
        return std::wstring();
    std::wstring strWide(static_cast<size_t>(nChars), L'\0');
    MultiByteToWideChar(nCodePage, 0, strText.data(), static_cast<int>(strText.size()), &strWide[0], nChars);
    return strWide;
}
