// Which WM_MSG_DOWNLOAD record pointers the window may read: exactly those
// the network library sends, nothing another process could make up.
#include "upgrade/LibraryRecord.h"

#include "netlib/DownloadRecord.h"
#include "netlib/NubraSdk.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const UINT kRecordMessage = WM_USER + 258;

struct CReceived {
    std::vector<const void*> pointers;
    std::vector<bool> accepted;
    bool bFinal = false;
};
CReceived* g_pReceived = nullptr;

LRESULT CALLBACK RecordWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kRecordMessage && g_pReceived) {
        const void* p = reinterpret_cast<const void*>(wParam);
        const bool bAccepted = IsLibraryProgressRecord(p);
        g_pReceived->pointers.push_back(p);
        g_pReceived->accepted.push_back(bAccepted);
        if (bAccepted && static_cast<const DOWNLOAD_PROGRESS*>(p)->iState != DOWNLOAD_STATE_PROGRESS)
            g_pReceived->bFinal = true;
        return 1;
    }
    return ::DefWindowProcW(hWnd, message, wParam, lParam);
}

TEST(LibraryRecord, RecordsOfARealTransferPassAndMadeUpPointersDoNot)
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &RecordWndProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"LibraryRecordTestWindow";
    ::RegisterClassW(&wc);
    HWND hWnd =
        ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    ASSERT_TRUE(hWnd);

    // Nothing listens on port 1: the transfer fails at once and still sends
    // its final record, with no server needed.
    CTestFolder folder;
    CReceived received;
    g_pReceived = &received;
    ASSERT_TRUE(UpgradeDownLoadFile(L"http://127.0.0.1:1/Setup.exe", folder.File(L"Setup.exe").c_str(), 0, hWnd,
                                    kRecordMessage, 0, 100, 0));
    const ULONGLONG ullEnd = ::GetTickCount64() + 30000;
    while (!received.bFinal && ::GetTickCount64() < ullEnd) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageW(&msg);
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    g_pReceived = nullptr;
    ASSERT_TRUE(received.bFinal) << "no final record accepted within 30 s (" << received.pointers.size()
                                 << " received)";
    for (size_t i = 0; i < received.accepted.size(); ++i)
        EXPECT_TRUE(received.accepted[i]) << "record " << i << " of the library refused";

    const auto* pGood = static_cast<const BYTE*>(received.pointers.back());
    int nOnStack = 0;
    std::vector<BYTE> heap(sizeof(DOWNLOAD_PROGRESS) * 2);
    const void* const forged[] = {
        nullptr,
        reinterpret_cast<const void*>(1),
        reinterpret_cast<const void*>(static_cast<UINT_PTR>(-1)),
        reinterpret_cast<const void*>(static_cast<UINT_PTR>(-static_cast<INT_PTR>(sizeof(DOWNLOAD_PROGRESS)))),
        &nOnStack,
        heap.data(),
        reinterpret_cast<const void*>(&UpgradeDownLoadFile),                 // the library's code
        reinterpret_cast<const void*>(::GetModuleHandleW(L"NubraSdk.dll")),  // its headers
        pGood + 1,                                                           // inside a record, not at its start
        pGood + sizeof(DOWNLOAD_PROGRESS) / 2,
        pGood - 4,
    };
    for (const void* p : forged)
        EXPECT_FALSE(IsLibraryProgressRecord(p)) << p;

    // The array's ends: its last record passes, the place behind it does not.
    const BYTE* pFirst = pGood;
    while (IsLibraryProgressRecord(pFirst - sizeof(DOWNLOAD_PROGRESS)))
        pFirst -= sizeof(DOWNLOAD_PROGRESS);
    EXPECT_TRUE(IsLibraryProgressRecord(pFirst + (DOWNLOAD_RECORD_POOL_SIZE - 1) * sizeof(DOWNLOAD_PROGRESS)));
    EXPECT_FALSE(IsLibraryProgressRecord(pFirst + DOWNLOAD_RECORD_POOL_SIZE * sizeof(DOWNLOAD_PROGRESS)));

    ::DestroyWindow(hWnd);
}

}  // namespace
