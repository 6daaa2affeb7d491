// A network library that offers the program exactly what the client's own
// NubraSdk.dll promises and nothing of ours: the ten functions, plain C
// names, and progress records that behave like a foreign library's.
//
// Our library delivers records from its own record section with
// SendMessageCallbackW and reports whether a transfer started; a foreign one
// may do neither. So this one runs our transfer with a relay window of its
// own thread as the notify target, copies every record the transfer hands
// the relay into a heap block of its own, and *posts* the copy to the
// program's window; UpgradeDownLoadFile reports nothing (0). A copy is freed
// only when a few hundred newer ones have been posted after it, so that a
// program which reads its records while it handles them finds them intact.
//
// Built with STRICT_FAULT, it is a library that crashes: the transfer thread
// that UpgradeDownLoadFile starts writes through a null pointer, the fault a
// program meets in a foreign library, for the companion's crash record. (A
// fault inside the call itself would be one inside the program's window
// procedure, which the system swallows under Wine and 64-bit Windows.)
#include "netlib/NubraSdk.h"

#include <array>
#include <mutex>
#include <string>
#include <vector>

#include "NubraSdk/Download.h"
#include "NubraSdk/Md5.h"
#include "NubraSdk/NetTrack.h"
#include "NubraSdk/Proxy.h"
#include "netlib/DownloadRecord.h"

namespace {

// Each transfer reports to the relay with a message number of its own,
// WM_APP + its index, which names the program's window and message.
struct CTarget {
    HWND hWnd;
    UINT uMsg;
};
constexpr UINT kMaxTransfers = 0xBFFF - WM_APP;
std::mutex g_targetLock;
std::vector<CTarget> g_vecTargets;

// Touched only on the relay thread.
constexpr size_t kKeptRecords = 256;
std::array<DOWNLOAD_PROGRESS*, kKeptRecords> g_apKept = {};
size_t g_nNextKept = 0;

bool TargetOf(UINT uRelayMsg, CTarget* pTarget)
{
    std::lock_guard<std::mutex> guard(g_targetLock);
    if (uRelayMsg < WM_APP || uRelayMsg - WM_APP >= g_vecTargets.size())
        return false;
    *pTarget = g_vecTargets[uRelayMsg - WM_APP];
    return true;
}

void PostCopy(const CTarget& target, const DOWNLOAD_PROGRESS& record)
{
    DOWNLOAD_PROGRESS* pCopy = new DOWNLOAD_PROGRESS(record);
    delete g_apKept[g_nNextKept];
    g_apKept[g_nNextKept] = pCopy;
    g_nNextKept = (g_nNextKept + 1) % kKeptRecords;
    ::PostMessageW(target.hWnd, target.uMsg, reinterpret_cast<WPARAM>(pCopy), 0);
}

LRESULT CALLBACK RelayProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CTarget target;
    if (uMsg < WM_APP || !TargetOf(uMsg, &target))
        return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
    try {
        // The transfer's record lives only until this handler returns.
        PostCopy(target, *reinterpret_cast<const DOWNLOAD_PROGRESS*>(wParam));
    } catch (...) {
        // Out of memory: the report is lost, as a foreign library might lose it.
    }
    return 0;
}

struct CRelayStart {
    HANDLE hReady;
    HWND hRelay;
};

DWORD WINAPI RelayThread(void* pParam)
{
    CRelayStart* pStart = static_cast<CRelayStart*>(pParam);
    HMODULE hThis = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&RelayProc), &hThis);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &RelayProc;
    wc.hInstance = hThis;
    wc.lpszClassName = L"StrictNubraSdkRelay";
    ::RegisterClassW(&wc);
    pStart->hRelay = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, hThis, nullptr);
    const bool bRunning = pStart->hRelay != nullptr;
    ::SetEvent(pStart->hReady);  // pStart is gone from here on
    // The transfers' sent records are handled while this thread waits here.
    MSG msg;
    while (bRunning && ::GetMessageW(&msg, nullptr, 0, 0) > 0)
        ::DispatchMessageW(&msg);
    return 0;
}

// The relay window, started with the first transfer; null when it could not be.
HWND RelayWindow()
{
    static const HWND s_hRelay = [] {
        CRelayStart start = {::CreateEventW(nullptr, TRUE, FALSE, nullptr), nullptr};
        if (!start.hReady)
            return HWND(nullptr);
        HANDLE hThread = ::CreateThread(nullptr, 0, &RelayThread, &start, 0, nullptr);
        if (hThread) {
            ::WaitForSingleObject(start.hReady, INFINITE);
            ::CloseHandle(hThread);
        }
        ::CloseHandle(start.hReady);
        return start.hRelay;
    }();
    return s_hRelay;
}

bool AddTarget(HWND hWnd, UINT uMsg, UINT* puRelayMsg)
{
    std::lock_guard<std::mutex> guard(g_targetLock);
    if (g_vecTargets.size() >= kMaxTransfers)
        return false;
    g_vecTargets.push_back(CTarget{hWnd, uMsg});
    *puRelayMsg = WM_APP + static_cast<UINT>(g_vecTargets.size() - 1);
    return true;
}

std::wstring Text(LPCWSTR psz)
{
    return psz ? std::wstring(psz) : std::wstring();
}

// Fills a caller's buffer of NUBRA_TEXT_CCH characters, only with a whole text.
bool CopyOut(const std::wstring& s, LPWSTR pszOut)
{
    if (!pszOut || s.size() >= NUBRA_TEXT_CCH)
        return false;
    wcsncpy_s(pszOut, NUBRA_TEXT_CCH, s.c_str(), _TRUNCATE);
    return true;
}

#ifdef STRICT_FAULT
DWORD WINAPI FaultingTransfer(void*)
{
    volatile int* volatile pNowhere = nullptr;  // read at run time: an access violation, not a trap
    *pNowhere = 0;
    return 0;
}
#endif

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
        return 1;
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
    try {
        std::wstring strSetting, strHost, strPort;
        if (nubra::ReadUserProxySetting(strSetting) && nubra::SplitProxyServer(strSetting, strHost, strPort) &&
            CopyOut(strHost, pszHost) && CopyOut(strPort, pszPort))
            return TRUE;
    } catch (...) {
    }
    CopyOut(L"", pszHost);
    CopyOut(L"", pszPort);
    return FALSE;
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
#ifdef STRICT_FAULT
    if (HANDLE hThread = ::CreateThread(nullptr, 0, &FaultingTransfer, nullptr, 0, nullptr))
        ::CloseHandle(hThread);
    return 0;
#endif
    try {
        const HWND hRelay = RelayWindow();
        UINT uRelayMsg = 0;
        if (hRelay && AddTarget(hNotify, uMsg, &uRelayMsg)) {
            nubra::CDownloadRequest request;
            request.strUrl = Text(pszUrl);
            request.strTarget = Text(pszLocalFile);
            request.hNotify = hRelay;
            request.uMsg = uRelayMsg;
            request.llExpectedSize = llExpectedSize;
            request.proxy = nubra::GetProxyConfig();
            nubra::StartDownload(request);
        }
    } catch (...) {
    }
    return 0;  // the client's library promises no result
}

BOOL Md5CalFile(LPCWSTR pszFile, LPWSTR pszMd5)
{
    try {
        wchar_t szHex[33] = {};
        if (pszFile && *pszFile && nubra::Md5OfFile(pszFile, szHex))
            return CopyOut(szHex, pszMd5) ? TRUE : FALSE;
    } catch (...) {
    }
    CopyOut(L"", pszMd5);
    return FALSE;
}
