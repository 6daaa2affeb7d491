// The skinned message box under way: how it gets and keeps its place in front,
// whose messages its modal loop serves, and what it tells screen readers.
#include "tests/msgbox/MsgBoxFixture.h"

#include <oleacc.h>

#include <tuple>
#include <vector>

using namespace MsgBoxCal;

namespace {

// Each box test is a script, one step a line; the formatter would indent the
// steps past the column limit, so these tests keep their hand layout.
// clang-format off
TEST_F(MsgBoxTest, BoxInFrontIsNeverPushed)
{
    bool bTimerAlive = true;
    int nCount = -1;
    CBoxDriver driver;
    const int nResult = driver.Run(kFailedText, kNoticeCaption, kNoticeStyle, {
        Wait(), Wait(), Wait(), Wait(),
        [&](CBoxDriver& d) {
            EXPECT_EQ(::GetForegroundWindow(), d.Box()) << "the test expects the new box in front";
            nCount = d.Dlg()->m_nTopMostCount;
            // Fails when the box has stopped its timer already.
            bTimerAlive = d.Dlg()->KillTimer(1) != FALSE;
        },
        ClickOn(L"OKBtn"),
    });
    EXPECT_EQ(nResult, IDOK);
    EXPECT_EQ(driver.m_mapTopMostRequests.size(), 0u) << "a box in front was pushed";
    EXPECT_FALSE(bTimerAlive) << "the timer must stop at the first tick";
    EXPECT_EQ(nCount, 0);
}

TEST_F(MsgBoxTest, BoxBehindAnotherWindowIsPushedElevenTimesAtMost)
{
    HWND hFront = nullptr;
    bool bTimerAlive = true;
    int nCount = -1;
    bool bBoxInFront = true;
    CBoxDriver driver;
    driver.m_fnOnFound = [&](CBoxDriver&) {
        hFront = ::CreateWindowExW(0, L"STATIC", L"in front", WS_POPUP | WS_VISIBLE, 900, 600, 200, 100, nullptr,
                                   nullptr, nullptr, nullptr);
        ::SetForegroundWindow(hFront);
    };
    // 2 s: enough for twelve ticks of the box's 100 ms timer.
    std::vector<CBoxDriver::Step> steps(10, Wait());
    steps.push_back([&](CBoxDriver& d) {
        bBoxInFront = ::GetForegroundWindow() == d.Box();
        nCount = d.Dlg()->m_nTopMostCount;
        bTimerAlive = d.Dlg()->KillTimer(1) != FALSE;
    });
    steps.push_back(ClickOn(L"OKBtn"));
    const int nResult = driver.Run(kFailedText, kNoticeCaption, kNoticeStyle, steps, 10);
    HWND hBox = nullptr;
    for (const auto& entry : driver.m_mapTopMostRequests) {
        if (entry.first != hFront)
            hBox = entry.first;
    }
    ASSERT_NE(hFront, nullptr);
    EXPECT_FALSE(bBoxInFront) << "pushing must not activate the box";
    EXPECT_EQ(driver.m_mapTopMostRequests[hBox], 11);
    EXPECT_FALSE(bTimerAlive) << "the timer must stop after the last push";
    EXPECT_EQ(nCount, 0);
    EXPECT_EQ(nResult, IDOK);
    ::DestroyWindow(hFront);
}

bool g_bOtherServed = false;

LRESULT CALLBACK OtherWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP)
        g_bOtherServed = true;
    return ::DefWindowProcW(hWnd, message, wParam, lParam);
}

