// Whole transfers against the local server: the record sequence, the bytes,
// every kind of failure, the authenticating proxy, and quitting mid-transfer.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include "NetTestUtil.h"
#include "netlib/NubraSdk.h"
#include "win/Handles.h"

using namespace nettest;

namespace {

void ExpectNoTarget(const std::wstring& strTarget, const char* pszCase)
{
    EXPECT_FALSE(Exists(strTarget)) << pszCase << ": a failed transfer left a target file";
}

void ExpectFinalIsLast(const std::vector<CRecord>& records, const char* pszCase)
{
    ASSERT_FALSE(records.empty()) << pszCase << ": no record at all";
    for (size_t i = 0; i + 1 < records.size(); ++i)
        EXPECT_EQ(records[i].rec.iState, DOWNLOAD_STATE_PROGRESS)
            << pszCase << ": record " << i << " of " << records.size();
}

// A port on 127.0.0.1 where nothing listens. The socket stays bound, never
// listening, for the program's life: a port merely closed again could be
// taken meanwhile by a server of a test running beside this one.
int ClosedPort()
{
    WSADATA wsa;
    ::WSAStartup(MAKEWORD(2, 2), &wsa);
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    int cb = sizeof(addr);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &cb);
    return ntohs(addr.sin_port);
}

}  // namespace

TEST(Download, CompletesWithProgressRecordsAndTheRightDigest)
{
    const std::wstring target = WorkPath(L"setup.exe");
    RemoveDownload(target);
    const LONGLONG llSize = SizeOf(RootPath(L"big.bin"));
    ASSERT_GT(llSize, 3 * 1024 * 1024);

    // About two seconds at this rate: long enough to see the report pacing.
    const ULONGLONG ullStart = ::GetTickCount64();
    auto records = Download(ServerUrl(L"/fault/rate=1600000/big.bin"), target, llSize);
    const double dSeconds = (::GetTickCount64() - ullStart) / 1000.0;

    ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_FINISHED);
    ExpectFinalIsLast(records, "complete");
    ASSERT_GE(records.size(), 3u) << "expected progress records before the end";
    const DOWNLOAD_PROGRESS& first = records.front().rec;
    EXPECT_EQ(first.unFileSize, static_cast<uint32_t>(llSize)) << "size of a fresh transfer";
    EXPECT_EQ(first.unPosition, 0u);
    uint32_t unLast = 0;
    bool bSpeed = false;
    for (const CRecord& r : records) {
        EXPECT_GE(r.rec.unReceived, unLast) << "received bytes went backwards";
        EXPECT_EQ(r.rec.unFileSize, static_cast<uint32_t>(llSize));
        unLast = r.rec.unReceived;
        bSpeed |= r.rec.dSpeed > 0;
    }
    EXPECT_TRUE(bSpeed) << "no record carried a speed";
    EXPECT_EQ(records.back().rec.unReceived, static_cast<uint32_t>(llSize));
    EXPECT_LE(records.size(), static_cast<size_t>(dSeconds * 4.5) + 3)
        << records.size() << " records in " << dSeconds << " s: more than four a second";

    EXPECT_TRUE(ReadAll(target) == ReadAll(RootPath(L"big.bin"))) << "downloaded bytes differ";
    EXPECT_EQ(Md5(target), Env(L"NUBRA_TEST_BIG_MD5"));
    EXPECT_FALSE(Exists(target + L".part"));
    EXPECT_FALSE(Exists(target + L".part.meta"));
    RemoveDownload(target);
}

