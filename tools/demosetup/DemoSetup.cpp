// The setup program of the demonstration. The companion starts it with
// "/UPGRADESHELL"; it notes how it was started, shows that in a small window
// for a few seconds, as a real setup would greet the user, and exits 0.
//
// Each run appends one UTF-8 line "<pid>\t<command line>" to the file named
// by DEMOSETUP_RECORD (else "demosetup-runs.txt" beside the program), before
// the window opens, so a run is on record even if the window never shows.
// DEMOSETUP_SHOW_MS sets how long the window stays (default 4000 ms).
#include <windows.h>

#include "include/DazuvuVevUpgradeClient.h"
#include "win/Handles.h"
#include "win/Utf8.h"

#include <cwchar>
#include <string>

namespace {

const wchar_t kWindowClass[] = L"DazuvuvevDemoSetup";
const wchar_t kWindowTitle[] = L"Dazuvuvev 安装程序";
const wchar_t kHeading[] = L"正在安装 Dazuvuvev 新版本…";
const wchar_t kCommandLineLabel[] = L"命令行：";
const wchar_t kSwitchSeen[] = L"已收到升级开关 " UPGRADE_SETUP_SWITCH;
const wchar_t kSwitchMissing[] = L"没有升级开关 " UPGRADE_SETUP_SWITCH;
const wchar_t kUpgradeSwitch[] = UPGRADE_SETUP_SWITCH;
const UINT_PTR kCloseTimer = 1;
const UINT kDefaultShowMs = 4000;
const int kWidth = 480;
const int kHeight = 210;

std::wstring g_strCommandLine;
bool g_bSwitchSeen = false;

std::wstring EnvValue(const wchar_t* pszName)
{
    wchar_t szValue[32768];
    const DWORD n = ::GetEnvironmentVariableW(pszName, szValue, ARRAYSIZE(szValue));
    return n > 0 && n < ARRAYSIZE(szValue) ? std::wstring(szValue, n) : std::wstring();
}

std::wstring RecordPath()
{
    std::wstring strPath = EnvValue(L"DEMOSETUP_RECORD");
    if (!strPath.empty())
        return strPath;
    wchar_t szOwn[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameW(nullptr, szOwn, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return std::wstring();
    strPath.assign(szOwn, n);
    return strPath.substr(0, strPath.find_last_of(L'\\') + 1) + L"demosetup-runs.txt";
}

bool AppendRecord(const std::wstring& strLine)
{
    const std::wstring strPath = RecordPath();
    const std::string strUtf8 = WideToUtf8(strLine);
    const DWORD cb = static_cast<DWORD>(strUtf8.size());
    if (strPath.empty() || cb == 0)
        return false;
    const CKernelHandle file(::CreateFileW(strPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return false;
    DWORD cbWritten = 0;
    const BOOL bOk = ::WriteFile(file.Get(), strUtf8.data(), cb, &cbWritten, nullptr);
    return bOk && cbWritten == cb;
}

CFontHandle MakeFont(int nHeight, int nWeight)
{
    return CFontHandle(::CreateFontW(-nHeight, 0, 0, 0, nWeight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH,
                                     L"Microsoft YaHei"));
}

void PaintContents(HDC hDC, const RECT& rcClient)
{
    // A title band of our own: without a window manager nobody else draws one.
    RECT rcBand = {0, 0, rcClient.right, 40};
    const CBrushHandle band(::CreateSolidBrush(RGB(0x2D, 0x7F, 0xF9)));
    ::FillRect(hDC, &rcBand, band.Get());
    ::SetBkMode(hDC, TRANSPARENT);

    const CFontHandle fontTitle = MakeFont(18, FW_BOLD);
    const CFontHandle fontBody = MakeFont(15, FW_NORMAL);
    // Put back before the fonts go, which are older and so deleted later.
    const CSelectObject selectFont(hDC, fontTitle.Get());
    ::SetTextColor(hDC, RGB(0xFF, 0xFF, 0xFF));
    RECT rcTitle = {16, 0, rcClient.right - 16, 40};
    ::DrawTextW(hDC, kWindowTitle, -1, &rcTitle, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);

    ::SetTextColor(hDC, RGB(0x22, 0x22, 0x22));
    RECT rcHeading = {24, 54, rcClient.right - 24, 80};
    ::DrawTextW(hDC, kHeading, -1, &rcHeading, DT_SINGLELINE | DT_NOPREFIX);

    ::SelectObject(hDC, fontBody.Get());
    ::SetTextColor(hDC, RGB(0x55, 0x5B, 0x66));
    const std::wstring strShown = std::wstring(kCommandLineLabel) + g_strCommandLine;
    RECT rcLine = {24, 90, rcClient.right - 24, 160};
    ::DrawTextW(hDC, strShown.c_str(), -1, &rcLine, DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX);

    ::SetTextColor(hDC, g_bSwitchSeen ? RGB(0x1E, 0x8E, 0x3E) : RGB(0xC6, 0x28, 0x28));
    RECT rcSwitch = {24, 170, rcClient.right - 24, 196};
    ::DrawTextW(hDC, g_bSwitchSeen ? kSwitchSeen : kSwitchMissing, -1, &rcSwitch, DT_SINGLELINE | DT_NOPREFIX);
}

void OnPaint(HWND hWnd)
{
    PAINTSTRUCT ps;
    HDC hDC = ::BeginPaint(hWnd, &ps);
    RECT rcClient;
    ::GetClientRect(hWnd, &rcClient);
    PaintContents(hDC, rcClient);
    ::EndPaint(hWnd, &ps);
}

LRESULT CALLBACK WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_PAINT:
        OnPaint(hWnd);
        return 0;
    case WM_TIMER:
        if (wParam == kCloseTimer)
            ::DestroyWindow(hWnd);
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    default:
        return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
    }
}

UINT ShowMs()
{
    const std::wstring strValue = EnvValue(L"DEMOSETUP_SHOW_MS");
    if (strValue.empty())
        return kDefaultShowMs;
    const unsigned long ulMs = std::wcstoul(strValue.c_str(), nullptr, 10);
    return ulMs > 0 && ulMs <= 600000 ? static_cast<UINT>(ulMs) : kDefaultShowMs;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR pszArgs, int)
{
    g_strCommandLine = ::GetCommandLineW();
    g_bSwitchSeen = pszArgs && std::wcsstr(pszArgs, kUpgradeSwitch) != nullptr;
    // A run that cannot be recorded must not look like a recorded one.
    if (!AppendRecord(std::to_wstring(::GetCurrentProcessId()) + L"\t" + g_strCommandLine + L"\n"))
        return 3;

    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = hInstance;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = kWindowClass;
    if (!::RegisterClassExW(&wc))
        return 4;

    const int x = (::GetSystemMetrics(SM_CXSCREEN) - kWidth) / 2;
    const int y = (::GetSystemMetrics(SM_CYSCREEN) - kHeight) / 2;
    HWND hWnd = ::CreateWindowExW(WS_EX_TOPMOST, kWindowClass, kWindowTitle, WS_POPUP | WS_BORDER, x, y, kWidth,
                                  kHeight, nullptr, nullptr, hInstance, nullptr);
    if (!hWnd)
        return 4;
    ::ShowWindow(hWnd, SW_SHOWNORMAL);
    ::SetForegroundWindow(hWnd);
    ::SetTimer(hWnd, kCloseTimer, ShowMs(), nullptr);

    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return 0;
}