TEST_F(MsgBoxTest, ModalLoopServesOtherWindowsAndPassesQuitOn)
{
    // A window of the caller's must go on receiving its messages under the box.
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &OtherWindowProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"MsgBoxTestOther";
    ::RegisterClassW(&wc);
    HWND hOther = ::CreateWindowExW(0, wc.lpszClassName, L"other", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                    wc.hInstance, nullptr);
    ASSERT_NE(hOther, nullptr);
    g_bOtherServed = false;
    bool bServedWhileUp = false;
    CBoxDriver driver;
    const int nResult = driver.Run(kFailedText, L"quit case", kNoticeStyle, {
        [&](CBoxDriver&) { ::PostMessageW(hOther, WM_APP, 0, 0); },
        [&](CBoxDriver&) { bServedWhileUp = g_bOtherServed; },
        [](CBoxDriver&) { ::PostQuitMessage(5); },
    });
    EXPECT_TRUE(bServedWhileUp) << "a message for another window was not dispatched";
    EXPECT_EQ(nResult, -1) << "a quit request ends the box without a choice";
    MSG msg = {};
    ASSERT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the quit request must reach the caller";
    EXPECT_EQ(msg.wParam, 5u);
    ::DestroyWindow(hOther);
}

std::vector<std::tuple<HWND, LONG, LONG>> g_vecAlerts;

void CALLBACK OnAlert(HWINEVENTHOOK, DWORD, HWND hWnd, LONG lObject, LONG lChild, DWORD, DWORD)
{
    g_vecAlerts.emplace_back(hWnd, lObject, lChild);
}

// A screen reader reads a warning or an error out without being asked, as it
// does the system's own message boxes, and reads every box as a dialog.
TEST_F(MsgBoxTest, WarningsAndErrorsAlertScreenReadersAndEveryBoxIsADialog)
{
    ::CoInitialize(nullptr);
    // Out of context: the events come as a reader in another process gets them.
    HWINEVENTHOOK hHook = ::SetWinEventHook(EVENT_SYSTEM_ALERT, EVENT_SYSTEM_ALERT, nullptr, &OnAlert, 0, 0,
                                            WINEVENT_OUTOFCONTEXT);
    ASSERT_NE(hHook, nullptr);
    const struct {
        int nStyle;
        size_t nAlerts;
    } kCases[] = {
        {kNoticeStyle, 1},
        {MBC_OK | MBC_ICONERR | MBC_NOCHECK, 1},
        {kUpgradeOnlyStyle, 1},
        {MBC_OK | MBC_NOCHECK, 0},
        {MBC_OK | MBC_ICONASK | MBC_NOCHECK, 0},
    };
    for (const auto& c : kCases) {
        g_vecAlerts.clear();
        HWND hBox = nullptr;
        LONG lRole = 0;
        CBoxDriver driver;
        const int nResult = driver.Run(kFailedText, L"alert case", c.nStyle, {
            Wait(),
            [&](CBoxDriver& d) {
                hBox = d.Box();
                IAccessible* pAcc = nullptr;
                ::AccessibleObjectFromWindow(d.Box(), static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                             reinterpret_cast<void**>(&pAcc));
                if (!pAcc)
                    return;
                VARIANT self;
                self.vt = VT_I4;
                self.lVal = CHILDID_SELF;
                VARIANT role;
                ::VariantInit(&role);
                if (SUCCEEDED(pAcc->get_accRole(self, &role)) && role.vt == VT_I4)
                    lRole = role.lVal;
                pAcc->Release();
            },
            ClickOn(L"OKBtn"),
        });
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageW(&msg);  // events still on their way
        EXPECT_EQ(nResult, IDOK) << "style " << std::hex << c.nStyle;
        EXPECT_EQ(lRole, ROLE_SYSTEM_DIALOG) << "style " << std::hex << c.nStyle;
        ASSERT_EQ(g_vecAlerts.size(), c.nAlerts) << "style " << std::hex << c.nStyle;
        for (const auto& alert : g_vecAlerts)
            EXPECT_EQ(alert, std::make_tuple(hBox, static_cast<LONG>(OBJID_CLIENT), static_cast<LONG>(CHILDID_SELF)));
    }
    ::UnhookWinEvent(hHook);
    ::CoUninitialize();
}

// clang-format on

}  // namespace