TEST(Download, EveryFailureEndsWithItsStateAndNoTarget)
{
    ASSERT_TRUE(WriteAll(RootPath(L"fail.exe"), Pattern(200000, 7)));
    // Each failure as it ends a try; the tries themselves are RetryTest's.
    const CScopedEnv noRetry(L"NUBRA_RETRY_LIMIT", L"0");
    ::SetEnvironmentVariableW(L"NUBRA_RECEIVE_TIMEOUT_MS", L"2000");

    struct Case {
        const char* pszName;
        std::wstring strUrl;
    };
    const Case cases[] = {
        {"404", ServerUrl(L"/fault/status=404/fail.exe")},
        {"500", ServerUrl(L"/fault/status=500/fail.exe")},
        {"missing file", ServerUrl(L"/no-such-file.exe")},
        {"dropped", ServerUrl(L"/fault/drop=50000/fail.exe")},
        {"shorter than announced", ServerUrl(L"/fault/short=1000/fail.exe")},
        {"stalled", ServerUrl(L"/fault/stall=30,stall_after=20000/fail.exe")},
        {"refused", L"http://127.0.0.1:" + std::to_wstring(ClosedPort()) + L"/fail.exe"},
        {"not an address", L"no address at all"},
    };
    for (const Case& c : cases) {
        const std::wstring target = WorkPath(L"fail.exe");
        RemoveDownload(target);
        const ULONGLONG ullStart = ::GetTickCount64();
        auto records = Download(c.strUrl, target, 200000, 20000);
        EXPECT_EQ(FinalState(records), DOWNLOAD_STATE_NET_FAILED) << c.pszName;
        ExpectFinalIsLast(records, c.pszName);
        ExpectNoTarget(target, c.pszName);
        EXPECT_LT(::GetTickCount64() - ullStart, 15000u) << c.pszName << " took too long to fail";
    }
    ::SetEnvironmentVariableW(L"NUBRA_RECEIVE_TIMEOUT_MS", nullptr);

    // The local side: a folder that does not exist, and a target that is a folder.
    const std::wstring strDir = WorkPath(L"occupied.exe");
    ::CreateDirectoryW(strDir.c_str(), nullptr);
    const std::wstring local[] = {WorkPath(L"no-such-folder\\fail.exe"), strDir};
    for (const std::wstring& target : local) {
        auto records = Download(ServerUrl(L"/fail.exe"), target, 200000);
        EXPECT_EQ(FinalState(records), DOWNLOAD_STATE_FILE_FAILED) << "unwritable target";
        ExpectFinalIsLast(records, "unwritable target");
    }
    EXPECT_FALSE(Exists(WorkPath(L"no-such-folder")));
    ::RemoveDirectoryW(strDir.c_str());
    RemoveDownload(strDir);
}

TEST(Download, GoesThroughTheAuthenticatingProxy)
{
    const std::wstring target = WorkPath(L"proxied.exe");
    const std::string body = Pattern(300000, 11);
    ASSERT_TRUE(WriteAll(RootPath(L"proxied.exe"), body));
    const std::wstring port = Env(L"NUBRA_TEST_PROXY_PORT");
    const int nProxyPort = _wtoi(port.c_str());
    // Another host name than the other tests use: Wine pools connections by
    // the origin server even behind a proxy, and would reuse a direct one.
    const std::wstring url = L"http://localhost:" + std::to_wstring(TestPort()) + L"/proxied.exe";

    // The wrong password first: a right one would be remembered for the host.
    RemoveDownload(target);
    ASSERT_TRUE(InitHttpX(L"127.0.0.1", port.c_str(), L"nubra", L"wrong", 0));
    auto records = Download(url, target, 300000);
    EXPECT_EQ(FinalState(records), DOWNLOAD_STATE_NET_FAILED) << "wrong proxy password";
    ExpectNoTarget(target, "wrong proxy password");

    RemoveDownload(target);
    ASSERT_TRUE(InitHttpX(L"127.0.0.1", port.c_str(), Env(L"NUBRA_TEST_PROXY_USER").c_str(),
                          Env(L"NUBRA_TEST_PROXY_PASSWORD").c_str(), 0));
    records = Download(url, target, 300000);
    EXPECT_EQ(FinalState(records), DOWNLOAD_STATE_FINISHED);
    EXPECT_TRUE(ReadAll(target) == body) << "bytes through the proxy differ";
    bool bAuthenticated = false;
    const auto log = LogFor(nProxyPort, "/proxied.exe");
    for (const std::string& line : log)
        bAuthenticated |= JsonField(line, "status") == "200" && JsonField(line, "proxy_user") == "nubra";
    EXPECT_TRUE(bAuthenticated) << "the proxy saw no authenticated request; " << log.size() << " requests";

    // Back to direct transfers for the other tests.
    InitHttpX(L"", L"", L"", L"", 0);
    RemoveDownload(target);
}

