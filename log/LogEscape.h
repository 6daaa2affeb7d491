// What the log shows of a text that came from outside: an order's field, a
// command line, a file or host name, a server's or a library's text. Such a
// text could carry line breaks that make a decoded log show records nobody
// wrote, so every one goes through here before it reaches a record.
#pragma once

#include <windows.h>

#include <string>

// The text with each control character written out: CR and LF as "\r" and
// "\n", every other C0 or C1 control and DEL as "\xNN", the Unicode line and
// paragraph separators as "\u2028" and "\u2029". Everything else,
// backslashes included, stays as it is. A null pointer gives "".
std::wstring LogEscaped(LPCWSTR pszText);
inline std::wstring LogEscaped(const std::wstring& strText)
{
    return LogEscaped(strText.c_str());
}
