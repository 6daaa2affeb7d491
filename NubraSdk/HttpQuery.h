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

// Connect, send and receive time-outs on a session, connection or request
// handle; NUBRA_RECEIVE_TIMEOUT_MS (100 to 3600000) replaces the receive one.
void SetHandleTimeouts(HINTERNET h);

// ERROR_SUCCESS, or why the address cannot be fetched.
DWORD CrackHttpAddress(const std::wstring& strUrl, CHttpAddress& address);

// A header of the answer; empty when it is missing or too long.
std::wstring QueryHeader(HINTERNET hRequest, DWORD dwInfo);
// The answer's status code; 0 when it cannot be read.
DWORD QueryStatus(HINTERNET hRequest);
// -1 when the server announced no length.
LONGLONG QueryContentLength(HINTERNET hRequest);

}  // namespace nubra
