// The library's exported functions: argument checks and a catch-all around
// each, so that nothing of the C++ runtime crosses the boundary.
#include "netlib/NubraSdk.h"
#include "netlib/NubraSdkExtras.h"

#include <string>

#include "NubraSdk/Download.h"
#include "NubraSdk/LibraryLog.h"
#include "NubraSdk/Md5.h"
#include "NubraSdk/NetTrack.h"
#include "NubraSdk/Proxy.h"

namespace {

std::wstring Text(LPCWSTR psz)
{
    return psz ? std::wstring(psz) : std::wstring();
}

// Copies only when the whole text fits; a cut host name would be worse than none.
bool CopyOut(const std::wstring& s, LPWSTR pszOut, DWORD cchOut)
{
    if (!pszOut || cchOut == 0 || s.size() >= cchOut)
        return false;
    wcsncpy_s(pszOut, cchOut, s.c_str(), _TRUNCATE);
    return true;
}

void Clear(LPWSTR psz, DWORD cch)
{
    if (psz && cch)
        psz[0] = L'\0';
}

}  // namespace

BOOL InternetTrackAttach(HANDLE hEvent)
{
    try {
        return nubra::TrackAttach(hEvent) ? TRUE : FALSE;
    } catch (...) {
        return FALSE;
    }
}

BOOL InternetTrackSetServer(LPCWSTR pszHost)
{
    try {
        nubra::TrackSetServer(Text(pszHost));
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

BOOL InternetTrackStartNetTrack(void)
{
    try {
        return nubra::TrackStart() ? TRUE : FALSE;
    } catch (...) {
        return FALSE;
    }
}

int InternetTrackCheckNetState(void)
{
    try {
        return nubra::TrackState();
    } catch (...) {
        return 1;  // never invent a loss
    }
}

void InternetTrackDeAttach(void)
{
    try {
        nubra::TrackDetach();
    } catch (...) {
    }
}

void InternetTrackShutDownNetTrack(void)
{
    try {
        nubra::TrackShutdown();
    } catch (...) {
    }
}

BOOL GetIEProxy(LPWSTR pszHost, LPWSTR pszPort)
{
    const DWORD cchHost = NUBRA_TEXT_CCH;
    const DWORD cchPort = NUBRA_TEXT_CCH;
    Clear(pszHost, cchHost);
    Clear(pszPort, cchPort);
    try {
        std::wstring strSetting, strHost, strPort;
        if (!nubra::ReadUserProxySetting(strSetting) || !nubra::SplitProxyServer(strSetting, strHost, strPort))
            return FALSE;
        if (!CopyOut(strHost, pszHost, cchHost) || !CopyOut(strPort, pszPort, cchPort)) {
            Clear(pszHost, cchHost);
            Clear(pszPort, cchPort);
            return FALSE;
        }
        return TRUE;
    } catch (...) {
        Clear(pszHost, cchHost);
        Clear(pszPort, cchPort);
        return FALSE;
    }
}

BOOL InitHttpX(LPCWSTR pszProxyHost, LPCWSTR pszProxyPort, LPCWSTR pszUser, LPCWSTR pszPassword, int)
{
    try {
        nubra::SetProxyConfig(Text(pszProxyHost), Text(pszProxyPort), Text(pszUser), Text(pszPassword));
        nubra::TrackSetProxy(Text(pszProxyHost), Text(pszProxyPort));
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

int UpgradeDownLoadFile(LPCWSTR pszUrl, LPCWSTR pszLocalFile, int, HWND hNotify, UINT uMsg, int, __int64 llExpectedSize,
                        int)
{
    try {
        // Without a window nobody could learn the outcome; a bad address or
        // path is still started so that its failure arrives as a record.
        if (!hNotify || !::IsWindow(hNotify))
            return 0;
        nubra::CDownloadRequest request;
        request.strUrl = Text(pszUrl);
        request.strTarget = Text(pszLocalFile);
        request.hNotify = hNotify;
        request.uMsg = uMsg;
        request.llExpectedSize = llExpectedSize;
        request.proxy = nubra::GetProxyConfig();
        return nubra::StartDownload(request) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

BOOL Md5CalFile(LPCWSTR pszFile, LPWSTR pszMd5)
{
    const DWORD cchMd5 = NUBRA_TEXT_CCH;
    Clear(pszMd5, cchMd5);
    try {
        wchar_t szHex[33] = {};
        if (!pszFile || !*pszFile || !nubra::Md5OfFile(pszFile, szHex))
            return FALSE;
        return CopyOut(szHex, pszMd5, cchMd5) ? TRUE : FALSE;
    } catch (...) {
        Clear(pszMd5, cchMd5);
        return FALSE;
    }
}

// An extra of ours (netlib/NubraSdkExtras.h), looked up by the program at run time.
extern "C" __declspec(dllexport) BOOL Md5CalHandle(HANDLE hFile, LPWSTR pszMd5, DWORD cchMd5)
{
    Clear(pszMd5, cchMd5);
    try {
        wchar_t szHex[33] = {};
        if (!hFile || hFile == INVALID_HANDLE_VALUE || !nubra::Md5OfOpenFile(hFile, szHex))
            return FALSE;
        return CopyOut(szHex, pszMd5, cchMd5) ? TRUE : FALSE;
    } catch (...) {
        Clear(pszMd5, cchMd5);
        return FALSE;
    }
}

// An extra of ours (netlib/NubraSdkExtras.h): the program's log sink for the
// library's own records; null takes it away.
extern "C" __declspec(dllexport) void NubraSetLogSink(PFN_NUBRA_LOG_SINK pfnSink)
{
    try {
        nubra::SetLogSink(pfnSink);
    } catch (...) {
    }
}
