// The public client header from C89 and C++03 clients: the same record
// layout in both, and an order sent by process id reaches only a window of
// the companion's class that belongs to that process, with the documented
// results when it cannot.
#include "include/DazuvuVevUpgradeClient.h"
#include "tests/client/ClientHeaderCheck.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <thread>
#include <vector>

namespace {

struct Received {
    ULONG_PTR dwData = 0;
    DWORD cbData = 0;
    std::wstring strURL;
    std::wstring strVersion;
    std::wstring strType;
    std::wstring strMD5;
    WPARAM wParam = 0;
};

std::vector<Received> g_received;
DWORD g_dwHandlerSleepMs = 0;

LRESULT CALLBACK RecordingProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_COPYDATA) {
        const COPYDATASTRUCT* pcds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        Received got;
        got.dwData = pcds->dwData;
        got.cbData = pcds->cbData;
        if (pcds->cbData == UPGRADE_COMM_SIZE) {
            const UPGRADE_COMM* pOrder = static_cast<const UPGRADE_COMM*>(pcds->lpData);
            got.strURL = pOrder->szURL;
            got.strVersion = pOrder->szVersion;
            got.strType = pOrder->szUpgradeType;
            got.strMD5 = pOrder->szMD5;
        }
        got.wParam = wParam;
        g_received.push_back(got);
        if (g_dwHandlerSleepMs)
            Sleep(g_dwHandlerSleepMs);
        return 7;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

// A window of the companion's class in this process, on this thread.
class CCompanionWindow {
public:
    CCompanionWindow()
    {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = RecordingProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = UPGRADE_WINDOW_CLASS;
        RegisterClassW(&wc);  // a second registration fails harmlessly
        m_hWnd = CreateWindowExW(0, UPGRADE_WINDOW_CLASS, L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance,
                                 nullptr);
    }
    ~CCompanionWindow()
    {
        if (m_hWnd)
            DestroyWindow(m_hWnd);
    }
    CCompanionWindow(const CCompanionWindow&) = delete;
    CCompanionWindow& operator=(const CCompanionWindow&) = delete;
    HWND Get() const { return m_hWnd; }

private:
    HWND m_hWnd = nullptr;
};

// A process id that owns no window: process ids are multiples of four, and
// this one is far from any the prefix hands out in a test run.
const DWORD kNoSuchProcess = 0x7FFFFFF0;

}  // namespace

TEST(ClientHeader, C89AndCxx03SeeTheSameRecordLayout)
{
    const size_t expected[10] = {0, 520, 1040, 1560, 2080, 2600, 3120, 3640, 3641, 3642};
    size_t c89[10] = {}, cxx03[10] = {};
    ClientHeaderC89Layout(c89);
    ClientHeaderCxx03Layout(cxx03);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(c89[i], expected[i]) << "C89, entry " << i;
        EXPECT_EQ(cxx03[i], expected[i]) << "C++03, entry " << i;
    }
    EXPECT_EQ(MakeUpgradeOrderData(UPGRADE_MODE_AUTO), 15663104u);
    EXPECT_EQ(MakeUpgradeOrderData(UPGRADE_MODE_COMMANDS), 15663105u);
}

TEST(ClientHeader, OrderByProcessIdReachesOnlyThatProcessAndReportsWhyNot)
{
    g_received.clear();
    g_dwHandlerSleepMs = 0;
    DWORD_PTR dwResult = 0;

    SetLastError(0);
    EXPECT_FALSE(ClientHeaderC89Send(GetCurrentProcessId(), 0, 1000, &dwResult)) << "no window yet";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_FOUND));

    CCompanionWindow window;
    ASSERT_NE(window.Get(), nullptr);
    EXPECT_EQ(FindUpgradeWindowOfProcess(GetCurrentProcessId()), window.Get());
    EXPECT_EQ(FindUpgradeWindowOfProcess(kNoSuchProcess), nullptr) << "a window of another process is not ours";

    ASSERT_TRUE(ClientHeaderC89Send(GetCurrentProcessId(), 0, 1000, &dwResult)) << GetLastError();
    EXPECT_EQ(dwResult, 7u) << "the handler's result comes back";
    ASSERT_TRUE(ClientHeaderCxx03Send(GetCurrentProcessId(), 0, 1000, &dwResult)) << GetLastError();
    ASSERT_EQ(g_received.size(), 2u);
    for (const Received& got : g_received) {
        EXPECT_EQ(got.dwData, 15663105u) << "tag 239, mode 1";
        EXPECT_EQ(got.cbData, 3642u);
        EXPECT_EQ(got.strURL, CLIENT_HEADER_CHECK_URL);
        EXPECT_EQ(got.strType, L"9434");
        EXPECT_EQ(got.wParam, 0u) << "no window for notices";
    }
    EXPECT_EQ(g_received[0].strVersion, L"c89");
    EXPECT_EQ(g_received[1].strVersion, L"c++03");

    SetLastError(0);
    EXPECT_FALSE(ClientHeaderC89Send(kNoSuchProcess, 200, 1000, &dwResult));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROCESS_ABORTED)) << "no such process: no wait";
    SetLastError(0);
    EXPECT_FALSE(ClientHeaderCxx03Send(0, 0, 1000, &dwResult));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetLastError(0);
    EXPECT_FALSE(SendUpgradeOrderToProcess(GetCurrentProcessId(), nullptr, UPGRADE_MODE_AUTO, 0, 1000, &dwResult));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(g_received.size(), 2u) << "nothing more was delivered";
}

