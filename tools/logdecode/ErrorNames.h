// Names for the numbers a failure record carries: the HTTP status of the
// server's answer, and the error codes the network library reports (WinINet
// codes from 12001 on, and the Windows file errors of writing the download).
// Support reads "HTTP 404 (not found)" faster than a bare number.
#pragma once

#include <windows.h>

#include <string>

// A short lower-case name, or NULL for a number without one.
LPCWSTR HttpStatusName(unsigned long ulStatus);
LPCWSTR ErrorCodeName(unsigned long ulError);

// The numbers of one record's text, named, the HTTP status first: from the
// first "HTTP status N" and the first "error N" ("network error N" keeps its
// word), each left out when it is 0 or absent. "HTTP 404 (not found),
// network error 12152 (invalid server response)"; empty when the text
// carries neither.
std::wstring ErrorGist(const std::wstring& strText);
