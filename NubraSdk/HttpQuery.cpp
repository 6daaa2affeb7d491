// Reading an address and a server's answer, and the time-outs of every
// handle (see HttpQuery.h).
#include "NubraSdk/HttpQuery.h"

#include "NubraSdk/EnvSetting.h"
#include "NubraSdk/TransferFloor.h"

namespace nubra {

namespace {

// Long enough for a slow proxy, short enough that a dead server fails the
// transfer while the user still watches. The floor still lets a slow link
// (half a second a round trip) connect, shake hands and answer.
constexpr DWORD kConnectTimeoutMs = 15000;
constexpr DWORD kConnectTimeoutFloorMs = 1500;
// A stall this long ends the transfer; its bytes stay for a resume. A slow
// link brings something at least every two seconds.
constexpr DWORD kDefaultReceiveTimeoutMs = 30000;
constexpr DWORD kReceiveTimeoutFloorMs = 2000;

DWORD ReceiveTimeoutMs()
{
    return static_cast<DWORD>(
        EnvironmentLimit(L"NUBRA_RECEIVE_TIMEOUT_MS", kReceiveTimeoutFloorMs, kDefaultReceiveTimeoutMs));
}

}  // namespace

DWORD ConnectTimeoutMs()
{
    return static_cast<DWORD>(EnvironmentLimit(L"NUBRA_CONNECT_TIMEOUT_MS", kConnectTimeoutFloorMs, kConnectTimeoutMs));
}

// Set on every handle level: some WinINet builds take a request's time-outs
// only from the request or connection handle, not from the session. A level
// that refuses an option keeps the one it inherited, so results are not
// checked.
void SetHandleTimeouts(HINTERNET h)
{
    DWORD dwTimeout = ConnectTimeoutMs();
    ::InternetSetOptionW(h, INTERNET_OPTION_CONNECT_TIMEOUT, &dwTimeout, sizeof(dwTimeout));
    ::InternetSetOptionW(h, INTERNET_OPTION_SEND_TIMEOUT, &dwTimeout, sizeof(dwTimeout));
    // A stalled server must end the transfer, not hang it forever.
    dwTimeout = ReceiveTimeoutMs();
    if (dwTimeout > FloorPeriodMs())
        dwTimeout = FloorPeriodMs();
    ::InternetSetOptionW(h, INTERNET_OPTION_RECEIVE_TIMEOUT, &dwTimeout, sizeof(dwTimeout));
    ::InternetSetOptionW(h, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &dwTimeout, sizeof(dwTimeout));
}

std::wstring QueryHeader(HINTERNET hRequest, DWORD dwInfo)
{
    // Room for a long signed redirect address.
    wchar_t sz[4096] = {};
    DWORD cb = sizeof(sz) - sizeof(wchar_t);
    if (!::HttpQueryInfoW(hRequest, dwInfo, sz, &cb, nullptr))
        return std::wstring();
    return sz;
}

DWORD QueryStatus(HINTERNET hRequest)
{
    DWORD dwStatus = 0, cb = sizeof(dwStatus);
    if (!::HttpQueryInfoW(hRequest, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &dwStatus, &cb, nullptr))
        return 0;
    return dwStatus;
}

bool ParseLength(const std::wstring& strText, LONGLONG& llLength)
{
    if (strText.empty() || strText.size() > kMaxLengthDigits)
        return false;
    LONGLONG v = 0;
    for (wchar_t c : strText) {
        if (c < L'0' || c > L'9')
            return false;
        v = v * 10 + (c - L'0');
    }
    llLength = v;
    return true;
}

bool QueryContentLength(HINTERNET hRequest, LONGLONG& llLength)
{
    llLength = -1;
    wchar_t sz[64] = {};
    DWORD cb = sizeof(sz) - sizeof(wchar_t);
    if (!::HttpQueryInfoW(hRequest, HTTP_QUERY_CONTENT_LENGTH, sz, &cb, nullptr))
        // Only a missing header means an unknown size; one too long for
        // this buffer is no length at all.
        return ::GetLastError() == ERROR_HTTP_HEADER_NOT_FOUND;
    return ParseLength(sz, llLength);
}

DWORD CrackHttpAddress(const std::wstring& strUrl, CHttpAddress& address)
{
    URL_COMPONENTSW uc = {};
    uc.dwStructSize = sizeof(uc);
    uc.dwHostNameLength = 1;  // ask for pointers into the address
    uc.dwUrlPathLength = 1;
    uc.dwExtraInfoLength = 1;
    if (!::InternetCrackUrlW(strUrl.c_str(), 0, 0, &uc) || !uc.lpszHostName || uc.dwHostNameLength == 0)
        return ERROR_INTERNET_INVALID_URL;
    if (uc.nScheme != INTERNET_SCHEME_HTTP && uc.nScheme != INTERNET_SCHEME_HTTPS)
        return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    address.strHost.assign(uc.lpszHostName, uc.dwHostNameLength);
    address.nPort = uc.nPort;
    address.strPath = uc.lpszUrlPath ? std::wstring(uc.lpszUrlPath, uc.dwUrlPathLength) : std::wstring();
    if (uc.lpszExtraInfo)
        address.strPath.append(uc.lpszExtraInfo, uc.dwExtraInfoLength);
    if (address.strPath.empty())
        address.strPath = L"/";
    address.bSecure = uc.nScheme == INTERNET_SCHEME_HTTPS;
    return ERROR_SUCCESS;
}

}  // namespace nubra
