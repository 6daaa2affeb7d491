// Text output of the console tool: wide text straight to a console window,
// UTF-8 when standard output or error is redirected, so that scripts read
// Chinese texts the same way whatever the system's code page.
#pragma once

#include <windows.h>

#include <string>

void CtlWrite(DWORD nStdHandle, const std::wstring& strText);
void CtlPrintf(LPCWSTR pszFormat, ...);
// Prefixed with the tool's name, on standard error.
void CtlError(LPCWSTR pszFormat, ...);
