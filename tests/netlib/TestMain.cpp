// Test entry. With "--child-stalled-download URL TARGET" the program instead
// plays the upgrade program at shutdown: it starts a transfer that stalls,
// then ends the watch and returns while the worker is still blocked, as the
// program does when it quits mid-download.
#include <gtest/gtest.h>

#include <windows.h>

#include "NetTestUtil.h"
#include "netlib/NubraSdk.h"

namespace {

int ChildStalledDownload(const wchar_t* pszUrl, const wchar_t* pszTarget)
{
    HANDLE hEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    InternetTrackAttach(hEvent);
    InternetTrackSetServer(L"127.0.0.1:1");
    InternetTrackStartNetTrack();
    HWND hWnd = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (!UpgradeDownLoadFile(pszUrl, pszTarget, 0, hWnd, WM_USER + 258, 0, 0, 0))
        return 2;
    // Let the transfer reach its stall before quitting.
    const ULONGLONG ullEnd = ::GetTickCount64() + 1500;
    while (::GetTickCount64() < ullEnd) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageW(&msg);
        ::Sleep(20);
    }
    InternetTrackDeAttach();
    InternetTrackShutDownNetTrack();
    ::DestroyWindow(hWnd);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 4 && wcscmp(argv[1], L"--child-stalled-download") == 0)
        return ChildStalledDownload(argv[2], argv[3]);
    // Retries pause a tenth of the time they would, so that tests with
    // retries stay short; tests that shorten other limits do it themselves.
    ::SetEnvironmentVariableW(L"NUBRA_RETRY_PAUSE_MS", L"100");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
