// The reachability watch thread (see NetTrack.h).
#include "NubraSdk/NetTrack.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "NubraSdk/HostPort.h"
#include "NubraSdk/LibraryThreads.h"
#include "netlib/NubraSdk.h"
#include "win/Handles.h"

namespace nubra {

const wchar_t kDefaultTrackHost[] = NUBRA_DEFAULT_TRACK_HOST;

namespace {

// A loss is reported within a few seconds, while the probes cost next to
// nothing: one connection attempt every three seconds.
constexpr DWORD kProbePeriodMs = 3000;
// A host that has not answered within this time counts as not reached.
constexpr DWORD kConnectTimeoutMs = 2000;
// The program's exit waits no longer than this for the watch.
constexpr DWORD kStopWaitMs = 2000;
// A name with many addresses must not stretch one probe beyond its time-out.
constexpr int kMaxAddressesTried = 4;

enum : int { kUnknown = -1, kLost = 0, kReachable = 1 };

// What the callers configured; read by the thread before every probe.
struct CTrackConfig {
    std::mutex lock;
    CKernelHandle hEvent;  // our duplicate of the caller's event
    std::wstring strServer;
    std::wstring strProxyHost;
    USHORT usProxyPort = 0;
};

// One run of the thread; a thread that outlives its shutdown keeps its own.
struct CTrackRun {
    CKernelHandle hStop;
    std::atomic<int> nState{kUnknown};
};

CTrackConfig& Config()
{
    static CTrackConfig* p = new CTrackConfig;  // never destroyed: a late thread may still read it
    return *p;
}

std::mutex g_runLock;
std::shared_ptr<CTrackRun> g_run;
CKernelHandle g_hThread;

void SignalAttached()
{
    CTrackConfig& cfg = Config();
    std::lock_guard<std::mutex> lock(cfg.lock);
    if (cfg.hEvent)
        ::SetEvent(cfg.hEvent.Get());
}

void CurrentTarget(std::wstring& strHost, USHORT& usPort)
{
    wchar_t szEnv[512] = {};
    const DWORD n = ::GetEnvironmentVariableW(NUBRA_TRACK_SERVER_ENV, szEnv, 512);
    if (n > 0 && n < 512 && SplitHostPort(szEnv, strHost, usPort)) {
        if (!usPort)
            usPort = 80;
        return;
    }
    CTrackConfig& cfg = Config();
    std::lock_guard<std::mutex> lock(cfg.lock);
    if (!SplitHostPort(cfg.strServer, strHost, usPort)) {
        strHost = kDefaultTrackHost;
        usPort = 0;
    }
    if (!usPort && cfg.usProxyPort && _wcsicmp(strHost.c_str(), cfg.strProxyHost.c_str()) == 0)
        usPort = cfg.usProxyPort;
    if (!usPort)
        usPort = 80;
}

// kReachable, kLost, or kUnknown when the stop event cut the probe short.
int Probe(const std::wstring& strHost, USHORT usPort, HANDLE hStop)
{
    ADDRINFOW hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    ADDRINFOW* pResult = nullptr;
    if (::GetAddrInfoW(strHost.c_str(), std::to_wstring(usPort).c_str(), &hints, &pResult) != 0)
        return kLost;
    std::unique_ptr<ADDRINFOW, void (*)(ADDRINFOW*)> result(pResult, [](ADDRINFOW* p) { ::FreeAddrInfoW(p); });

    const ULONGLONG ullEnd = ::GetTickCount64() + kConnectTimeoutMs;
    int nTried = 0;
    for (ADDRINFOW* ai = pResult; ai && nTried < kMaxAddressesTried; ai = ai->ai_next, ++nTried) {
        SOCKET s = ::socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
        if (s == INVALID_SOCKET)
            continue;
        WSAEVENT hConnected = ::WSACreateEvent();
        int nResult = kLost;
        // Event-driven connect so that a shutdown interrupts the wait.
        if (hConnected != WSA_INVALID_EVENT && ::WSAEventSelect(s, hConnected, FD_CONNECT) == 0) {
            if (::connect(s, ai->ai_addr, static_cast<int>(ai->ai_addrlen)) == 0) {
                nResult = kReachable;
            } else if (::WSAGetLastError() == WSAEWOULDBLOCK) {
                const ULONGLONG ullNow = ::GetTickCount64();
                const DWORD dwLeft = ullNow < ullEnd ? static_cast<DWORD>(ullEnd - ullNow) : 0;
                HANDLE ah[2] = {hStop, hConnected};
                const DWORD dwWait = ::WaitForMultipleObjects(2, ah, FALSE, dwLeft);
                WSANETWORKEVENTS events = {};
                if (dwWait == WAIT_OBJECT_0) {
                    nResult = kUnknown;
                } else if (dwWait == WAIT_OBJECT_0 + 1 && ::WSAEnumNetworkEvents(s, hConnected, &events) == 0 &&
                           (events.lNetworkEvents & FD_CONNECT) && events.iErrorCode[FD_CONNECT_BIT] == 0) {
                    nResult = kReachable;
                }
            }
        }
        ::closesocket(s);
        if (hConnected != WSA_INVALID_EVENT)
            ::WSACloseEvent(hConnected);
        if (nResult != kLost)
            return nResult;
        if (::GetTickCount64() >= ullEnd)
            break;
    }
    return kLost;
}

void RunTracker(const std::shared_ptr<CTrackRun>& run)
{
    WSADATA wsa;
    if (::WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return;
    // Address changes (cable, Wi-Fi, VPN) trigger a probe at once where the
    // system reports them; otherwise the period alone drives the probes.
    OVERLAPPED ov = {};
    CKernelHandle hAddrChanged(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ov.hEvent = hAddrChanged.Get();
    HANDLE hNotify = nullptr;
    bool bAddrWatch = hAddrChanged && ::NotifyAddrChange(&hNotify, &ov) == ERROR_IO_PENDING;

    bool bFirst = true;
    // A host that never answered says nothing about the network: it may not
    // exist where this machine looks it up. Only a host that was reached in
    // this run, and is reached no more, counts as a loss.
    bool bEverReached = false;
    std::wstring strLastTarget;
    for (;;) {
        std::wstring strHost;
        USHORT usPort = 0;
        CurrentTarget(strHost, usPort);
        const std::wstring strTarget = strHost + L"#" + std::to_wstring(usPort);
        if (strTarget != strLastTarget)
            bEverReached = false;
        strLastTarget = strTarget;
        const int nResult = Probe(strHost, usPort, run->hStop.Get());
        if (nResult == kUnknown || ::WaitForSingleObject(run->hStop.Get(), 0) == WAIT_OBJECT_0)
            break;
        if (nResult == kReachable)
            bEverReached = true;
        const int nShown = nResult == kLost && !bEverReached ? kUnknown : nResult;
        const int nOld = run->nState.exchange(nShown);
        if (bFirst || nOld != nShown)
            SignalAttached();
        bFirst = false;

        HANDLE ah[2] = {run->hStop.Get(), ov.hEvent};
        const DWORD dwWait = ::WaitForMultipleObjects(bAddrWatch ? 2 : 1, ah, FALSE, kProbePeriodMs);
        if (dwWait == WAIT_OBJECT_0)
            break;
        if (dwWait == WAIT_OBJECT_0 + 1) {
            ::ResetEvent(ov.hEvent);
            bAddrWatch = ::NotifyAddrChange(&hNotify, &ov) == ERROR_IO_PENDING;
        }
    }
    // The overlapped lives on this stack: let a cancelled request finish,
    // but never hold the shut-down up for a system that does not say so.
    if (bAddrWatch && ::CancelIPChangeNotify(&ov))
        ::WaitForSingleObject(ov.hEvent, 200);
    ::WSACleanup();
}

DWORD WINAPI TrackThread(void* pParam)
{
    try {
        std::unique_ptr<std::shared_ptr<CTrackRun>> run(static_cast<std::shared_ptr<CTrackRun>*>(pParam));
        RunTracker(*run);
    } catch (...) {
        // Nothing leaves a thread of the library; the state stays as it was.
    }
    ExitLibraryThread(1);
}

}  // namespace

bool TrackAttach(HANDLE hEvent)
{
    // A duplicate keeps the event object alive even if the caller closes its
    // handle early, and is never a recycled handle value.
    HANDLE hDup = nullptr;
    if (hEvent && !::DuplicateHandle(::GetCurrentProcess(), hEvent, ::GetCurrentProcess(), &hDup, 0, FALSE,
                                     DUPLICATE_SAME_ACCESS))
        return false;
    bool bKnown = false;
    {
        CTrackConfig& cfg = Config();
        std::lock_guard<std::mutex> lock(cfg.lock);
        cfg.hEvent.Reset(hDup);
        std::lock_guard<std::mutex> runLock(g_runLock);
        bKnown = g_run && g_run->nState.load() != kUnknown;
    }
    // A newcomer learns of a state that was settled before it attached.
    if (bKnown)
        SignalAttached();
    return hDup != nullptr;
}

void TrackDetach()
{
    CTrackConfig& cfg = Config();
    std::lock_guard<std::mutex> lock(cfg.lock);
    cfg.hEvent.Reset();
}

void TrackSetServer(const std::wstring& strServer)
{
    CTrackConfig& cfg = Config();
    std::lock_guard<std::mutex> lock(cfg.lock);
    cfg.strServer = strServer;
}

void TrackSetProxy(const std::wstring& strHost, const std::wstring& strPort)
{
    CTrackConfig& cfg = Config();
    std::lock_guard<std::mutex> lock(cfg.lock);
    cfg.strProxyHost = BareHost(strHost);
    cfg.usProxyPort = ParsePort(strPort);
}

bool TrackStart()
{
    std::lock_guard<std::mutex> lock(g_runLock);
    if (g_run)
        return true;
    auto run = std::make_shared<CTrackRun>();
    run->hStop.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!run->hStop)
        return false;
    auto pArg = std::make_unique<std::shared_ptr<CTrackRun>>(run);
    HANDLE hThread = nullptr;
    if (!StartLibraryThread(&TrackThread, pArg.get(), &hThread))
        return false;
    pArg.release();
    g_run = run;
    g_hThread.Reset(hThread);
    return true;
}

int TrackState()
{
    std::lock_guard<std::mutex> lock(g_runLock);
    // Before the first answer the network counts as reachable, so that the
    // start-up race never reports a loss that did not happen.
    return g_run && g_run->nState.load() == kLost ? 0 : 1;
}

void TrackShutdown()
{
    std::shared_ptr<CTrackRun> run;
    CKernelHandle hThread;
    {
        std::lock_guard<std::mutex> lock(g_runLock);
        run.swap(g_run);
        hThread = std::move(g_hThread);
    }
    if (run)
        ::SetEvent(run->hStop.Get());
    if (hThread) {
        // A name lookup cannot be interrupted; the thread then ends on its own.
        ::WaitForSingleObject(hThread.Get(), kStopWaitMs);
    }
}

}  // namespace nubra
