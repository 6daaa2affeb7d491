// A skinned window among other processes: whatever they post or send to it
// (lifecycle messages, a DPI change without its rectangle, clicks, requests
// for its accessible object) changes nothing that the system's own messages
// would not, and the window keeps working. And the focus ring a keyboard
// user follows: thick enough at every DPI, and seen on every face.
#include "tests/skin/SkinAccessKit.h"

#include <atomic>
#include <cmath>
#include <thread>

namespace {

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

class SkinForeign : public SkinAccess {};

RECT WindowRect(HWND hWnd)
{
    RECT rc = {};
    ::GetWindowRect(hWnd, &rc);
    return rc;
}

RECT WorkArea()
{
    RECT rc = {};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rc, 0);
    return rc;
}

// Sends from another thread, which is how another process's SendMessage
// reaches the window; the window's thread pumps meanwhile.
void SendFromElsewhere(HWND hWnd, const std::vector<UINT>& vecMessages)
{
    std::atomic<bool> bDone{false};
    std::thread sender([&] {
        for (UINT uMsg : vecMessages) {
            DWORD_PTR dwResult = 0;
            ::SendMessageTimeoutW(hWnd, uMsg, 0, 0, SMTO_NORMAL, 5000, &dwResult);
        }
        bDone = true;
    });
    PumpUntil([&] { return bDone.load(); }, 20000);
    sender.join();
}

// A procedure subclassed over the skin's: what the skin answered to each
// request for the client area's accessible object.
WNDPROC g_pfnUnderTap = nullptr;
std::vector<LRESULT> g_vecObjectAnswers;

LRESULT CALLBACK TapProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT lResult = ::CallWindowProcW(g_pfnUnderTap, hWnd, message, wParam, lParam);
    if (message == WM_GETOBJECT && static_cast<LONG>(lParam) == OBJID_CLIENT)
        g_vecObjectAnswers.push_back(lResult);
    return lResult;
}

