// First form of the network library: every function answers as a library
// without a network would.
#include "netlib/NubraSdk.h"

BOOL InternetTrackAttach(HANDLE) { return FALSE; }
BOOL InternetTrackSetServer(LPCWSTR) { return FALSE; }
BOOL InternetTrackStartNetTrack(void) { return FALSE; }
int InternetTrackCheckNetState(void) { return 1; }
void InternetTrackDeAttach(void) {}
void InternetTrackShutDownNetTrack(void) {}
BOOL GetIEProxy(LPWSTR pszHost, DWORD cchHost, LPWSTR pszPort, DWORD cchPort)
{
    if (pszHost && cchHost) pszHost[0] = L'\0';
    if (pszPort && cchPort) pszPort[0] = L'\0';
    return FALSE;
}
BOOL InitHttpX(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, int) { return FALSE; }
int UpgradeDownLoadFile(LPCWSTR, LPCWSTR, int, HWND, UINT, int, __int64, int) { return 0; }
BOOL Md5CalFile(LPCWSTR, LPWSTR pszMd5, DWORD cchMd5)
{
    if (pszMd5 && cchMd5) pszMd5[0] = L'\0';
    return FALSE;
}
