// Figures for the network library, one run per process so that each peak
// working set belongs to one transfer:
//   netbench lib URL FILE    download with UpgradeDownLoadFile
//   netbench bare URL FILE   the same with a bare WinINet read-and-write loop
//   netbench md5 FILE        Md5CalFile
//   netbench bcrypt FILE     a bare ReadFile + BCrypt MD5 loop, the digest's floor
// Prints "seconds=S bytes=N mbps=R peak_ws_kb=K" (md5 prints its digest too).
#include <windows.h>
#include <bcrypt.h>
#include <psapi.h>
#include <wininet.h>

#include <cstdio>
#include <vector>

#include "netlib/DownloadRecord.h"
#include "netlib/NubraSdk.h"
#include "tests/netlib/bench/BareDownload.h"
#include "win/Handles.h"

namespace {

constexpr UINT kMsg = WM_USER + 258;
int g_nFinal = 0;
ULONGLONG g_ullBytes = 0;

LRESULT CALLBACK SinkProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == kMsg) {
        const auto* p = reinterpret_cast<const DOWNLOAD_PROGRESS*>(wParam);
        g_ullBytes = p->unReceived;
        if (p->iState != DOWNLOAD_STATE_PROGRESS)
            g_nFinal = p->iState;
        return 1;
    }
    return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

// Made before the clock starts: a process's first window loads the display
// driver, which costs a Wine process some hundred milliseconds that neither
// the transfer nor the bare loop has anything to do with.
HWND CreateSink()
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = SinkProc;
    wc.lpszClassName = L"NetBenchSink";
    ::RegisterClassW(&wc);
    return ::CreateWindowExW(0, L"NetBenchSink", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

bool LibraryDownload(HWND hWnd, const wchar_t* pszUrl, const wchar_t* pszFile)
{
    if (!UpgradeDownLoadFile(pszUrl, pszFile, 0, hWnd, kMsg, 0, 0, 0))
        return false;
    // Records arrive as sent messages, which GetMessage handles without
    // returning; peek and wait instead, briefly, as a busy window would.
    while (!g_nFinal) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageW(&msg);
        if (!g_nFinal)
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return g_nFinal == DOWNLOAD_STATE_FINISHED;
}

// The least any MD5 of a file costs here: one handle, one buffer, no checks
// beyond the calls' results.
bool BareDigest(const wchar_t* pszFile, wchar_t* pszHex)
{
    CKernelHandle file(::CreateFileW(pszFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file)
        return false;
    BCRYPT_ALG_HANDLE hAlg = nullptr;
    BCRYPT_HASH_HANDLE hHash = nullptr;
    bool ok = ::BCryptOpenAlgorithmProvider(&hAlg, BCRYPT_MD5_ALGORITHM, nullptr, 0) >= 0;
    CBCryptAlgorithm alg(hAlg);
    ok = ok && ::BCryptCreateHash(hAlg, &hHash, nullptr, 0, nullptr, 0, 0) >= 0;
    CBCryptHash hash(hHash);
    std::vector<BYTE> buf(1024 * 1024);
    while (ok) {
        DWORD n = 0;
        ok = ::ReadFile(file.Get(), buf.data(), static_cast<DWORD>(buf.size()), &n, nullptr) != FALSE;
        if (!ok || n == 0)
            break;
        ok = ::BCryptHashData(hHash, buf.data(), n, 0) >= 0;
        g_ullBytes += n;
    }
    BYTE ab[16] = {};
    ok = ok && ::BCryptFinishHash(hHash, ab, sizeof(ab), 0) >= 0;
    for (int i = 0; ok && i < 16; ++i)
        swprintf(pszHex + 2 * i, 3, L"%02x", ab[i]);
    return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        fwprintf(stderr, L"usage: netbench lib|bare URL FILE | netbench md5|bcrypt FILE\n");
        return 2;
    }
    const HWND hSink = wcscmp(argv[1], L"lib") == 0 ? CreateSink() : nullptr;
    LARGE_INTEGER freq, t0, t1;
    ::QueryPerformanceFrequency(&freq);
    ::QueryPerformanceCounter(&t0);
    bool ok = false;
    wchar_t szMd5[MAX_PATH] = {};
    if (wcscmp(argv[1], L"lib") == 0 && argc == 4) {
        ok = LibraryDownload(hSink, argv[2], argv[3]);
    } else if (wcscmp(argv[1], L"bare") == 0 && argc == 4) {
        ok = BareDownload(argv[2], argv[3], &g_ullBytes);
    } else if (wcscmp(argv[1], L"bcrypt") == 0) {
        ok = BareDigest(argv[2], szMd5);
    } else if (wcscmp(argv[1], L"md5") == 0) {
        ok = Md5CalFile(argv[2], szMd5) != FALSE;
        WIN32_FILE_ATTRIBUTE_DATA d = {};
        if (::GetFileAttributesExW(argv[2], GetFileExInfoStandard, &d))
            g_ullBytes = (static_cast<ULONGLONG>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
    }
    ::QueryPerformanceCounter(&t1);
    const double dSeconds = static_cast<double>(t1.QuadPart - t0.QuadPart) / freq.QuadPart;
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof(pmc);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &pmc, sizeof(pmc));
    printf("ok=%d seconds=%.3f bytes=%llu mbps=%.1f peak_ws_kb=%lu md5=%ls\n", ok ? 1 : 0, dSeconds,
           static_cast<unsigned long long>(g_ullBytes), g_ullBytes / 1048576.0 / (dSeconds > 0 ? dSeconds : 1),
           static_cast<unsigned long>(pmc.PeakWorkingSetSize / 1024), szMd5[0] ? szMd5 : L"-");
    return ok ? 0 : 1;
}
