// A plain stand-in for the client's network library, written from what the
// program may rely on and nothing more: the ten functions, the record's
// layout, the digest text. WinINet downloads, the CryptoAPI digests: nothing
// is shared with our library. Each build (one per folder) makes one choice
// the program may not assume differently from ours:
//   PLAIN_COUNTS    counts of the server's answer, whatever size was ordered,
//                   and 0xFFFFFFFF for an answer without a length
//   PLAIN_UNSHARED  the digest opens the file unshared and, when it cannot,
//                   writes the digest of no bytes
//   PLAIN_STORAGE   records in turn from one reused buffer (posted), the
//                   stack (sent) and the heap (sent, then freed)
//   PLAIN_SILENT    no final record: the complete file, then silence
//   PLAIN_LATECLOSE keeps the file open for writing (sharing it for reading
//                   only) for six seconds after its final record
//   PLAIN_STDCALL   the ten functions standard-call under their plain names
//   PLAIN_LOSTWATCH the watch signals at its start and finds lost every host
//                   that does not answer; a name counts as one that does not
//                   resolve and is never looked up, so no test asks a resolver
//   PLAIN_UPPER     upper-case hex digits from Md5CalFile
// Otherwise: the ordered size as the count, records posted from a ring, a
// digest that shares the file with everyone, one final record after the file
// is closed, C calls, lower-case digits, and a watch that never sees a loss.
#include <windows.h>
#include <wincrypt.h>
#include <wininet.h>

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>

#include "win/Handles.h"

#define PLAIN_API extern "C" __declspec(dllexport)
// The standard-call build drops the "@n" its exports would carry
// (-Wl,--kill-at): the names stay the plain ones the program imports.
#if defined(PLAIN_STDCALL)
#define PLAIN_CALL __stdcall
#else
#define PLAIN_CALL
#endif

