// Yardsticks for the program's own figures, run by scripts/bench.sh (not a
// test):
//   perfbench ideal URL FILE   what an upgrade needs at the least: a bare
//                              WinINet loop into FILE, one Md5CalFile, and a
//                              start of FILE with the setup switch; prints
//                              the wall-clock start so the caller can time
//                              the started program's first line against it
//   perfbench watch            a program that only runs the 10 ms instance
//                              watch, for idle CPU; runs until killed
//   perfbench repaint          the skinned upgrade window against a plain
//                              window of the same size (background only) and
//                              against the same face in standard controls,
//                              in alternating batches; run from the folder
//                              that holds UISkin
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "include/DazuvuVevUpgradeClient.h"
#include "netlib/NubraSdk.h"
#include "tests/netlib/bench/BareDownload.h"
#include "ui/SkinLayer.h"
#include "win/Handles.h"

namespace {

double Now()
{
    static LARGE_INTEGER freq = {};
    if (!freq.QuadPart)
        ::QueryPerformanceFrequency(&freq);
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

// Seconds since 1970, the clock file times on the host use too.
double EpochNow()
{
    FILETIME ft;
    ::GetSystemTimePreciseAsFileTime(&ft);
    const ULONGLONG ull = (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return static_cast<double>(ull - 116444736000000000ULL) / 1e7;
}

int Ideal(const wchar_t* pszUrl, const wchar_t* pszFile)
{
    const double dEpoch = EpochNow();
    const double t0 = Now();
    const bool bDownloaded = BareDownload(pszUrl, pszFile);
    const double t1 = Now();
    wchar_t szMd5[MAX_PATH] = {};
    Md5CalFile(pszFile, szMd5);
    const double t2 = Now();
    ::ShellExecuteW(nullptr, L"open", pszFile, UPGRADE_SETUP_SWITCH, nullptr, SW_SHOWNORMAL);
    printf("ok=%d start_epoch=%.6f download=%.3f digest=%.3f md5=%ls\n", bDownloaded && szMd5[0] ? 1 : 0, dEpoch,
           t1 - t0, t2 - t1, szMd5);
    return bDownloaded ? 0 : 1;
}

volatile DWORD g_dwWatched = 0;

DWORD WINAPI WatchThread(LPVOID)
{
    const DWORD dwOwn = ::GetCurrentProcessId();
    for (;;) {
        if (g_dwWatched != dwOwn)
            ::TerminateProcess(::GetCurrentProcess(), 0);
        ::Sleep(10);
    }
}

int Watch()
{
    g_dwWatched = ::GetCurrentProcessId();
    CKernelHandle thread(::CreateThread(nullptr, 0, &WatchThread, nullptr, 0, nullptr));
    printf("watching\n");
    fflush(stdout);
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0)
        ::DispatchMessageW(&msg);
    return 0;
}

// -- repaint ----------------------------------------------------------------

const int kWidth = 420;
const int kHeight = 196;

HWND NewTopWindow(const wchar_t* pszClass, int x, int y)
{
    HWND hWnd = ::CreateWindowExW(0, pszClass, L"perfbench", WS_POPUP, x, y, kWidth, kHeight, nullptr, nullptr,
                                  ::GetModuleHandleW(nullptr), nullptr);
    ::ShowWindow(hWnd, SW_SHOWNOACTIVATE);
    ::UpdateWindow(hWnd);
    return hWnd;
}

void Pump()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        ::DispatchMessageW(&msg);
}

struct CPlainFace {
    HWND hWnd = nullptr;
    HWND hSpeed = nullptr;
    HWND hAmount = nullptr;
    HWND hBar = nullptr;
};

// The download face as a plain program would build it: a caption, two
// labelled texts, a bar and two small texts, all standard controls.
CPlainFace MakePlainFace()
{
    CPlainFace face;
    face.hWnd = NewTopWindow(L"PerfBenchPlain", 0, 300);
    HINSTANCE hInst = ::GetModuleHandleW(nullptr);
    auto child = [&](const wchar_t* pszClass, const wchar_t* pszText, int x, int y, int cx, int cy) {
        return ::CreateWindowExW(0, pszClass, pszText, WS_CHILD | WS_VISIBLE, x, y, cx, cy, face.hWnd, nullptr, hInst,
                                 nullptr);
    };
    child(L"STATIC", L"软件升级", 16, 0, 320, 36);
    child(L"STATIC", L"文件：", 24, 50, 44, 22);
    child(L"STATIC", L"DazuvuvevSetup_5.1.0.2046.exe", 68, 50, 328, 22);
    child(L"STATIC", L"版本：", 24, 74, 44, 22);
    child(L"STATIC", L"5.1.0.2046", 68, 74, 328, 22);
    face.hBar = child(PROGRESS_CLASSW, L"", 24, 108, 372, 6);
    face.hSpeed = child(L"STATIC", L"", 24, 120, 180, 20);
    face.hAmount = child(L"STATIC", L"", 216, 120, 180, 20);
    child(L"BUTTON", L"后台下载", 300, 154, 96, 28);
    ::UpdateWindow(face.hWnd);
    return face;
}

struct CSkinFace {
    HWND hWnd = nullptr;
    DUI_CTRLBASE* pSpeed = nullptr;
    DUI_CTRLBASE* pAmount = nullptr;
    DUI_CTRLBASE* pBar = nullptr;
};

bool MakeSkinFace(CSkinFace& face)
{
    IDUIRes* pRes = OpenSkinW(L"UISkin\\DazuvuVev.dui", L"UISkin\\Default.skn", 0, 0, 0);
    if (!pRes)
        return false;
    face.hWnd = ::CreateWindowExW(0, L"PerfBenchPlain", L"正在下载", WS_POPUP, 0, 40, kWidth, kHeight, nullptr, nullptr,
                                  ::GetModuleHandleW(nullptr), nullptr);
    IDirectUI* pUI = AttachSkinWindow(pRes, L"UpgradeDUI", face.hWnd);
    if (!pUI)
        return false;
    ::SetWindowPos(face.hWnd, nullptr, 0, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    // The download face, as after the first progress report.
    SetCtrlVisible(FindSkinCtrl(pUI, L"LoadingStatic", true), false);
    SetCtrlVisible(FindSkinCtrl(pUI, L"LoadingAnimate", true), false);
    SetCtrlVisible(FindSkinCtrl(pUI, L"UPgradeForm", true), true);
    SetCtrlText(FindSkinCtrl(pUI, L"FileNameStatic", true), L"DazuvuvevSetup_5.1.0.2046.exe");
    SetCtrlText(FindSkinCtrl(pUI, L"VersionStatic", true), L"5.1.0.2046");
    face.pSpeed = FindSkinCtrl(pUI, L"SpeedStatic", true);
    face.pAmount = FindSkinCtrl(pUI, L"AlreadyloadStatic", true);
    face.pBar = FindSkinCtrl(pUI, L"DownloadProgress", true);
    ::ShowWindow(face.hWnd, SW_SHOWNOACTIVATE);
    ::UpdateWindow(face.hWnd);
    return face.pSpeed && face.pAmount && face.pBar;
}

void FlushPaint(HWND hWnd)
{
    ::RedrawWindow(hWnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    ::GdiFlush();
}

void WholeRepaint(HWND hWnd)
{
    ::RedrawWindow(hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    ::GdiFlush();
}

// A new speed, amount and bar position, as one progress report brings.
void UpdateTexts(int n, wchar_t (&szSpeed)[64], wchar_t (&szAmount)[64])
{
    swprintf(szSpeed, 64, L"%d.%dKB/S", 1000 + n % 9000, n % 10);
    swprintf(szAmount, 64, L"%d.%02dMB/300.00MB", (n / 3) % 300, n % 100);
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

int Repaint(int nBatches, int nPerBatch)
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = L"PerfBenchPlain";
    ::RegisterClassW(&wc);
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&icc);

    CSkinFace skin;
    if (!MakeSkinFace(skin)) {
        fprintf(stderr, "perfbench: the skin did not load: %ls\n", SkinLastError().c_str());
        return 1;
    }
    CPlainFace controls = MakePlainFace();
    // The yardstick: a window of the same size that paints only its background.
    HWND hPlain = NewTopWindow(L"PerfBenchPlain", 480, 40);
    Pump();

    std::vector<double> vecSkinUpdate, vecControlsUpdate, vecSkinWhole, vecPlainWhole;
    wchar_t szSpeed[64], szAmount[64];
    int n = 0;
    for (int b = 0; b < nBatches; ++b) {
        double t = Now();
        for (int i = 0; i < nPerBatch; ++i, ++n) {
            UpdateTexts(n, szSpeed, szAmount);
            SetCtrlText(skin.pSpeed, szSpeed);
            SetCtrlText(skin.pAmount, szAmount);
            SetCtrlPos(skin.pBar, n % 101);
            FlushPaint(skin.hWnd);
        }
        vecSkinUpdate.push_back((Now() - t) / nPerBatch);
        t = Now();
        for (int i = 0; i < nPerBatch; ++i, ++n) {
            UpdateTexts(n, szSpeed, szAmount);
            ::SetWindowTextW(controls.hSpeed, szSpeed);
            ::SetWindowTextW(controls.hAmount, szAmount);
            ::SendMessageW(controls.hBar, PBM_SETPOS, n % 101, 0);
            FlushPaint(controls.hWnd);
        }
        vecControlsUpdate.push_back((Now() - t) / nPerBatch);
        t = Now();
        for (int i = 0; i < nPerBatch; ++i)
            WholeRepaint(skin.hWnd);
        vecSkinWhole.push_back((Now() - t) / nPerBatch);
        t = Now();
        for (int i = 0; i < nPerBatch; ++i)
            WholeRepaint(hPlain);
        vecPlainWhole.push_back((Now() - t) / nPerBatch);
        Pump();
    }
    printf("update_skin_us=%.1f update_controls_us=%.1f whole_skin_us=%.1f whole_plain_us=%.1f\n",
           Median(vecSkinUpdate) * 1e6, Median(vecControlsUpdate) * 1e6, Median(vecSkinWhole) * 1e6,
           Median(vecPlainWhole) * 1e6);
    ::DestroyWindow(hPlain);
    ::DestroyWindow(controls.hWnd);
    ::DestroyWindow(skin.hWnd);
    FreeSkin();
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 4 && wcscmp(argv[1], L"ideal") == 0)
        return Ideal(argv[2], argv[3]);
    if (argc == 2 && wcscmp(argv[1], L"watch") == 0)
        return Watch();
    if (argc >= 2 && wcscmp(argv[1], L"repaint") == 0)
        return Repaint(argc > 2 ? _wtoi(argv[2]) : 15, argc > 3 ? _wtoi(argv[3]) : 100);
    fprintf(stderr, "usage: perfbench ideal URL FILE | perfbench watch | perfbench repaint [BATCHES [PER_BATCH]]\n");
    return 2;
}
