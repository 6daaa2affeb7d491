// The network library's functions as the program uses them: the ten that the
// client's own NubraSdk.dll offers, and no more. Plain C names, wide strings.
// Where the library fills a buffer, the buffer holds NUBRA_TEXT_CCH
// characters; the interface passes no size.
//
// Our library exports them with the C calling convention. The client's names
// none, so the program imports each one by its plain name under the
// namespace NubraImport and calls it through the thunk of netlib/NubraCall.h,
// which works beside a C-call and a standard-call build alike; the inline
// functions at the end keep the plain names for every caller.
//
// Our stand-in library offers more (netlib/NubraSdkExtras.h); the program
// looks those up at run time and never imports them.
#pragma once

#include <windows.h>

#ifdef NUBRASDK_EXPORTS
#define NUBRA_API extern "C" __declspec(dllexport)
#else
#include "netlib/NubraCall.h"
#define NUBRA_API extern "C" __declspec(dllimport)
namespace NubraImport {
#endif

// The host the reachability watch probes when it is given none it can use, and
// the environment variable that overrides whatever it is given (for
// administrators and tests).
#define NUBRA_DEFAULT_TRACK_HOST L"upgrade.talvex.com"
#define NUBRA_TRACK_SERVER_ENV L"NUBRA_TRACK_SERVER"

// Characters of every buffer the library fills (MAX_PATH).
#define NUBRA_TEXT_CCH 260

// Reachability watch. The attached auto-reset event is signalled whenever the
// state may have changed.
NUBRA_API BOOL InternetTrackAttach(HANDLE hEvent);
NUBRA_API BOOL InternetTrackSetServer(LPCWSTR pszHost);
NUBRA_API BOOL InternetTrackStartNetTrack(void);
// Nonzero while the watched host is reachable.
NUBRA_API int InternetTrackCheckNetState(void);
NUBRA_API void InternetTrackDeAttach(void);
NUBRA_API void InternetTrackShutDownNetTrack(void);

// TRUE when the user has a proxy configured; fills host and port, each a
// buffer of NUBRA_TEXT_CCH characters.
NUBRA_API BOOL GetIEProxy(LPWSTR pszHost, LPWSTR pszPort);
// Later transfers go through this proxy with these credentials.
NUBRA_API BOOL InitHttpX(LPCWSTR pszProxyHost, LPCWSTR pszProxyPort, LPCWSTR pszUser, LPCWSTR pszPassword,
                         int nReserved);

// Starts the transfer of pszUrl into pszLocalFile on a worker thread and
// returns at once. Progress arrives as uMsg at hNotify with a
// DOWNLOAD_PROGRESS record in wParam (netlib/DownloadRecord.h).
NUBRA_API int UpgradeDownLoadFile(LPCWSTR pszUrl, LPCWSTR pszLocalFile, int nReserved1, HWND hNotify, UINT uMsg,
                                  int nReserved2, __int64 llExpectedSize, int nReserved3);

// Writes the file's MD5 as 32 lower-case hex digits into a zeroed buffer of
// NUBRA_TEXT_CCH characters; leaves it empty when the file cannot be read.
NUBRA_API BOOL Md5CalFile(LPCWSTR pszFile, LPWSTR pszMd5);

#ifndef NUBRASDK_EXPORTS
}  // namespace NubraImport

inline BOOL InternetTrackAttach(HANDLE hEvent)
{
    return nubra_call::Call(&NubraImport::InternetTrackAttach, hEvent);
}
inline BOOL InternetTrackSetServer(LPCWSTR pszHost)
{
    return nubra_call::Call(&NubraImport::InternetTrackSetServer, pszHost);
}
inline BOOL InternetTrackStartNetTrack(void)
{
    return nubra_call::Call(&NubraImport::InternetTrackStartNetTrack);
}
inline int InternetTrackCheckNetState(void)
{
    return nubra_call::Call(&NubraImport::InternetTrackCheckNetState);
}
inline void InternetTrackDeAttach(void)
{
    nubra_call::Call(&NubraImport::InternetTrackDeAttach);
}
inline void InternetTrackShutDownNetTrack(void)
{
    nubra_call::Call(&NubraImport::InternetTrackShutDownNetTrack);
}
inline BOOL GetIEProxy(LPWSTR pszHost, LPWSTR pszPort)
{
    return nubra_call::Call(&NubraImport::GetIEProxy, pszHost, pszPort);
}
inline BOOL InitHttpX(LPCWSTR pszProxyHost, LPCWSTR pszProxyPort, LPCWSTR pszUser, LPCWSTR pszPassword, int nReserved)
{
    return nubra_call::Call(&NubraImport::InitHttpX, pszProxyHost, pszProxyPort, pszUser, pszPassword, nReserved);
}
inline int UpgradeDownLoadFile(LPCWSTR pszUrl, LPCWSTR pszLocalFile, int nReserved1, HWND hNotify, UINT uMsg,
                               int nReserved2, __int64 llExpectedSize, int nReserved3)
{
    return nubra_call::Call(&NubraImport::UpgradeDownLoadFile, pszUrl, pszLocalFile, nReserved1, hNotify, uMsg,
                            nReserved2, llExpectedSize, nReserved3);
}
inline BOOL Md5CalFile(LPCWSTR pszFile, LPWSTR pszMd5)
{
    return nubra_call::Call(&NubraImport::Md5CalFile, pszFile, pszMd5);
}
#endif