double Luminance(DWORD dwRgb)
{
    auto Linear = [](DWORD dw) {
        double d = dw / 255.0;
        return d <= 0.03928 ? d / 12.92 : std::pow((d + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * Linear((dwRgb >> 16) & 0xFF) + 0.7152 * Linear((dwRgb >> 8) & 0xFF) + 0.0722 * Linear(dwRgb & 0xFF);
}

double Contrast(DWORD dwA, DWORD dwB)
{
    double dA = Luminance(dwA);
    double dB = Luminance(dwB);
    return (std::max(dA, dB) + 0.05) / (std::min(dA, dB) + 0.05);
}

}  // namespace

TEST_F(SkinForeign, LifecycleMessagesFromElsewhereChangeNothingAndClicksStillArrive)
{
    auto pWnd = CreateSkinnedWindow(m_pRes, L"MessageboxCalDUI");
    ASSERT_NE(pWnd->pDirectUI, nullptr);
    SetUpPrompt(*pWnd);
    ShowInFront(pWnd->hWnd);
    HWND hWnd = pWnd->hWnd;
    ASSERT_EQ(pWnd->nInitDialogs, 1) << "the dialog's own initialisation must reach the program";

    for (int i = 0; i < 300; ++i)
        ::PostMessageW(hWnd, WM_INITDIALOG, 0, 0);
    ::PostMessageW(hWnd, WM_DESTROY, 0, 0);
    ::PostMessageW(hWnd, WM_NCDESTROY, 0, 0);
    PumpFor(300);
    SendFromElsewhere(hWnd, {WM_INITDIALOG, WM_DESTROY, WM_NCDESTROY});
    PumpFor(100);
    EXPECT_EQ(pWnd->nInitDialogs, 1) << "initialisation ran again";
    EXPECT_EQ(pWnd->nDestroys, 0) << "a WM_DESTROY not from DestroyWindow reached the program";
    EXPECT_EQ(pWnd->nNcDestroys, 0) << "a WM_NCDESTROY not from DestroyWindow reached the program";
    ASSERT_TRUE(::IsWindow(hWnd));

    // Still skinned and listening: a real click is reported, a reader reads
    // the controls.
    ClickAt(CtrlCenterOnScreen(hWnd, pWnd->Ctrl(L"CancelBtn")));
    ASSERT_TRUE(PumpUntil([&] { return !pWnd->vecClicks.empty(); }, 3000)) << "the window went deaf";
    EXPECT_EQ(pWnd->vecClicks[0], reinterpret_cast<WPARAM>(pWnd->Ctrl(L"CancelBtn")));
    {
        CReader reader(hWnd);
        ASSERT_NE(reader.pAcc, nullptr);
        EXPECT_NE(reader.Find(L"取消").lId, 0);
    }

    // Its own destruction is the real thing, once.
    ::DestroyWindow(hWnd);
    EXPECT_EQ(pWnd->nDestroys, 1);
    EXPECT_EQ(pWnd->nNcDestroys, 1);
    EXPECT_TRUE(pWnd->bChainRestored) << "the library must restore the previous procedure at WM_NCDESTROY";
}

TEST_F(SkinForeign, APostedDpiChangeIsSizedFromItsDpiAndKeptOnTheWorkArea)
{
    auto pWnd = CreateSkinnedWindow(m_pRes, L"MessageboxCalDUI");
    ASSERT_NE(pWnd->pDirectUI, nullptr);
    SetUpPrompt(*pWnd);
    ShowInFront(pWnd->hWnd);
    HWND hWnd = pWnd->hWnd;
    const RECT rcWork = WorkArea();
    const RECT rcBefore = WindowRect(hWnd);

    // lParam names no rectangle: anyone may post this message with anything.
    ::PostMessageW(hWnd, WM_DPICHANGED, MAKEWPARAM(144, 144), 16);
    PumpFor(300);
    RECT rc = WindowRect(hWnd);
    EXPECT_EQ(rc.right - rc.left, 582);
    EXPECT_EQ(rc.bottom - rc.top, 306);
    EXPECT_LE(std::abs((rc.left + rc.right) - (rcBefore.left + rcBefore.right)), 1) << "the centre moved";
    EXPECT_LE(std::abs((rc.top + rc.bottom) - (rcBefore.top + rcBefore.bottom)), 1) << "the centre moved";

    // Near the corner of the screen the larger window stays whole on it.
    ::SetWindowPos(hWnd, nullptr, rcWork.right - 120, rcWork.bottom - 60, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::PostMessageW(hWnd, WM_DPICHANGED, MAKEWPARAM(192, 192), static_cast<LPARAM>(0xFFFFFFF0u));
    PumpFor(300);
    rc = WindowRect(hWnd);
    EXPECT_EQ(rc.right - rc.left, 776);
    EXPECT_EQ(rc.bottom - rc.top, 408);
    EXPECT_GE(rc.left, rcWork.left);
    EXPECT_GE(rc.top, rcWork.top);
    EXPECT_LE(rc.right, rcWork.right);
    EXPECT_LE(rc.bottom, rcWork.bottom);

    // DPIs the system never gives change nothing.
    const RECT rcKept = rc;
    for (WPARAM wDpi : {MAKEWPARAM(96, 144), MAKEWPARAM(0, 0), MAKEWPARAM(5000, 5000)}) {
        ::PostMessageW(hWnd, WM_DPICHANGED, wDpi, 0);
        PumpFor(100);
        rc = WindowRect(hWnd);
        EXPECT_TRUE(::EqualRect(&rc, &rcKept)) << "wParam " << std::hex << wDpi;
    }

    // A click lands where the control is drawn at the new size.
    RECT rcCtrl = CtrlRect(pWnd->Ctrl(L"OKBtn"));
    POINT pt = {(rcCtrl.left + rcCtrl.right), (rcCtrl.top + rcCtrl.bottom)};  // the centre, at 200 %
    ::ClientToScreen(hWnd, &pt);
    ClickAt(pt);
    ASSERT_TRUE(PumpUntil([&] { return !pWnd->vecClicks.empty(); }, 3000));
    EXPECT_EQ(pWnd->vecClicks[0], reinterpret_cast<WPARAM>(pWnd->Ctrl(L"OKBtn")));
}

TEST_F(SkinForeign, OnlyTheLibrarysClicksReadersRequestsAndTheSystemsActivationCount)
{
    auto pBack = CreateSkinnedWindow(m_pRes, L"UpgradeDUI");  // hidden, as the program's window waits
    auto pWnd = CreateSkinnedWindow(m_pRes, L"MessageboxCalDUI");
    ASSERT_NE(pWnd->pDirectUI, nullptr);
    ASSERT_NE(pBack->pDirectUI, nullptr);
    SetUpPrompt(*pWnd);
    ShowInFront(pWnd->hWnd);
    HWND hWnd = pWnd->hWnd;
    DUI_CTRLBASE* pOK = pWnd->Ctrl(L"OKBtn");

    // A click notification the library did not post is nobody's click.
    for (int i = 0; i < 3; ++i)
        ::PostMessageW(hWnd, WM_DUI_CLICK, reinterpret_cast<WPARAM>(pOK), 0);
    SendFromElsewhere(hWnd, {WM_DUI_CLICK});
    PumpFor(200);
    EXPECT_TRUE(pWnd->vecClicks.empty()) << "a forged click reached the program";
    ClickAt(CtrlCenterOnScreen(hWnd, pOK));
    ASSERT_TRUE(PumpUntil([&] { return !pWnd->vecClicks.empty(); }, 3000));
    PumpFor(200);
    EXPECT_EQ(pWnd->vecClicks, std::vector<WPARAM>{reinterpret_cast<WPARAM>(pOK)}) << "one real click, one report";

    // A posted request for the accessible object gets none (it would be
    // left for nobody); a reader's request still does.
    g_vecObjectAnswers.clear();
    g_pfnUnderTap =
        reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TapProc)));
    for (int i = 0; i < 20; ++i)
        ::PostMessageW(hWnd, WM_GETOBJECT, 0, static_cast<LPARAM>(OBJID_CLIENT));
    PumpFor(300);
    ASSERT_EQ(g_vecObjectAnswers.size(), 20u);
    EXPECT_EQ(std::count(g_vecObjectAnswers.begin(), g_vecObjectAnswers.end(), 0), 20);
    {
        CReader reader(hWnd);
        EXPECT_NE(reader.pAcc, nullptr);
    }
    ASSERT_EQ(g_vecObjectAnswers.size(), 21u);
    EXPECT_NE(g_vecObjectAnswers.back(), 0) << "a reader's request went unanswered";
    ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_pfnUnderTap));

    // A posted activation does not pull the focus into the window behind.
    ASSERT_EQ(::GetFocus(), hWnd);
    ::PostMessageW(pBack->hWnd, WM_ACTIVATE, WA_ACTIVE, 0);
    ::PostMessageW(pBack->hWnd, WM_SETFOCUS, 0, 0);
    PumpFor(200);
    EXPECT_EQ(::GetFocus(), hWnd);
    EXPECT_EQ(::GetActiveWindow(), hWnd);
}