namespace {

struct PLAIN_RECORD {
    int32_t iState;
    uint8_t abLibrary[524];
    uint32_t unFileSize;
    uint32_t unPosition;
    uint32_t unReceived;
    uint32_t unExtra;
    double dSpeed;
};
static_assert(offsetof(PLAIN_RECORD, unFileSize) == 528 && offsetof(PLAIN_RECORD, dSpeed) == 544, "record layout");

enum { STATE_PROGRESS = 1, STATE_FINISHED = 2, STATE_NET_FAILED = 3, STATE_FILE_FAILED = 4 };
const DWORD UNKNOWN_LENGTH = 0xFFFFFFFF;
const ULONGLONG REPORT_EVERY_MS = 250;
const DWORD READ_CHUNK = 64 * 1024;
const DWORD RECEIVE_TIMEOUT_MS = 30000;
const ULONG RING_SIZE = 32;
const DWORD LATE_CLOSE_MS = 6000;
const DWORD PROBE_TIMEOUT_MS = 1000;

// Set by the program's start-up, before any transfer begins.
HANDLE g_hTrackEvent;
std::wstring g_strProxy, g_strProxyUser, g_strProxyPassword;
std::wstring g_strTrackHost;

struct CTransfer {
    std::wstring strUrl, strFile;
    HWND hNotify;
    UINT uMsg;
    int64_t llOrdered;
    ULONGLONG ullStart;
};

PLAIN_RECORD MakeRecord(const CTransfer& t, int iState, DWORD dwFileSize, DWORD dwReceived)
{
    PLAIN_RECORD record = {};
    record.iState = iState;
    record.unFileSize = dwFileSize;
    record.unReceived = dwReceived;
    const ULONGLONG ullMs = GetTickCount64() - t.ullStart;
    record.dSpeed = ullMs ? dwReceived / 1024.0 / (ullMs / 1000.0) : 0.0;
    return record;
}

void Deliver(const CTransfer& t, const PLAIN_RECORD& record)
{
#if defined(PLAIN_STORAGE)
    // Every storage a window may be handed, in turn: a posted buffer that the
    // third record after it overwrites, a sent one on this stack, and a sent
    // one on the heap that is gone as soon as the window returns.
    static PLAIN_RECORD s_reused;
    static LONG s_nTurn;
    const LONG nTurn = InterlockedIncrement(&s_nTurn) % 3;
    PLAIN_RECORD onStack = record;
    if (nTurn == 0) {
        s_reused = record;
        PostMessageW(t.hNotify, t.uMsg, reinterpret_cast<WPARAM>(&s_reused), 0);
    } else if (nTurn == 1) {
        SendMessageW(t.hNotify, t.uMsg, reinterpret_cast<WPARAM>(&onStack), 0);
    } else {
        std::unique_ptr<PLAIN_RECORD> pOnHeap(new PLAIN_RECORD(record));
        SendMessageW(t.hNotify, t.uMsg, reinterpret_cast<WPARAM>(pOnHeap.get()), 0);
    }
#else
    // A posted record must outlive its message: the ring lets the window
    // fall eight seconds behind before a record it has not read is reused.
    static PLAIN_RECORD s_ring[RING_SIZE];
    static LONG s_nNext;
    PLAIN_RECORD* pRecord = &s_ring[static_cast<ULONG>(InterlockedIncrement(&s_nNext)) % RING_SIZE];
    *pRecord = record;
    PostMessageW(t.hNotify, t.uMsg, reinterpret_cast<WPARAM>(pRecord), 0);
#endif
}

// One GET into the target, reported as it goes; returns how it ended and
// leaves the last counts in dwFileSize and dwReceived. The target is left
// open in hFile, for the caller to close when it chooses.
int Fetch(const CTransfer& t, CKernelHandle& hFile, DWORD& dwFileSize, DWORD& dwReceived)
{
    const bool bProxy = !g_strProxy.empty();
    CInetHandle hNet(InternetOpenW(L"PlainNubra", bProxy ? INTERNET_OPEN_TYPE_PROXY : INTERNET_OPEN_TYPE_DIRECT,
                                   bProxy ? g_strProxy.c_str() : nullptr, nullptr, 0));
    if (!hNet)
        return STATE_NET_FAILED;
    DWORD dwTimeout = RECEIVE_TIMEOUT_MS;
    InternetSetOptionW(hNet.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &dwTimeout, sizeof(dwTimeout));
    if (bProxy && !g_strProxyUser.empty()) {
        InternetSetOptionW(hNet.Get(), INTERNET_OPTION_PROXY_USERNAME, const_cast<wchar_t*>(g_strProxyUser.c_str()),
                           static_cast<DWORD>(g_strProxyUser.size()));
        InternetSetOptionW(hNet.Get(), INTERNET_OPTION_PROXY_PASSWORD, const_cast<wchar_t*>(g_strProxyPassword.c_str()),
                           static_cast<DWORD>(g_strProxyPassword.size()));
    }
    CInetHandle hUrl(InternetOpenUrlW(hNet.Get(), t.strUrl.c_str(), nullptr, 0,
                                      INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI, 0));
    DWORD dwStatus = 0, dwLength = 0, cb = sizeof(DWORD);
    if (!hUrl ||
        !HttpQueryInfoW(hUrl.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &dwStatus, &cb, nullptr) ||
        dwStatus != HTTP_STATUS_OK)
        return STATE_NET_FAILED;
    cb = sizeof(DWORD);
    const bool bKnown = HttpQueryInfoW(hUrl.Get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &dwLength, &cb,
                                       nullptr) != FALSE;
#if defined(PLAIN_COUNTS)
    dwFileSize = bKnown ? dwLength : UNKNOWN_LENGTH;
#else
    dwFileSize = t.llOrdered > 0 ? static_cast<DWORD>(t.llOrdered) : (bKnown ? dwLength : 0);
#endif
    hFile.Reset(CreateFileW(t.strFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile)
        return STATE_FILE_FAILED;
    Deliver(t, MakeRecord(t, STATE_PROGRESS, dwFileSize, 0));
    std::unique_ptr<BYTE[]> pChunk(new BYTE[READ_CHUNK]);
    ULONGLONG ullReported = GetTickCount64();
    for (;;) {
        DWORD dwRead = 0, dwWritten = 0;
        if (!InternetReadFile(hUrl.Get(), pChunk.get(), READ_CHUNK, &dwRead))
            return STATE_NET_FAILED;
        if (dwRead == 0)
            break;
        if (!WriteFile(hFile.Get(), pChunk.get(), dwRead, &dwWritten, nullptr) || dwWritten != dwRead)
            return STATE_FILE_FAILED;
        dwReceived += dwRead;
        if (GetTickCount64() - ullReported >= REPORT_EVERY_MS) {
            ullReported = GetTickCount64();
            Deliver(t, MakeRecord(t, STATE_PROGRESS, dwFileSize, dwReceived));
        }
    }
    // An answer cut short ends with no error from WinINet, only too few bytes.
    return bKnown && dwReceived != dwLength ? STATE_NET_FAILED : STATE_FINISHED;
}

DWORD WINAPI TransferThread(LPVOID pParam)
try {
    std::unique_ptr<CTransfer> pTransfer(static_cast<CTransfer*>(pParam));
    DWORD dwFileSize = 0, dwReceived = 0;
    CKernelHandle hFile;
    const int iEnd = Fetch(*pTransfer, hFile, dwFileSize, dwReceived);
#if defined(PLAIN_LATECLOSE)
    Deliver(*pTransfer, MakeRecord(*pTransfer, iEnd, dwFileSize, dwReceived));
    Sleep(LATE_CLOSE_MS);
#else
    hFile.Reset();  // closed before anyone hears of the end
#if defined(PLAIN_SILENT)
    (void)iEnd;
#else
    Deliver(*pTransfer, MakeRecord(*pTransfer, iEnd, dwFileSize, dwReceived));
#endif
#endif
    return 0;
} catch (...) {
    return 0;
}

#if defined(PLAIN_LOSTWATCH)
// Whether the watched host answers an HTTP request within a second. Only an
// address is tried: a name is never looked up.
bool TrackHostAnswers()
{
    const std::wstring& strHost = g_strTrackHost;
    if (strHost.empty() || (strHost[0] != L'[' && strHost.find_first_not_of(L"0123456789.:") != std::wstring::npos))
        return false;
    CInetHandle hNet(InternetOpenW(L"PlainNubra", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!hNet)
        return false;
    DWORD dwTimeout = PROBE_TIMEOUT_MS;
    InternetSetOptionW(hNet.Get(), INTERNET_OPTION_CONNECT_TIMEOUT, &dwTimeout, sizeof(dwTimeout));
    InternetSetOptionW(hNet.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &dwTimeout, sizeof(dwTimeout));
    CInetHandle hUrl(InternetOpenUrlW(hNet.Get(), (L"http://" + strHost + L"/").c_str(), nullptr, 0,
                                      INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI, 0));
    return hUrl.IsValid();
}
#endif

}  // namespace

// Except in the lost-watch build, the watch never sees the network go: the
// attached event is kept and never signalled, and the state asked for is
// always "reachable".
PLAIN_API BOOL PLAIN_CALL InternetTrackAttach(HANDLE hEvent)
try {
    g_hTrackEvent = hEvent;
    return TRUE;
} catch (...) {
    return FALSE;
}

PLAIN_API BOOL PLAIN_CALL InternetTrackSetServer(LPCWSTR pszHost)
try {
    g_strTrackHost = pszHost ? pszHost : L"";
    return TRUE;
} catch (...) {
    return FALSE;
}

PLAIN_API BOOL PLAIN_CALL InternetTrackStartNetTrack(void)
try {
#if defined(PLAIN_LOSTWATCH)
    if (g_hTrackEvent)
        SetEvent(g_hTrackEvent);
#endif
    return TRUE;
} catch (...) {
    return FALSE;
}

PLAIN_API int PLAIN_CALL InternetTrackCheckNetState(void)
try {
#if defined(PLAIN_LOSTWATCH)
    return TrackHostAnswers() ? 1 : 0;
#else
    return 1;
#endif
} catch (...) {
    return 1;
}

PLAIN_API void PLAIN_CALL InternetTrackDeAttach(void)
try {
    g_hTrackEvent = nullptr;
} catch (...) {
}

PLAIN_API void PLAIN_CALL InternetTrackShutDownNetTrack(void)
try {
} catch (...) {
}

PLAIN_API BOOL PLAIN_CALL GetIEProxy(LPWSTR, LPWSTR)
try {
    return FALSE;
} catch (...) {
    return FALSE;
}

PLAIN_API BOOL PLAIN_CALL InitHttpX(LPCWSTR pszHost, LPCWSTR pszPort, LPCWSTR pszUser, LPCWSTR pszPassword, int)
try {
    if (!pszHost || !*pszHost)
        return FALSE;
    g_strProxy = std::wstring(pszHost) + (pszPort && *pszPort ? std::wstring(L":") + pszPort : L"");
    g_strProxyUser = pszUser ? pszUser : L"";
    g_strProxyPassword = pszPassword ? pszPassword : L"";
    return TRUE;
} catch (...) {
    return FALSE;
}

PLAIN_API int PLAIN_CALL UpgradeDownLoadFile(LPCWSTR pszUrl, LPCWSTR pszLocalFile, int, HWND hNotify, UINT uMsg, int,
                                             __int64 llExpectedSize, int)
try {
    if (!pszUrl || !pszLocalFile || !IsWindow(hNotify))
        return 0;
    std::unique_ptr<CTransfer> pTransfer(
        new CTransfer{pszUrl, pszLocalFile, hNotify, uMsg, llExpectedSize, GetTickCount64()});
    CKernelHandle hThread(CreateThread(nullptr, 0, TransferThread, pTransfer.get(), 0, nullptr));
    if (!hThread)
        return 0;
    pTransfer.release();  // the thread owns it now
    return 1;
} catch (...) {
    return 0;
}

PLAIN_API BOOL PLAIN_CALL Md5CalFile(LPCWSTR pszFile, LPWSTR pszMd5)
try {
    if (!pszFile || !pszMd5)
        return FALSE;
#if defined(PLAIN_UNSHARED)
    const DWORD dwShare = 0;
#else
    const DWORD dwShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
#endif
    CKernelHandle hFile(
        CreateFileW(pszFile, GENERIC_READ, dwShare, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
#if !defined(PLAIN_UNSHARED)
    if (!hFile)
        return FALSE;
#endif
    HCRYPTPROV hRawProv = 0;
    if (!CryptAcquireContextW(&hRawProv, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        return FALSE;
    CCryptProv hProv(hRawProv);
    HCRYPTHASH hRawHash = 0;
    if (!CryptCreateHash(hProv.Get(), CALG_MD5, 0, 0, &hRawHash))
        return FALSE;
    CCryptHash hHash(hRawHash);
    std::unique_ptr<BYTE[]> pChunk(new BYTE[READ_CHUNK]);
    for (DWORD dwRead = 0; hFile;) {  // a file it could not open is hashed as no bytes
        if (!ReadFile(hFile.Get(), pChunk.get(), READ_CHUNK, &dwRead, nullptr))
            return FALSE;
        if (dwRead == 0)
            break;
        if (!CryptHashData(hHash.Get(), pChunk.get(), dwRead, 0))
            return FALSE;
    }
    BYTE abDigest[16];
    DWORD cbDigest = sizeof(abDigest);
    if (!CryptGetHashParam(hHash.Get(), HP_HASHVAL, abDigest, &cbDigest, 0) || cbDigest != sizeof(abDigest))
        return FALSE;
#if defined(PLAIN_UPPER)
    static const wchar_t kHex[] = L"0123456789ABCDEF";
#else
    static const wchar_t kHex[] = L"0123456789abcdef";
#endif
    for (DWORD i = 0; i < cbDigest; ++i) {
        pszMd5[2 * i] = kHex[abDigest[i] >> 4];
        pszMd5[2 * i + 1] = kHex[abDigest[i] & 15];
    }
    pszMd5[2 * cbDigest] = L'\0';
    return TRUE;
} catch (...) {
    return FALSE;
}
