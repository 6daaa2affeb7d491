// The proxy that transfers use, and the user's configured proxy.
#pragma once

#include <string>

namespace nubra {

struct CProxyConfig {
    std::wstring strServer;  // "host:port" as WinINet takes it; empty: the system's settings
    std::wstring strUser;
    std::wstring strPassword;
};

// Remembers the proxy of InitHttpX for transfers started later.
void SetProxyConfig(const std::wstring& strHost, const std::wstring& strPort, const std::wstring& strUser,
                    const std::wstring& strPassword);
CProxyConfig GetProxyConfig();

// Splits a proxy setting as the system stores it ("host:port",
// "http=host:port;https=host:port", "http://host:port", "[v6]:port") into
// host and port; the HTTP entry wins, then HTTPS, then the first one. The
// port defaults to "80". False when no host can be found.
bool SplitProxyServer(const std::wstring& strSetting, std::wstring& strHost, std::wstring& strPort);

// The user's proxy setting when a proxy is enabled; false otherwise.
bool ReadUserProxySetting(std::wstring& strSetting);

}  // namespace nubra
