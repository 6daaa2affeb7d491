#include "tools/upgradectl/LogText.h"

#include "tools/logdecode/LogDecode.h"
#include "tools/logdecode/LogPrint.h"
#include "tools/logdecode/LogReport.h"
#include "tools/logdecode/LogRuns.h"

#include <vector>

bool LogFileText(const std::string& strRaw, UINT nCodePage, std::wstring& strText)
{
    std::vector<LogEntry> entries;
    if (!SplitLogEntries(DecodeLogBytes(strRaw), entries))
        return false;
    std::wstring strPrinted;
    for (const LogEntry& entry : entries)
        strPrinted += PrintedLogEntry(entry, nCodePage);
    strPrinted += LogSummaryText(entries, nCodePage);
    // Every CR left is one of a line end: those in the text are escaped.
    strText.clear();
    strText.reserve(strPrinted.size());
    for (wchar_t ch : strPrinted) {
        if (ch != L'\r')
            strText += ch;
    }
    return true;
}
