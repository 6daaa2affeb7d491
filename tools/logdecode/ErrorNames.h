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

// The set bits of a certificate chain's error status by their CERT_TRUST_*
// names without the prefix ("IS_UNTRUSTED_ROOT, IS_PARTIAL_CHAIN"); bits
// without a name as one hex number.
std::wstring ChainStatusNames(unsigned long ulStatus);

// A record about a setup's signature ("setup refused, CAUSE: trust result
// 0x... NAME, chain status 0x...") up to its chain status, in one line, with
// the status's bits named in brackets; empty for any other text.
std::wstring SignatureGist(const std::wstring& strText);
// What such a record says after its chain status, unchanged; empty for any
// other text.
std::wstring SignatureRest(const std::wstring& strText);

// What support reads first of a failure record: its SignatureGist when it
// is about a signature; else its numbers, named, the HTTP status first:
// from the first "HTTP status N" and the first "error N" ("network error N"
// keeps its word), each left out when it is 0 or absent, and the library's
// 12152 left out beside a refused status, which says it already: "HTTP 404
// (not found)", "HTTP 200 (ok), network error 12152 (invalid server
// response)". Empty when the text carries none of these.
std::wstring ErrorGist(const std::wstring& strText);
