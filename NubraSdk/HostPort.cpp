// Splitting "host[:port]" and "[v6][:port]" (see HostPort.h).
#include "NubraSdk/HostPort.h"

namespace nubra {

USHORT ParsePort(const std::wstring& strPort)
{
    if (strPort.empty() || strPort.size() > 5)
        return 0;
    unsigned long v = 0;
    for (wchar_t c : strPort) {
        if (c < L'0' || c > L'9')
            return 0;
        v = v * 10 + (c - L'0');
    }
    return v >= 1 && v <= 65535 ? static_cast<USHORT>(v) : 0;
}

std::wstring BareHost(const std::wstring& strHost)
{
    if (strHost.size() > 2 && strHost.front() == L'[' && strHost.back() == L']')
        return strHost.substr(1, strHost.size() - 2);
    return strHost;
}

bool SplitHostPort(const std::wstring& strText, std::wstring& strHost, USHORT& usPort)
{
    std::wstring host = strText, port;
    bool bPort = false;
    if (!host.empty() && host[0] == L'[') {
        const size_t nClose = host.find(L']');
        if (nClose == std::wstring::npos)
            return false;
        if (nClose + 1 < host.size()) {
            if (host[nClose + 1] != L':')
                return false;
            port = host.substr(nClose + 2);
            bPort = true;
        }
        host = host.substr(1, nClose - 1);
    } else {
        const size_t nColon = host.find(L':');
        // More than one colon is a bare IPv6 address without a port.
        if (nColon != std::wstring::npos && host.find(L':', nColon + 1) == std::wstring::npos) {
            port = host.substr(nColon + 1);
            host.resize(nColon);
            bPort = true;
        }
    }
    if (host.empty() || host.find_first_of(L" \t/") != std::wstring::npos)
        return false;
    const USHORT usValue = bPort ? ParsePort(port) : 0;
    if (bPort && !usValue)
        return false;
    strHost = host;
    usPort = usValue;
    return true;
}

}  // namespace nubra
