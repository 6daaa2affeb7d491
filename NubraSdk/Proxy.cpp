// Proxy settings: what InitHttpX chose and what the user configured.
#include "NubraSdk/Proxy.h"

#include <windows.h>
#include <wininet.h>

#include <mutex>

#include "NubraSdk/HostPort.h"
#include "win/Handles.h"

namespace nubra {

namespace {

std::mutex g_proxyLock;
CProxyConfig g_proxy;

std::wstring Trim(const std::wstring& s)
{
    const size_t b = s.find_first_not_of(L" \t");
    if (b == std::wstring::npos)
        return std::wstring();
    const size_t e = s.find_last_not_of(L" \t");
    return s.substr(b, e - b + 1);
}

bool StartsWithNoCase(const std::wstring& s, const wchar_t* pszPrefix)
{
    const size_t n = wcslen(pszPrefix);
    return s.size() >= n && _wcsnicmp(s.c_str(), pszPrefix, n) == 0;
}

// One entry of the setting: an optional scheme and path around host[:port].
bool SplitProxyEntry(std::wstring s, std::wstring& strHost, std::wstring& strPort)
{
    s = Trim(s);
    const size_t nScheme = s.find(L"://");
    if (nScheme != std::wstring::npos)
        s = s.substr(nScheme + 3);
    const size_t nSlash = s.find(L'/');
    if (nSlash != std::wstring::npos)
        s.resize(nSlash);
    std::wstring host;
    USHORT usPort = 0;
    if (!SplitHostPort(s, host, usPort))
        return false;
    // WinINet takes an IPv6 proxy in brackets.
    strHost = host.find(L':') == std::wstring::npos ? host : L"[" + host + L"]";
    strPort = std::to_wstring(usPort ? usPort : 80);
    return true;
}

}  // namespace

void SetProxyConfig(const std::wstring& strHost, const std::wstring& strPort, const std::wstring& strUser,
                    const std::wstring& strPassword)
{
    std::lock_guard<std::mutex> lock(g_proxyLock);
    g_proxy.strServer = strHost.empty() ? std::wstring() : strPort.empty() ? strHost : strHost + L":" + strPort;
    g_proxy.strUser = strUser;
    g_proxy.strPassword = strPassword;
}

CProxyConfig GetProxyConfig()
{
    std::lock_guard<std::mutex> lock(g_proxyLock);
    return g_proxy;
}

bool SplitProxyServer(const std::wstring& strSetting, std::wstring& strHost, std::wstring& strPort)
{
    std::wstring first, http, https;
    size_t nPos = 0;
    while (nPos <= strSetting.size()) {
        size_t nEnd = strSetting.find_first_of(L"; ", nPos);
        if (nEnd == std::wstring::npos)
            nEnd = strSetting.size();
        const std::wstring entry = Trim(strSetting.substr(nPos, nEnd - nPos));
        nPos = nEnd + 1;
        if (entry.empty())
            continue;
        const size_t nEq = entry.find(L'=');
        if (nEq == std::wstring::npos) {
            if (first.empty())
                first = entry;
            continue;
        }
        const std::wstring value = entry.substr(nEq + 1);
        if (StartsWithNoCase(entry, L"http=") && http.empty())
            http = value;
        else if (StartsWithNoCase(entry, L"https=") && https.empty())
            https = value;
        else if (first.empty() && !StartsWithNoCase(entry, L"socks="))
            first = value;
    }
    for (const std::wstring* p : {&http, &https, &first})
        if (!p->empty() && SplitProxyEntry(*p, strHost, strPort))
            return true;
    return false;
}

bool ReadUserProxySetting(std::wstring& strSetting)
{
    INTERNET_PER_CONN_OPTIONW aOptions[2] = {};
    aOptions[0].dwOption = INTERNET_PER_CONN_FLAGS;
    aOptions[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
    INTERNET_PER_CONN_OPTION_LISTW list = {};
    list.dwSize = sizeof(list);
    list.dwOptionCount = 2;
    list.pOptions = aOptions;
    DWORD cb = sizeof(list);
    if (::InternetQueryOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &cb)) {
        const bool bEnabled = (aOptions[0].Value.dwValue & PROXY_TYPE_PROXY) != 0;
        const CGlobalMemory serverText(aOptions[1].Value.pszValue);
        std::wstring server = aOptions[1].Value.pszValue ? aOptions[1].Value.pszValue : L"";
        if (bEnabled && !server.empty()) {
            strSetting = server;
            return true;
        }
    }

    // The registry holds the same setting where the per-connection query is
    // not answered.
    HKEY hOpened = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                        KEY_QUERY_VALUE, &hOpened) != ERROR_SUCCESS)
        return false;
    const CRegKey hKey(hOpened);
    DWORD dwEnable = 0, cbEnable = sizeof(dwEnable), dwType = 0;
    if (::RegQueryValueExW(hKey.Get(), L"ProxyEnable", nullptr, &dwType, reinterpret_cast<BYTE*>(&dwEnable),
                           &cbEnable) != ERROR_SUCCESS ||
        dwType != REG_DWORD || !dwEnable)
        return false;
    wchar_t szServer[1024] = {};
    DWORD cbServer = sizeof(szServer) - sizeof(wchar_t);
    if (::RegQueryValueExW(hKey.Get(), L"ProxyServer", nullptr, &dwType, reinterpret_cast<BYTE*>(szServer),
                           &cbServer) != ERROR_SUCCESS ||
        (dwType != REG_SZ && dwType != REG_EXPAND_SZ) || !szServer[0])
        return false;
    strSetting = szServer;
    return true;
}

}  // namespace nubra
