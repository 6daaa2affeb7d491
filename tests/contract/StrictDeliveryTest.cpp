// The strict network library delivers like a foreign one: UpgradeDownLoadFile
// reports nothing, and each transfer's records are posted, never sent, to the
// window and message it was given, from heap storage outside any image.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "netlib/DownloadRecord.h"

namespace {

typedef int (*PFN_DOWNLOAD)(LPCWSTR, LPCWSTR, int, HWND, UINT, int, __int64, int);

struct CArrival {
    HWND hWnd;
    UINT uMsg;
    DOWNLOAD_PROGRESS record;
    MEMORY_BASIC_INFORMATION where;
};

int g_nSent = 0;

LRESULT CALLBACK CountSent(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg >= WM_USER && ::InSendMessage())
        ++g_nSent;
    return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

HWND MakeWindow()
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &CountSent;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"StrictDeliveryTarget";
    ::RegisterClassW(&wc);
    return ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

std::wstring StrictLibraryPath()
{
    wchar_t szExe[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, szExe, MAX_PATH);
    std::wstring strPath(szExe);
    return strPath.substr(0, strPath.find_last_of(L"\\/") + 1) + L"..\\bin-strict\\NubraSdk.dll";
}

// Every record posted to this thread until nFinal final ones have come.
std::vector<CArrival> CollectPosted(size_t nFinal)
{
    std::vector<CArrival> arrivals;
    const ULONGLONG ullEnd = ::GetTickCount64() + 30000;
    size_t nFinals = 0;
    while (nFinals < nFinal && ::GetTickCount64() < ullEnd) {
        MSG msg;
        if (!::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
            continue;
        }
        if (msg.message < WM_USER) {
            ::DispatchMessageW(&msg);
            continue;
        }
        CArrival arrival = {msg.hwnd, msg.message, {}, {}};
        const void* p = reinterpret_cast<const void*>(msg.wParam);
        ::VirtualQuery(p, &arrival.where, sizeof(arrival.where));
        memcpy(&arrival.record, p, sizeof(arrival.record));
        nFinals += arrival.record.iState != DOWNLOAD_STATE_PROGRESS ? 1 : 0;
        arrivals.push_back(arrival);
    }
    return arrivals;
}

TEST(StrictNetworkLibrary, PostsHeapRecordsToEachTransfersOwnWindowAndReportsNothing)
{
    const HMODULE hLibrary = ::LoadLibraryW(StrictLibraryPath().c_str());
    ASSERT_NE(hLibrary, nullptr) << "the strict library is not built beside bin";
    const auto pfnDownload =
        reinterpret_cast<PFN_DOWNLOAD>(reinterpret_cast<void (*)()>(::GetProcAddress(hLibrary, "UpgradeDownLoadFile")));
    ASSERT_NE(pfnDownload, nullptr);
    const HWND hFirst = MakeWindow();
    const HWND hSecond = MakeWindow();
    ASSERT_TRUE(hFirst && hSecond);

    wchar_t szTemp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, szTemp);
    const std::wstring strTarget = std::wstring(szTemp) + L"strict-delivery.exe";
    // Nothing listens on port 1: each transfer ends with one failure record.
    EXPECT_EQ(pfnDownload(L"http://127.0.0.1:1/a.exe", strTarget.c_str(), 0, hFirst, 1282, 0, 1000, 0), 0);
    EXPECT_EQ(pfnDownload(L"http://127.0.0.1:1/b.exe", strTarget.c_str(), 0, hSecond, 1300, 0, 2000, 0), 0);

    const std::vector<CArrival> arrivals = CollectPosted(2);
    ASSERT_EQ(arrivals.size(), 2u) << "one final record per transfer, each posted";
    EXPECT_EQ(g_nSent, 0) << "a record was sent, not posted";
    bool abSeen[2] = {};
    for (const CArrival& arrival : arrivals) {
        const bool bFirst = arrival.hWnd == hFirst;
        EXPECT_EQ(arrival.uMsg, bFirst ? 1282u : 1300u) << "a record reached the other transfer's window";
        EXPECT_EQ(arrival.record.iState, DOWNLOAD_STATE_NET_FAILED);
        EXPECT_EQ(arrival.record.unFileSize, bFirst ? 1000u : 2000u);
        EXPECT_EQ(arrival.where.Type, static_cast<DWORD>(MEM_PRIVATE)) << "the record lies in an image";
        abSeen[bFirst ? 0 : 1] = true;
    }
    EXPECT_TRUE(abSeen[0] && abSeen[1]);
}

}  // namespace
