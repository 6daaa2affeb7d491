// Where a server setting's host ends and its port begins: one rule for the
// proxy settings and for the watched server.
#pragma once

#include <windows.h>

#include <string>

namespace nubra {

// "host", "host:port", "[v6]", "[v6]:port" or a bare IPv6 address (more than
// one colon and no brackets: no port). The host comes back without brackets;
// the port is 0 when none is given. False for an empty host, a host with a
// blank or a slash, anything but ":port" after "]", or a port that is not a
// number from 1 to 65535.
bool SplitHostPort(const std::wstring& strText, std::wstring& strHost, USHORT& usPort);

// A port of decimal digits only, from 1 to 65535; 0 for anything else.
USHORT ParsePort(const std::wstring& strPort);

// The host without the brackets of an IPv6 address ("[::1]" -> "::1").
std::wstring BareHost(const std::wstring& strHost);

}  // namespace nubra
