// How the decoders print the log: records as they were written, with the
// level showing each record's severity, and every control character of the
// file's text shown as an escape, so that a log cannot steer the terminal it
// is read on nor fake a record or a summary line.
#pragma once

#include <windows.h>

#include <string>

#include "tools/logdecode/LogReport.h"

// Control characters (U+0000 to U+001F, U+007F to U+009F) as "\r", "\n",
// "\t" or "\xNN" (two lower-case hex digits); everything else unchanged.
std::wstring EscapeControls(const std::wstring& strText);

// The entry as printed, with CR LF line ends: a record's own line breaks
// (after its header, after its message, the empty line and the one after the
// terminator) stay line breaks; the level slot shows the severity. A damaged
// stretch is one line, "damaged: " and its escaped bytes.
std::wstring PrintedLogEntry(const LogEntry& entry, UINT nCodePage);

// Line breaks (CR LF, CR, LF) as spaces, blanks trimmed, control characters
// escaped, cut to at most nMax UTF-16 units (never inside a surrogate pair)
// with "..." when it was longer: a message in one line of a summary.
std::wstring OneLineText(const std::wstring& strText, size_t nMax);
