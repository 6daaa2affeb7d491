#include "tools/logdecode/LogRuns.h"

#include "tools/logdecode/ErrorNames.h"
#include "tools/logdecode/LogPrint.h"

#include <algorithm>
#include <cstring>

namespace {

const char kBannerStart[] = "DazuvuVevUpgrade ";
const char kBannerMark[] = " started, command line: ";
const size_t kMaxVersionChars = 64;
const char kEndsWord[] = "upgrade ends: ";
// The record with which the companion's message loop ends in order.
const char kEndOfLoop[] = "GetMessage QUIT!";
// What the record that ends a run in order names, first after its prefix.
const char* const kResults[] = {"setup-started", "user-declined",   "hidden",           "ready-waiting",
                                "held-waiting",  "download-failed", "digest-mismatch",  "network-lost",
                                "refused",       "superseded",      "signature-refused", "could-not-check",
                                "start-failed"};
// The endings in which the upgrade went through or waits for the client: a
// failure before them was overcome.
const char* const kRecoveredResults[] = {"setup-started", "user-declined", "hidden", "ready-waiting", "held-waiting"};
const wchar_t kRecoveredMark[] = L" (recovered)";
// "order accepted: mode M, type T, version V, size S, MD5 D, URL U"
const char kOrderWord[] = "order accepted: ";
const char kOrderVersion[] = ", version ";
const char kOrderSize[] = ", size ";
const char kOrderUrl[] = ", URL ";
const size_t kMaxUrlChars = 120;
const int kLevelWarn = 3;
const size_t kMaxErrorChars = 200;
const size_t kMaxRunErrorChars = 80;
const size_t kMaxReasonChars = 120;

bool StartsWith(const std::string& str, const char* pszPrefix)
{
    const size_t n = strlen(pszPrefix);
    return str.size() >= n && str.compare(0, n, pszPrefix) == 0;
}

// The version of a start banner; false for any other record.
bool IsBanner(const LogEntry& record, std::string& strVersion)
{
    const std::string& strMessage = record.strMessage;
    const size_t nStart = sizeof(kBannerStart) - 1;
    if (!StartsWith(strMessage, kBannerStart))
        return false;
    // Looked for only where a version can end, so that a long record costs
    // no more than a short one.
    const size_t nWindow = std::min(strMessage.size(), nStart + kMaxVersionChars + sizeof(kBannerMark) - 1);
    const std::string strHead = strMessage.substr(0, nWindow);
    const size_t nMark = strHead.find(kBannerMark, nStart);
    if (nMark == std::string::npos)
        return false;
    strVersion = strMessage.substr(nStart, nMark - nStart);
    return true;
}

std::wstring Ascii(const std::string& str)
{
    return std::wstring(str.begin(), str.end());
}

std::wstring MessageOf(const LogEntry& record, UINT nCodePage)
{
    return LogTextToWide(LogMessageWithoutSeverity(record), nCodePage);
}

// The gist of a failure record's numbers, or its text in one short line.
std::wstring RunErrorText(const LogEntry& record, UINT nCodePage)
{
    const std::wstring strMessage = MessageOf(record, nCodePage);
    const std::wstring strGist = ErrorGist(strMessage);
    return strGist.empty() ? OneLineText(strMessage, kMaxRunErrorChars) : strGist;
}

std::wstring LastErrorText(const LogEntry& record, UINT nCodePage)
{
    const std::wstring strMessage = MessageOf(record, nCodePage);
    const std::wstring strGist = ErrorGist(strMessage);
    // A signature's gist is the record's own text with the status's bits
    // named: only what follows the status comes after it, not the text again.
    std::wstring strText;
    if (!SignatureGist(strMessage).empty())
        strText = strGist + OneLineText(SignatureRest(strMessage), kMaxErrorChars);
    else
        strText = (strGist.empty() ? std::wstring() : strGist + L"; ") + OneLineText(strMessage, kMaxErrorChars);
    return Ascii(record.strTime) + L" " + Ascii(LogSeverityName(record)) + L" " +
           OneLineText(LogTextToWide(record.strFunction, nCodePage), kMaxErrorChars) + L": " + strText;
}

// The run's result word, or NULL.
const char* RunResult(const LogRun& run)
{
    if (run.pEnds == nullptr)
        return nullptr;
    const std::string strRest = LogMessageWithoutSeverity(*run.pEnds).substr(sizeof(kEndsWord) - 1);
    for (const char* pszResult : kResults) {
        if (strRest == pszResult || StartsWith(strRest, (std::string(pszResult) + ": ").c_str()))
            return pszResult;
    }
    return nullptr;
}

std::wstring RecoveredMark(const LogRun& run)
{
    const char* pszResult = RunResult(run);
    for (const char* pszRecovered : kRecoveredResults) {
        if (pszResult != nullptr && strcmp(pszResult, pszRecovered) == 0)
            return kRecoveredMark;
    }
    return std::wstring();
}

// ", version V, URL U" of the run's accepted order; empty without one.
std::wstring OrderText(const LogRun& run, UINT nCodePage)
{
    if (run.pOrder == nullptr)
        return std::wstring();
    const std::string strRest = LogMessageWithoutSeverity(*run.pOrder).substr(sizeof(kOrderWord) - 1);
    const size_t nVersion = strRest.find(kOrderVersion);
    const size_t nSize = nVersion == std::string::npos ? std::string::npos
                                                       : strRest.find(kOrderSize, nVersion + sizeof(kOrderVersion) - 1);
    const size_t nUrl = nSize == std::string::npos ? std::string::npos : strRest.find(kOrderUrl, nSize);
    if (nUrl == std::string::npos)
        return std::wstring();
    const size_t nVersionStart = nVersion + sizeof(kOrderVersion) - 1;
    return L", version " +
           OneLineText(LogTextToWide(strRest.substr(nVersionStart, nSize - nVersionStart), nCodePage),
                       kMaxVersionChars) +
           L", URL " +
           OneLineText(LogTextToWide(strRest.substr(nUrl + sizeof(kOrderUrl) - 1), nCodePage), kMaxUrlChars);
}

}  // namespace

