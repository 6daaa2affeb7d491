// The strict network library delivers like a foreign one: UpgradeDownLoadFile
// reports nothing, and each transfer's records are posted, never sent, to the
// window and message it was given, from heap storage outside any image. And
// the program's calls reach a library built with either calling convention
// and come back to an intact frame.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "netlib/DownloadRecord.h"
#include "netlib/NubraSdk.h"

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

// The network library of a folder beside bin ("bin-strict", "bin-plain-stdcall").
std::wstring LibraryPath(LPCWSTR pszFolder)
{
    wchar_t szExe[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, szExe, MAX_PATH);
    std::wstring strPath(szExe);
    return strPath.substr(0, strPath.find_last_of(L"\\/") + 1) + L"..\\" + pszFolder + L"\\NubraSdk.dll";
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
    const HMODULE hLibrary = ::LoadLibraryW(LibraryPath(L"bin-strict").c_str());
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

// A function of UpgradeDownLoadFile's shape (36 bytes of arguments, one of
// them 64 bits wide) that folds every argument into its result.
int Fold(LPCWSTR pszA, LPCWSTR pszB, int nC, HWND hD, UINT uE, int nF, __int64 llG, int nH)
{
    const UINT_PTR aWords[] = {reinterpret_cast<UINT_PTR>(pszA),
                               reinterpret_cast<UINT_PTR>(pszB),
                               static_cast<UINT_PTR>(nC),
                               reinterpret_cast<UINT_PTR>(hD),
                               uE,
                               static_cast<UINT_PTR>(nF),
                               static_cast<UINT_PTR>(llG),
                               static_cast<UINT_PTR>(llG >> 32),
                               static_cast<UINT_PTR>(nH)};
    UINT_PTR uFold = 0;
    for (UINT_PTR uWord : aWords)
        uFold = uFold * 31 + uWord;
    return static_cast<int>(uFold);
}

int __stdcall FoldStandardCall(LPCWSTR pszA, LPCWSTR pszB, int nC, HWND hD, UINT uE, int nF, __int64 llG, int nH)
{
    return Fold(pszA, pszB, nC, hD, uE, nF, llG, nH);
}

int __cdecl FoldCCall(LPCWSTR pszA, LPCWSTR pszB, int nC, HWND hD, UINT uE, int nF, __int64 llG, int nH)
{
    return Fold(pszA, pszB, nC, hD, uE, nF, llG, nH);
}

UINT_PTR StackPointer()
{
    UINT_PTR uEsp;
    asm volatile("movl %%esp, %0" : "=r"(uEsp));
    return uEsp;
}

typedef int (*PFN_FOLD)(LPCWSTR, LPCWSTR, int, HWND, UINT, int, __int64, int);

// A thousand calls through the thunk, with six running values that live in
// registers across them: a stack pointer or a callee-saved register left off
// by one call shows in the stack pointer or the values at the end.
__attribute__((noinline)) bool ThousandCallsKeepTheFrame(PFN_FOLD pfn, UINT_PTR& uEspBefore, UINT_PTR& uEspAfter)
{
    uEspBefore = StackPointer();
    unsigned uA = 1, uB = 2, uC = 3, uD = 4, uE = 5, uMismatches = 0;
    for (unsigned n = 0; n < 1000; ++n) {
        const __int64 llG = (static_cast<__int64>(n) << 32) | (n * 7u);
        const HWND hD = reinterpret_cast<HWND>(static_cast<UINT_PTR>(uD));
        const int nGot = nubra_call::Call(pfn, L"a", L"b", static_cast<int>(uA), hD, uB, static_cast<int>(uC), llG,
                                          static_cast<int>(uE));
        uMismatches +=
            nGot != Fold(L"a", L"b", static_cast<int>(uA), hD, uB, static_cast<int>(uC), llG, static_cast<int>(uE));
        uA += 3;
        uB ^= n;
        uC = uC * 5 + 1;
        uD += uA;
        uE -= uB;
    }
    uEspAfter = StackPointer();
    unsigned uWantA = 1, uWantB = 2, uWantC = 3, uWantD = 4, uWantE = 5;
    for (unsigned n = 0; n < 1000; ++n) {
        uWantA += 3;
        uWantB ^= n;
        uWantC = uWantC * 5 + 1;
        uWantD += uWantA;
        uWantE -= uWantB;
    }
    return uMismatches == 0 && uA == uWantA && uB == uWantB && uC == uWantC && uD == uWantD && uE == uWantE;
}

TEST(NetworkLibraryCalls, EitherCallingConventionReturnsToAnIntactFrame)
{
    const struct {
        const char* pszName;
        PFN_FOLD pfn;
    } kFunctions[] = {
        {"C call", &FoldCCall},
        {"standard call", reinterpret_cast<PFN_FOLD>(&FoldStandardCall)},
    };
    for (const auto& function : kFunctions) {
        UINT_PTR uEspBefore = 0, uEspAfter = 0;
        EXPECT_TRUE(ThousandCallsKeepTheFrame(function.pfn, uEspBefore, uEspAfter))
            << function.pszName << ": an argument, a result or a value kept in a register went wrong";
        EXPECT_EQ(uEspAfter, uEspBefore) << function.pszName << ": the stack pointer moved";
    }

    // The digest of a standard-call library and of a C-call one, each under
    // the plain name the program imports.
    wchar_t szTemp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, szTemp);
    const std::wstring strFile = std::wstring(szTemp) + L"thunk-digest.txt";
    const HANDLE hFile = ::CreateFileW(strFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(hFile, INVALID_HANDLE_VALUE);
    DWORD cbWritten = 0;
    ::WriteFile(hFile, "abc", 3, &cbWritten, nullptr);
    ::CloseHandle(hFile);
    for (LPCWSTR pszFolder : {L"bin-plain-stdcall", L"bin-strict"}) {
        const HMODULE hLibrary = ::LoadLibraryW(LibraryPath(pszFolder).c_str());
        ASSERT_NE(hLibrary, nullptr) << "no network library in " << pszFolder;
        typedef BOOL (*PFN_MD5)(LPCWSTR, LPWSTR);
        const auto pfnMd5 =
            reinterpret_cast<PFN_MD5>(reinterpret_cast<void (*)()>(::GetProcAddress(hLibrary, "Md5CalFile")));
        ASSERT_NE(pfnMd5, nullptr) << pszFolder;
        const UINT_PTR uEspBefore = StackPointer();
        for (int n = 0; n < 100; ++n) {
            wchar_t szMd5[NUBRA_TEXT_CCH] = {};
            nubra_call::Call(pfnMd5, static_cast<LPCWSTR>(strFile.c_str()), static_cast<LPWSTR>(szMd5));
            ASSERT_STRCASEEQ(std::string(szMd5, szMd5 + wcslen(szMd5)).c_str(), "900150983cd24fb0d6963f7d28e17f72")
                << pszFolder;
        }
        EXPECT_EQ(StackPointer(), uEspBefore) << pszFolder << ": the stack pointer moved";
    }
    ::DeleteFileW(strFile.c_str());
}

}  // namespace
