// A window of the companion's class that only records what it receives, so
// that the console tool's messages can be checked byte for byte.
//
//   FakeUpgradeWindow.exe RECORD_FILE [LIFETIME_MS [topmost]]
//
// Per WM_COPYDATA it appends "copydata dwData=N cbData=N" to RECORD_FILE and
// stores the payload in RECORD_FILE.N.bin (N counting from 1); per message
// WM_MSG_UPGRADE_CMD it appends "cmd wParam=N lParam=N". It answers an order with
// 1 and a command with wParam + 1000. Command 999 sleeps 3 s before it
// answers (a busy handler); command 998 closes the window. Its process id
// goes to RECORD_FILE.pid once the window exists, for orders by process.
// "topmost" puts it above every other window, where a search by class name
// finds it first.
#include "include/DazuvuVevUpgradeClient.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "win/Handles.h"

namespace {

const UINT kCommandMessage = WM_MSG_UPGRADE_CMD;
std::wstring g_strRecord;
int g_nPayloads = 0;

void Append(const std::string& strLine)
{
    CKernelHandle hFile(CreateFileW(g_strRecord.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile)
        return;
    DWORD cbWritten = 0;
    WriteFile(hFile.Get(), strLine.data(), static_cast<DWORD>(strLine.size()), &cbWritten, nullptr);
}

void SavePayload(const void* pData, DWORD cbData)
{
    const std::wstring strPath = g_strRecord + L"." + std::to_wstring(++g_nPayloads) + L".bin";
    CKernelHandle hFile(
        CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile)
        return;
    DWORD cbWritten = 0;
    if (cbData)
        WriteFile(hFile.Get(), pData, cbData, &cbWritten, nullptr);
}

void WritePid()
{
    const std::string strPid = std::to_string(GetCurrentProcessId());
    CKernelHandle hFile(CreateFileW((g_strRecord + L".pid").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD cbWritten = 0;
    if (hFile)
        WriteFile(hFile.Get(), strPid.data(), static_cast<DWORD>(strPid.size()), &cbWritten, nullptr);
}

LRESULT CALLBACK FakeWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_COPYDATA) {
        const COPYDATASTRUCT* pcds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        // The payload first, so a reader that sees the line finds the file.
        SavePayload(pcds->lpData, pcds->cbData);
        Append("copydata dwData=" + std::to_string(static_cast<unsigned long>(pcds->dwData)) +
               " cbData=" + std::to_string(pcds->cbData) + "\n");
        return 1;
    }
    if (uMsg == kCommandMessage) {
        Append("cmd wParam=" + std::to_string(static_cast<unsigned long>(wParam)) +
               " lParam=" + std::to_string(static_cast<long>(lParam)) + "\n");
        if (wParam == 999)
            Sleep(3000);
        if (wParam == 998)
            DestroyWindow(hWnd);
        return static_cast<LRESULT>(wParam + 1000);
    }
    if (uMsg == WM_TIMER) {
        DestroyWindow(hWnd);
        return 0;
    }
    if (uMsg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR, int)
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const CLocalMemory args(argv);
    if (!argv || argc < 2)
        return 2;
    g_strRecord = argv[1];
    const UINT uLifetimeMs = argc >= 3 ? static_cast<UINT>(_wtoi(argv[2])) : 60000;

    WNDCLASSW wc = {};
    wc.lpfnWndProc = FakeWndProc;
    wc.hInstance = hInstance;
    wc.lpszClassName = UPGRADE_WINDOW_CLASS;
    if (!RegisterClassW(&wc))
        return 3;
    const DWORD dwExStyle = argc >= 4 && lstrcmpiW(argv[3], L"topmost") == 0 ? WS_EX_TOPMOST : 0;
    HWND hWnd =
        CreateWindowExW(dwExStyle, wc.lpszClassName, L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, hInstance, nullptr);
    if (!hWnd)
        return 3;
    SetTimer(hWnd, 1, uLifetimeMs, nullptr);
    WritePid();
    Append("ready\n");

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
