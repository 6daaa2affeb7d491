// The companion's log file as text for a console or a pipe. Undoing the byte
// swap and dropping the record terminators is the log decoder's job; this
// adds the code-page conversion to wide text.
#pragma once

#include <windows.h>

#include <string>

// The raw bytes of a log file as wide text in code page nCodePage, with
// "\n" line ends.
std::wstring LogFileText(const std::string& strRaw, UINT nCodePage);
