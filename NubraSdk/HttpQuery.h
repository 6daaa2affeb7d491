// What a transfer reads of an address and of a server's answer, and the
// time-outs it sets on each of its handles.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

namespace nubra {

// The parts of an http or https address that a request needs.
struct CHttpAddress {
    std::wstring strHost;
    INTERNET_PORT nPort = 0;
    std::wstring strPath;  // path and query
    bool bSecure = false;
};

// How long a connection and the answer's headers may take together
// (15 s; NUBRA_CONNECT_TIMEOUT_MS may shorten it, down to 1.5 s).
DWORD ConnectTimeoutMs();

// Connect, send and receive time-outs on a session, connection or request
// handle. The receive one is the stall limit, 30 s (NUBRA_RECEIVE_TIMEOUT_MS
// may shorten it, down to 2 s), but never longer than the floor's period
// (TransferFloor.h): a read must come back in time for the floor to be
// judged. Set before a request is sent: the connection takes them then.
void SetHandleTimeouts(HINTERNET h);

// ERROR_SUCCESS, or why the address cannot be fetched.
DWORD CrackHttpAddress(const std::wstring& strUrl, CHttpAddress& address);

// A header of the answer; empty when it is missing or too long.
std::wstring QueryHeader(HINTERNET hRequest, DWORD dwInfo);
// The answer's status code; 0 when it cannot be read.
DWORD QueryStatus(HINTERNET hRequest);

// Lengths have at most this many digits: any real file's size has fewer,
// and more would overflow the 64-bit number they are read into.
constexpr size_t kMaxLengthDigits = 18;
// A length as an answer states it: 1 to kMaxLengthDigits decimal digits and
// nothing else.
bool ParseLength(const std::wstring& strText, LONGLONG& llLength);
// The announced Content-Length, -1 when there is none; false when the header
// is there but is no length (too many digits included): such an answer is
// malformed, not one of unknown size.
bool QueryContentLength(HINTERNET hRequest, LONGLONG& llLength);

}  // namespace nubra
