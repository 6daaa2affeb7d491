// The companion's log file as text for a console or a pipe: the log
// decoder's printed records (severity in the level slot, control characters
// escaped), then its line per run and summary, with "\n" line ends.
#pragma once

#include <windows.h>

#include <string>

// The raw bytes of a log file as wide text in code page nCodePage. False
// when the bytes are no log.
bool LogFileText(const std::string& strRaw, UINT nCodePage, std::wstring& strText);