TEST_F(SkinForeign, TheFocusRingIsSolidContrastingAndScaledWithTheDpi)
{
    auto pWnd = CreateSkinnedWindow(m_pRes, L"MessageboxCalDUI");
    ASSERT_NE(pWnd->pDirectUI, nullptr);
    SetUpPrompt(*pWnd);
    ::SetCursorPos(0, 0);  // no button is hovered
    ShowInFront(pWnd->hWnd);
    HWND hWnd = pWnd->hWnd;

    // The ring along the top of the focused button: solid, as thick as the
    // DPI asks, inside the face and standing out from it.
    auto CheckRing = [&](const wchar_t* pszCtrl, int nDpi) {
        SCOPED_TRACE(Narrow(pszCtrl) + " at " + std::to_string(nDpi));
        ::InvalidateRect(hWnd, nullptr, FALSE);
        ::UpdateWindow(hWnd);
        PumpFor(200);
        int cx = 0;
        std::vector<DWORD> vecPixels = ScreenPixels(hWnd, &cx);
        auto At = [&](int x, int y) { return vecPixels[static_cast<size_t>(y) * cx + x]; };
        RECT rc = CtrlRect(pWnd->Ctrl(pszCtrl));
        rc = {::MulDiv(rc.left, nDpi, 96), ::MulDiv(rc.top, nDpi, 96), ::MulDiv(rc.right, nDpi, 96),
              ::MulDiv(rc.bottom, nDpi, 96)};
        const int nInset = ::MulDiv(3, nDpi, 96);
        const int nThick = std::max(1, ::MulDiv(1, nDpi, 96));
        const int yRing = rc.top + nInset;
        const DWORD dwRing = At((rc.left + rc.right) / 2, yRing);
        const DWORD dwFace = At((rc.left + rc.right) / 2, yRing + nThick + 1);
        EXPECT_GE(Contrast(dwRing, dwFace), 3.0)
            << std::hex << "ring " << dwRing << " on face " << dwFace << " is hard to see";
        for (int y = yRing; y < yRing + nThick; ++y) {
            for (int x = rc.left + nInset + nThick; x < rc.right - nInset - nThick; ++x)
                ASSERT_EQ(At(x, y), dwRing) << "the ring is not solid at " << x << "," << y;
        }
        EXPECT_EQ(At((rc.left + rc.right) / 2, yRing + nThick), dwFace) << "the ring is thicker than the DPI asks";
        EXPECT_NE(At((rc.left + rc.right) / 2, yRing - 1), dwRing) << "the ring is not inside the face";
    };

    // The cues show once the keyboard is used: Tab moves on to "取消", a
    // white face; Shift+Tab back to "升级", the accent face.
    PressKey(VK_TAB);
    CheckRing(L"CancelBtn", 96);
    PressKey(VK_TAB, true);
    CheckRing(L"OKBtn", 96);
    ::SendMessageW(hWnd, WM_DPICHANGED, MAKEWPARAM(192, 192), 0);
    CheckRing(L"OKBtn", 192);
    PressKey(VK_TAB);
    CheckRing(L"CancelBtn", 192);
}