TEST(ClientHeader, AHandlerThatDoesNotAnswerInTimeIsATimeOut)
{
    g_received.clear();
    g_dwHandlerSleepMs = 3000;
    HWND hWnd = nullptr;
    DWORD dwOwnerThread = 0;
    HANDLE hReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // The window lives on a thread of its own, as the companion's lives in
    // its own process: a window of the caller's thread is called directly.
    std::thread owner([&] {
        CCompanionWindow window;
        hWnd = window.Get();
        dwOwnerThread = GetCurrentThreadId();
        SetEvent(hReady);
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0)
            DispatchMessageW(&msg);
    });
    ASSERT_EQ(WaitForSingleObject(hReady, 10000), WAIT_OBJECT_0);
    CloseHandle(hReady);
    ASSERT_NE(hWnd, nullptr);

    UPGRADE_COMM order = {};
    wcscpy(order.szURL, CLIENT_HEADER_CHECK_URL);
    DWORD_PTR dwResult = 0;
    SetLastError(0);
    EXPECT_FALSE(SendUpgradeOrderToProcess(GetCurrentProcessId(), &order, UPGRADE_MODE_AUTO, 0, 300, &dwResult));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));

    PostThreadMessageW(dwOwnerThread, WM_QUIT, 0, 0);
    owner.join();
    g_dwHandlerSleepMs = 0;
    EXPECT_EQ(g_received.size(), 1u) << "the late handler still ran";
}

TEST(ClientHeader, NoticesWindowDigestCaseAndAnEndedCompanion)
{
    g_received.clear();
    g_dwHandlerSleepMs = 0;
    CCompanionWindow window;
    ASSERT_NE(window.Get(), nullptr);
    UPGRADE_COMM order = {};
    wcscpy(order.szURL, CLIENT_HEADER_CHECK_URL);
    const wchar_t* const apszDigests[] = {L"0123456789ABCDEF0123456789abcdeF", L"0123456789ABCDEF0123456789ABCDEG"};
    for (const wchar_t* pszDigest : apszDigests) {
        wcscpy(order.szMD5, pszDigest);
        ASSERT_TRUE(SendUpgradeOrderToProcessEx(GetCurrentProcessId(), &order, UPGRADE_MODE_AUTO, window.Get(), 0, 1000,
                                                nullptr));
    }
    ASSERT_EQ(g_received.size(), 2u);
    EXPECT_EQ(g_received[0].wParam, reinterpret_cast<WPARAM>(window.Get())) << "the window for notices";
    EXPECT_EQ(g_received[0].strMD5, apszDigests[0]) << "an MD5 goes as the client gave it, letter case included";
    EXPECT_EQ(g_received[1].strMD5, apszDigests[1]) << "anything else too";

    // A companion that has ended is seen at once, not after the wait.
    wchar_t szSelf[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, szSelf, MAX_PATH);
    std::wstring strLine = std::wstring(L"\"") + szSelf + L"\" --gtest_list_tests";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(szSelf, &strLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    ASSERT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
    const DWORD dwStart = GetTickCount();
    SetLastError(0);
    EXPECT_FALSE(SendUpgradeOrderToProcess(pi.dwProcessId, &order, UPGRADE_MODE_AUTO, 30000, 1000, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROCESS_ABORTED));
    EXPECT_LT(GetTickCount() - dwStart, 5000u);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}
