// Reading an address and a server's answer (see HttpQuery.h).
#include "NubraSdk/HttpQuery.h"

namespace nubra {

std::wstring QueryHeader(HINTERNET hRequest, DWORD dwInfo)
{
    // Room for a long signed redirect address.
    wchar_t sz[4096] = {};
    DWORD cb = sizeof(sz) - sizeof(wchar_t);
    if (!::HttpQueryInfoW(hRequest, dwInfo, sz, &cb, nullptr)) return std::wstring();
    return sz;
}

DWORD QueryStatus(HINTERNET hRequest)
{
    DWORD dwStatus = 0, cb = sizeof(dwStatus);
    if (!::HttpQueryInfoW(hRequest, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &dwStatus, &cb, nullptr))
        return 0;
    return dwStatus;
}

LONGLONG QueryContentLength(HINTERNET hRequest)
{
    const std::wstring s = QueryHeader(hRequest, HTTP_QUERY_CONTENT_LENGTH);
    if (s.empty() || s.size() > 19) return -1;
    LONGLONG v = 0;
    for (wchar_t c : s) {
        if (c < L'0' || c > L'9') return -1;
        v = v * 10 + (c - L'0');
    }
    return v;
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
    if (uc.lpszExtraInfo) address.strPath.append(uc.lpszExtraInfo, uc.dwExtraInfoLength);
    if (address.strPath.empty()) address.strPath = L"/";
    address.bSecure = uc.nScheme == INTERNET_SCHEME_HTTPS;
    return ERROR_SUCCESS;
}

}  // namespace nubra