std::vector<LogRun> SplitLogRuns(const std::vector<const LogEntry*>& records)
{
    std::vector<LogRun> runs;
    bool bBannerSeen = false;
    for (size_t i = 0; i < records.size(); ++i) {
        const LogEntry& record = *records[i];
        std::string strVersion;
        const bool bBanner = IsBanner(record, strVersion);
        const bool bAfterLoopEnd = !bBannerSeen && i > 0 && records[i - 1]->strMessage == kEndOfLoop;
        if (runs.empty() || bBanner || bAfterLoopEnd) {
            LogRun run;
            run.nFirst = i;
            run.strVersion = strVersion;
            runs.push_back(run);
        }
        bBannerSeen = bBannerSeen || bBanner;
        LogRun& run = runs.back();
        run.nEnd = i + 1;
        // The record that ends the run is its outcome, not its last error.
        if (StartsWith(LogMessageWithoutSeverity(record), kEndsWord)) {
            if (run.pEnds == nullptr)
                run.pEnds = &record;
        } else if (LogSeverity(record) >= kLevelWarn) {
            run.pLastError = &record;
        } else if (StartsWith(LogMessageWithoutSeverity(record), kOrderWord)) {
            run.pOrder = &record;
        }
        if (record.strMessage == kEndOfLoop)
            run.bQuit = true;
    }
    return runs;
}

std::wstring LogRunOutcome(const LogRun& run, UINT nCodePage)
{
    if (run.pEnds == nullptr)
        return run.bQuit ? L"ended in order without an outcome record" : L"still running or ended without a record";
    const std::string strRest = LogMessageWithoutSeverity(*run.pEnds).substr(sizeof(kEndsWord) - 1);
    for (const char* pszResult : kResults) {
        if (strRest == pszResult)
            return Ascii(pszResult);
        if (StartsWith(strRest, (std::string(pszResult) + ": ").c_str())) {
            const std::wstring strReason =
                OneLineText(LogTextToWide(strRest.substr(strlen(pszResult) + 2), nCodePage), kMaxReasonChars);
            return Ascii(pszResult) + (strReason.empty() ? std::wstring() : L": " + strReason);
        }
    }
    // Older companions wrote the reason alone.
    const std::wstring strReason = OneLineText(LogTextToWide(strRest, nCodePage), kMaxReasonChars);
    return strReason.empty() ? L"ended without a reason" : strReason;
}

std::wstring LogSummaryText(const std::vector<LogEntry>& entries, UINT nCodePage)
{
    std::vector<const LogEntry*> records;
    for (const LogEntry& entry : entries) {
        if (entry.bRecord)
            records.push_back(&entry);
    }
    const size_t nDamaged = entries.size() - records.size();
    std::wstring strText;
    std::wstring strSummary;
    if (records.empty()) {
        strSummary = L"summary: no records";
    } else {
        const std::vector<LogRun> runs = SplitLogRuns(records);
        for (size_t i = 0; i < runs.size(); ++i) {
            const LogRun& run = runs[i];
            strText += L"run " + std::to_wstring(i + 1) + L": " + Ascii(records[run.nFirst]->strTime) + L" to " +
                       Ascii(records[run.nEnd - 1]->strTime) + L", " + std::to_wstring(run.nEnd - run.nFirst) +
                       L" records";
            if (!run.strVersion.empty())
                strText += L", companion " + OneLineText(LogTextToWide(run.strVersion, nCodePage), kMaxVersionChars);
            strText += OrderText(run, nCodePage) + L", outcome " + LogRunOutcome(run, nCodePage);
            if (run.pLastError != nullptr)
                strText += L", last error " + RunErrorText(*run.pLastError, nCodePage) + RecoveredMark(run);
            strText += L"\r\n";
        }
        const LogRun& last = runs.back();
        strSummary = L"summary: " + std::to_wstring(records.size()) + L" records, run start " +
                     Ascii(records[last.nFirst]->strTime) + L", outcome " + LogRunOutcome(last, nCodePage) +
                     L", last error " +
                     (last.pLastError != nullptr ? LastErrorText(*last.pLastError, nCodePage) + RecoveredMark(last)
                                                 : std::wstring(L"none"));
    }
    if (nDamaged != 0)
        strSummary += L", " + std::to_wstring(nDamaged) + L" damaged";
    return strText + strSummary + L"\r\n";
}