TEST(Download, QuittingMidTransferReturnsPromptly)
{
    const std::wstring target = WorkPath(L"stalled.exe");
    ASSERT_TRUE(WriteAll(RootPath(L"stalled.exe"), Pattern(100000, 3)));
    const std::wstring url = ServerUrl(L"/fault/stall=60,stall_after=1000/stalled.exe");

    // In this process: the watch stops at once although a transfer hangs.
    CKernelHandle hEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    InternetTrackAttach(hEvent.Get());
    InternetTrackSetServer(L"127.0.0.1:1");
    InternetTrackStartNetTrack();
    HWND hWnd = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_TRUE(UpgradeDownLoadFile(url.c_str(), target.c_str(), 0, hWnd, WM_USER + 258, 0, 0, 0));
    ::Sleep(500);
    ULONGLONG ullStart = ::GetTickCount64();
    InternetTrackDeAttach();
    InternetTrackShutDownNetTrack();
    EXPECT_LT(::GetTickCount64() - ullStart, 1000u) << "shutting the watch down waited for something";
    ::DestroyWindow(hWnd);

    // A whole program that quits mid-transfer ends long before the stall does.
    wchar_t szExe[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, szExe, MAX_PATH);
    const std::wstring childTarget = WorkPath(L"stalled-child.exe");
    std::wstring cmd =
        L"\"" + std::wstring(szExe) + L"\" --child-stalled-download \"" + url + L"\" \"" + childTarget + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    ullStart = ::GetTickCount64();
    ASSERT_TRUE(::CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    const CKernelHandle hChild(pi.hProcess), hChildThread(pi.hThread);
    const DWORD dwWait = ::WaitForSingleObject(pi.hProcess, 20000);
    DWORD dwCode = 99;
    ::GetExitCodeProcess(pi.hProcess, &dwCode);
    if (dwWait != WAIT_OBJECT_0)
        ::TerminateProcess(pi.hProcess, 1);
    EXPECT_EQ(dwWait, WAIT_OBJECT_0) << "the program hung at exit during a transfer";
    EXPECT_EQ(dwCode, 0u);
    EXPECT_LT(::GetTickCount64() - ullStart, 10000u);
    EXPECT_FALSE(Exists(childTarget));
    RemoveDownload(childTarget);
    RemoveDownload(target);
}

TEST(Download, ASlowLinkReportsItsFirstBytesLongBeforeTheEnd)
{
    // At 8 KB/s a first read of tens of kilobytes would hold every report
    // back until most of this file had arrived.
    const size_t cb = 24 * 1024;
    const std::wstring name = L"slow.exe";
    ASSERT_TRUE(WriteAll(RootPath(name), Pattern(cb, 5)));
    const std::wstring target = WorkPath(name);
    RemoveDownload(target);
    auto records = Download(ServerUrl(L"/fault/rate=8192/" + name), target, cb);
    ASSERT_EQ(FinalState(records), DOWNLOAD_STATE_FINISHED);
    uint32_t unFirst = 0;
    for (const CRecord& r : records) {
        if (r.rec.iState == DOWNLOAD_STATE_PROGRESS && r.rec.unReceived > 0) {
            unFirst = r.rec.unReceived;
            break;
        }
    }
    EXPECT_GT(unFirst, 0u) << "no progress record counted received bytes";
    EXPECT_LE(unFirst, cb / 4) << "the first bytes were reported only after " << unFirst << " of " << cb;
    RemoveDownload(target);
}

// The program logs how a transfer ended from its final record alone: the
// HTTP status and the library's error code must be there, where the program
// reads them, for every kind of end.
TEST(Download, FinalRecordTellsStatusAndErrorOfTheEnd)
{
    ASSERT_TRUE(WriteAll(RootPath(L"told.exe"), Pattern(200000, 5)));
    const CScopedEnv noRetry(L"NUBRA_RETRY_LIMIT", L"0");
    struct Case {
        const char* pszName;
        std::wstring strUrl;
        uint32_t unStatus;
        bool bError;
    };
    const Case cases[] = {
        {"complete", ServerUrl(L"/told.exe"), 200, false},
        {"404", ServerUrl(L"/fault/status=404/told.exe"), 404, true},
        {"dropped", ServerUrl(L"/fault/drop=50000/told.exe"), 200, true},
        {"refused", L"http://127.0.0.1:" + std::to_wstring(ClosedPort()) + L"/told.exe", 0, true},
    };
    for (const Case& c : cases) {
        const std::wstring target = WorkPath(L"told.exe");
        RemoveDownload(target);
        auto records = Download(c.strUrl, target, 200000, 20000);
        ASSERT_FALSE(records.empty()) << c.pszName;
        const DOWNLOAD_PROGRESS& final = records.back().rec;
        EXPECT_EQ(DownloadRecordHttpStatus(final), c.unStatus) << c.pszName;
        if (c.bError)
            EXPECT_NE(DownloadRecordError(final), 0u) << c.pszName;
        else
            EXPECT_EQ(DownloadRecordError(final), 0u) << c.pszName;
        RemoveDownload(target);
    }
}
