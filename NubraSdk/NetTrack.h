// Reachability watch: a thread that keeps trying a TCP connection to the
// watched host and signals the attached event when the answer may have
// changed.
//
// The host is what InternetTrackSetServer named (split by SplitHostPort), on
// port 80, or on the proxy port when it is the proxy InitHttpX was given.
// The environment variable NUBRA_TRACK_SERVER=host:port overrides both, for
// tests and administrators.
//
// A loss is only reported for a host that was reached at least once since it
// became the watched one: a host that does not resolve or never answers on
// this machine is no evidence of a lost network.
#pragma once

#include <windows.h>

#include <string>

namespace nubra {

// Watched when nobody named a server; the program names its own.
extern const wchar_t kDefaultTrackHost[];

bool TrackAttach(HANDLE hEvent);
void TrackDetach();
void TrackSetServer(const std::wstring& strServer);
// Lets a watch of the proxy host use the proxy's port.
void TrackSetProxy(const std::wstring& strHost, const std::wstring& strPort);
bool TrackStart();
// 1 reachable (or never reached yet), 0 lost after having been reached.
int TrackState();
void TrackShutdown();

}  // namespace nubra
