// The reachability watch against a listening socket that the test opens and
// closes, and the order-free shutdown the program relies on.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include "NetTestUtil.h"
#include "netlib/NubraSdk.h"
#include "win/Handles.h"

namespace {

class CListener {
public:
    CListener()
    {
        WSADATA wsa;
        ::WSAStartup(MAKEWORD(2, 2), &wsa);
        m_s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
        ::listen(m_s, 64);
        int cb = sizeof(addr);
        ::getsockname(m_s, reinterpret_cast<sockaddr*>(&addr), &cb);
        m_nPort = ntohs(addr.sin_port);
    }
    ~CListener() { Close(); }
    void Close()
    {
        if (m_s != INVALID_SOCKET)
            ::closesocket(m_s);
        m_s = INVALID_SOCKET;
    }
    int Port() const { return m_nPort; }

private:
    SOCKET m_s = INVALID_SOCKET;
    int m_nPort = 0;
};

std::wstring Loopback(int nPort)
{
    return L"127.0.0.1:" + std::to_wstring(nPort);
}

}  // namespace

TEST(NetTrack, ReportsTheLossSoonAfterTheServerStops)
{
    CListener server;
    // The environment names the watched server and wins over the program's
    // host name, which must never be contacted from a test.
    ::SetEnvironmentVariableW(L"NUBRA_TRACK_SERVER", Loopback(server.Port()).c_str());
    CKernelHandle hEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    ASSERT_TRUE(InternetTrackAttach(hEvent.Get()));
    InternetTrackSetServer(L"upgrade.talvex.com");
    ASSERT_TRUE(InternetTrackStartNetTrack());
    EXPECT_NE(InternetTrackCheckNetState(), 0) << "a loss before the first probe answered";

    ASSERT_EQ(::WaitForSingleObject(hEvent.Get(), 5000), WAIT_OBJECT_0) << "no signal after the first probe";
    EXPECT_NE(InternetTrackCheckNetState(), 0) << "the listening server was not found reachable";

    server.Close();
    const ULONGLONG ullStart = ::GetTickCount64();
    ASSERT_EQ(::WaitForSingleObject(hEvent.Get(), 8000), WAIT_OBJECT_0) << "the loss was not signalled";
    EXPECT_EQ(InternetTrackCheckNetState(), 0);
    EXPECT_LT(::GetTickCount64() - ullStart, 6000u);

    // Shut-down and de-attach: prompt, in either order, twice.
    const ULONGLONG ullStop = ::GetTickCount64();
    InternetTrackShutDownNetTrack();
    InternetTrackDeAttach();
    InternetTrackShutDownNetTrack();
    InternetTrackDeAttach();
    EXPECT_LT(::GetTickCount64() - ullStop, 1000u);
    EXPECT_NE(InternetTrackCheckNetState(), 0) << "a stopped watch still reports a loss";
    ::SetEnvironmentVariableW(L"NUBRA_TRACK_SERVER", nullptr);
}

TEST(NetTrack, OnlyAServerReachedOnceCanBeLost)
{
    CListener server;
    CListener other;
    const int nClosed = other.Port();
    other.Close();

    // Without the environment the named server decides. One that never
    // answered is no lost network, however often it is tried.
    CKernelHandle hEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    InternetTrackAttach(hEvent.Get());
    InternetTrackSetServer(Loopback(nClosed).c_str());
    InternetTrackStartNetTrack();
    ASSERT_EQ(::WaitForSingleObject(hEvent.Get(), 5000), WAIT_OBJECT_0) << "no signal after the first probe";
    EXPECT_NE(InternetTrackCheckNetState(), 0) << "a server never reached counted as lost";
    ::Sleep(3500);  // a second probe of the closed port
    EXPECT_NE(InternetTrackCheckNetState(), 0) << "a server never reached counted as lost";

    // A newly named one is watched from the next probe on; once reached, its
    // loss is reported.
    InternetTrackSetServer(Loopback(server.Port()).c_str());
    ASSERT_EQ(::WaitForSingleObject(hEvent.Get(), 8000), WAIT_OBJECT_0) << "the change of server went unnoticed";
    EXPECT_NE(InternetTrackCheckNetState(), 0);

    // The caller closes its handle early: the watch goes on without harm.
    hEvent.Reset();
    server.Close();
    ::Sleep(4000);
    EXPECT_EQ(InternetTrackCheckNetState(), 0) << "a server reached and then closed was not reported lost";
    InternetTrackDeAttach();
    InternetTrackShutDownNetTrack();
}
