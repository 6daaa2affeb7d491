#include "tools/logdecode/LogReport.h"

#include <algorithm>
#include <vector>

namespace {

const char* const kLevelNames[] = {"[TRACE]", "[DEBUG]", "[INFO]", "[WARN]", "[ERROR]", "[FATAL]", "[UNKNOWN]"};
const int kLevelWarn = 3;
const int kLevelError = 4;
const char kWarningWord[] = "warning: ";
const char kErrorWord[] = "error: ";
const char kTerminator[] = {'\0', '\r', '\n'};
// Every field is bounded, so that no piece of a log, however crafted, costs
// more than one look at each of its bytes.
const size_t kMaxDigits = 10;
const size_t kMaxLevelLetters = 10;
// The users' code page, which both decoders read the same way.
const UINT kGbkCodePage = 936;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool StartsWith(const std::string& str, const char* pszPrefix, size_t nPrefix)
{
    return str.size() >= nPrefix && str.compare(0, nPrefix, pszPrefix, nPrefix) == 0;
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

// An optional '-' and 1 to kMaxDigits digits at nPos, followed by cEnd:
// nPos moves past cEnd.
bool TakeNumber(const std::string& str, size_t& nPos, char cEnd, std::string& strNumber)
{
    size_t n = nPos;
    if (n < str.size() && str[n] == '-')
        ++n;
    const size_t nDigits = n;
    while (n < str.size() && n - nDigits < kMaxDigits && IsDigit(str[n]))
        ++n;
    if (n == nDigits || n >= str.size() || str[n] != cEnd)
        return false;
    strNumber = str.substr(nPos, n - nPos);
    nPos = n + 1;
    return true;
}

// "TIME [LEVEL]\t" at the start; the rest follows it.
bool TakeTimeAndLevel(const std::string& strChunk, LogEntry& entry, size_t& nPos)
{
    if (!MatchesTimeShape(strChunk, 23) || strChunk.size() < 26 || strChunk[23] != ' ' || strChunk[24] != '[')
        return false;
    size_t nClose = 25;
    while (nClose < strChunk.size() && nClose - 25 < kMaxLevelLetters && strChunk[nClose] >= 'A' &&
           strChunk[nClose] <= 'Z')
        ++nClose;
    if (nClose == 25 || nClose + 1 >= strChunk.size() || strChunk[nClose] != ']' || strChunk[nClose + 1] != '\t')
        return false;
    entry.strTime = strChunk.substr(0, 23);
    entry.strLevel = strChunk.substr(24, nClose - 23);
    nPos = nClose + 2;
    return true;
}

// "TIME [LEVEL]\tThread[N]\tSOURCE\tFUNCTION: LINE :\r\nMESSAGE\r\n\r\n"
bool ParseRecord(const std::string& strChunk, LogEntry& entry)
{
    size_t nPos = 0;
    if (!TakeTimeAndLevel(strChunk, entry, nPos) || strChunk.compare(nPos, 7, "Thread[") != 0)
        return false;
    nPos += 7;
    if (!TakeNumber(strChunk, nPos, ']', entry.strThread) || nPos >= strChunk.size() || strChunk[nPos] != '\t')
        return false;
    ++nPos;
    const size_t nLineEnd = strChunk.find("\r\n", nPos);
    const size_t nSourceEnd = strChunk.find('\t', nPos);
    if (nLineEnd == std::string::npos || nSourceEnd == std::string::npos || nSourceEnd > nLineEnd)
        return false;
    // "FUNCTION: LINE :" up to the end of the header line, read from its end.
    const size_t nRest = nSourceEnd + 1;
    if (nLineEnd < nRest + 2 || strChunk.compare(nLineEnd - 2, 2, " :") != 0)
        return false;
    size_t nDigits = nLineEnd - 2;
    while (nDigits > nRest && nLineEnd - 2 - nDigits < kMaxDigits && IsDigit(strChunk[nDigits - 1]))
        --nDigits;
    if (nDigits == nLineEnd - 2)
        return false;
    size_t nNumber = nDigits;
    if (nNumber > nRest && strChunk[nNumber - 1] == '-')
        --nNumber;
    if (nNumber < nRest + 2 || strChunk.compare(nNumber - 2, 2, ": ") != 0)
        return false;
    const size_t nMessage = nLineEnd + 2;
    if (strChunk.size() < nMessage + 4 || strChunk.compare(strChunk.size() - 4, 4, "\r\n\r\n") != 0)
        return false;
    entry.strSource = strChunk.substr(nPos, nSourceEnd - nPos);
    entry.strFunction = strChunk.substr(nRest, nNumber - 2 - nRest);
    entry.strLine = strChunk.substr(nNumber, nLineEnd - 2 - nNumber);
    entry.strMessage = strChunk.substr(nMessage, strChunk.size() - 4 - nMessage);
    return true;
}

// The record written when a record could not be built:
// "TIME [LEVEL]\tTHREAD SOURCE:LINE \tFUNCTION:\tMESSAGE"
bool ParseFallbackRecord(const std::string& strChunk, LogEntry& entry)
{
    size_t nPos = 0;
    if (!TakeTimeAndLevel(strChunk, entry, nPos) || !TakeNumber(strChunk, nPos, ' ', entry.strThread))
        return false;
    const size_t nColon = strChunk.find_first_of(":\t", nPos);
    if (nColon == std::string::npos || strChunk[nColon] != ':')
        return false;
    entry.strSource = strChunk.substr(nPos, nColon - nPos);
    nPos = nColon + 1;
    if (!TakeNumber(strChunk, nPos, ' ', entry.strLine) || nPos >= strChunk.size() || strChunk[nPos] != '\t')
        return false;
    const size_t nFunction = nPos + 1;
    const size_t nTab = strChunk.find('\t', nFunction);
    if (nTab == std::string::npos || nTab == nFunction || strChunk[nTab - 1] != ':')
        return false;
    entry.strFunction = strChunk.substr(nFunction, nTab - 1 - nFunction);
    entry.strMessage = strChunk.substr(nTab + 1);
    entry.bFallback = true;
    return true;
}

void AppendByteEscape(std::wstring& strOut, unsigned char b)
{
    static const wchar_t kHex[] = L"0123456789abcdef";
    strOut += L"\\x";
    strOut += kHex[b >> 4];
    strOut += kHex[b & 15];
}

// The character of a lead and trail byte pair of code page 936, or 0 when
// the code page does not define it. The system's tables fill the
// user-defined areas with private-use characters, which mean nothing to a
// reader and which other tables leave undefined: those count as undefined.
wchar_t GbkPairChar(unsigned char bLead, unsigned char bTrail)
{
    static std::vector<wchar_t> s_table;  // 0: not looked up yet; 0xFFFF: undefined
    if (s_table.empty())
        s_table.assign(0x8000, 0);
    wchar_t& ch = s_table[((bLead - 0x80) << 8) | bTrail];
    if (ch == 0) {
        const char acPair[2] = {static_cast<char>(bLead), static_cast<char>(bTrail)};
        wchar_t awc[2] = {};
        const int n = MultiByteToWideChar(kGbkCodePage, MB_ERR_INVALID_CHARS, acPair, 2, awc, 2);
        ch = n == 1 && (awc[0] < 0xE000 || awc[0] > 0xF8FF) ? awc[0] : 0xFFFF;
    }
    return ch == 0xFFFF ? 0 : ch;
}

// Code page 936 read unit by unit: an ASCII byte, or a lead byte (0x81 to
// 0xFE) with its trail byte (0x40 to 0xFE but 0x7F). A byte or pair the code
// page does not define is shown as "\xNN", the same in every decoder, where
// a converter would substitute a character of its own choice.
std::wstring GbkTextToWide(const std::string& strText)
{
    std::wstring strOut;
    strOut.reserve(strText.size());
    for (size_t i = 0; i < strText.size();) {
        const unsigned char b = static_cast<unsigned char>(strText[i]);
        if (b < 0x80) {
            strOut += static_cast<wchar_t>(b);
            ++i;
            continue;
        }
        const unsigned char t = i + 1 < strText.size() ? static_cast<unsigned char>(strText[i + 1]) : 0;
        if (b >= 0x81 && b <= 0xFE && t >= 0x40 && t <= 0xFE && t != 0x7F) {
            const wchar_t ch = GbkPairChar(b, t);
            if (ch != 0) {
                strOut += ch;
            } else {
                AppendByteEscape(strOut, b);
                AppendByteEscape(strOut, t);
            }
            i += 2;
            continue;
        }
        AppendByteEscape(strOut, b);
        ++i;
    }
    return strOut;
}

}  // namespace

bool SplitLogEntries(const std::string& strDecoded, std::vector<LogEntry>& entries)
{
    entries.clear();
    size_t nPos = 0;
    size_t nDamagedStart = std::string::npos;  // where the current damaged stretch began
    size_t nDamagedEnd = 0;                    // and the end of its last piece
    auto closeDamaged = [&]() {
        if (nDamagedStart == std::string::npos)
            return;
        LogEntry damaged;
        damaged.strDamaged = strDecoded.substr(nDamagedStart, nDamagedEnd - nDamagedStart);
        entries.push_back(damaged);
        nDamagedStart = std::string::npos;
    };
    while (nPos < strDecoded.size()) {
        const size_t nFound = strDecoded.find(kTerminator, nPos, sizeof(kTerminator));
        const size_t nEnd = nFound == std::string::npos ? strDecoded.size() : nFound;
        const std::string strChunk = strDecoded.substr(nPos, nEnd - nPos);
        LogEntry entry;
        entry.bRecord = ParseRecord(strChunk, entry);
        if (!entry.bRecord) {
            entry = LogEntry();
            entry.bRecord = ParseFallbackRecord(strChunk, entry);
        }
        if (entry.bRecord) {
            closeDamaged();
            entries.push_back(entry);
        } else {
            if (nPos == 0)
                return false;
            if (nDamagedStart == std::string::npos)
                nDamagedStart = nPos;
            nDamagedEnd = nEnd;
        }
        nPos = nFound == std::string::npos ? strDecoded.size() : nFound + sizeof(kTerminator);
    }
    closeDamaged();
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

int LogSeverity(const LogEntry& entry)
{
    if (StartsWith(entry.strMessage, kWarningWord, sizeof(kWarningWord) - 1))
        return kLevelWarn;
    if (StartsWith(entry.strMessage, kErrorWord, sizeof(kErrorWord) - 1))
        return kLevelError;
    for (int n = 0; n < 7; ++n) {
        if (entry.strLevel == kLevelNames[n])
            return n;
    }
    return -1;
}

std::string LogSeverityName(const LogEntry& entry)
{
    const int nSeverity = LogSeverity(entry);
    return nSeverity < 0 ? entry.strLevel : kLevelNames[nSeverity];
}

std::string LogMessageWithoutSeverity(const LogEntry& entry)
{
    if (StartsWith(entry.strMessage, kWarningWord, sizeof(kWarningWord) - 1))
        return entry.strMessage.substr(sizeof(kWarningWord) - 1);
    if (StartsWith(entry.strMessage, kErrorWord, sizeof(kErrorWord) - 1))
        return entry.strMessage.substr(sizeof(kErrorWord) - 1);
    return entry.strMessage;
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
        const int nSeverity = LogSeverity(entry);
        if (nSeverity < 0 || nSeverity < nMinLevel)
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

int LogBackupNumber(const std::wstring& strName, const std::wstring& strBase)
{
    // Exactly one ASCII digit from 1 to 4: the log writes no other suffix,
    // and a wider notion of a digit ("²") names no backup.
    if (strName.size() != strBase.size() + 2 || strName[strBase.size()] != L'.')
        return 0;
    const wchar_t ch = strName[strBase.size() + 1];
    if (ch < L'1' || ch > L'4')
        return 0;
    if (CompareStringOrdinal(strName.c_str(), static_cast<int>(strBase.size()), strBase.c_str(),
                             static_cast<int>(strBase.size()), TRUE /* ignore case */) != CSTR_EQUAL)
        return 0;
    return ch - L'0';
}

std::wstring LogTextToWide(const std::string& strText, UINT nCodePage)
{
    if ((nCodePage == CP_ACP ? GetACP() : nCodePage) == kGbkCodePage)
        return GbkTextToWide(strText);
    if (strText.empty())
        return std::wstring();
    const int nChars = MultiByteToWideChar(nCodePage, 0, strText.data(), static_cast<int>(strText.size()), NULL, 0);
    if (nChars <= 0)
        return std::wstring();
    std::wstring strWide(static_cast<size_t>(nChars), L'\0');
    MultiByteToWideChar(nCodePage, 0, strText.data(), static_cast<int>(strText.size()), &strWide[0], nChars);
    return strWide;
}
