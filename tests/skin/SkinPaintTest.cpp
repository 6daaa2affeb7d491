// What the skinned window asks to have drawn again, and when its spinner
// wakes it: only what changed, and only while it can be seen.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/skin/SkinTestKit.h"
#include "win/Handles.h"

namespace {

class SkinPaint : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_pRes = OpenSkinW(L"UISkin\\DazuvuVev.dui", L"UISkin\\Default.skn", 0, 0, 0);
        ASSERT_NE(m_pRes, nullptr) << Narrow(SkinLastError());
        m_pWnd = CreateSkinnedWindow(m_pRes, L"UpgradeDUI");
        ASSERT_NE(m_pWnd->pDirectUI, nullptr);
    }
    void TearDown() override
    {
        m_pWnd.reset();
        FreeSkin();
    }

    // The download face, shown and fully painted.
    void ShowDownloadFace()
    {
        SetCtrlVisible(m_pWnd->Ctrl(L"LoadingStatic"), false);
        SetCtrlVisible(m_pWnd->Ctrl(L"LoadingAnimate"), false);
        SetCtrlVisible(m_pWnd->Ctrl(L"UPgradeForm"), true);
        SetCtrlText(m_pWnd->Ctrl(L"FileNameStatic"), L"DazuvuvevSetup_5.1.0.2046.exe");
        SetCtrlText(m_pWnd->Ctrl(L"SpeedStatic"), L"512.0KB/S");
        SetCtrlPos(m_pWnd->Ctrl(L"DownloadProgress"), 40);
        ShowInFront(m_pWnd->hWnd);
        ::UpdateWindow(m_pWnd->hWnd);
    }

    bool NothingPending() const
    {
        RECT rc = Pending();
        return ::IsRectEmpty(&rc) != FALSE;
    }

    // The bounding box of what waits to be painted; empty when nothing does.
    RECT Pending() const
    {
        RECT rc = {};
        if (!::GetUpdateRect(m_pWnd->hWnd, &rc, FALSE))
            ::SetRectEmpty(&rc);
        return rc;
    }

    // Whether the spinner's timer fired within the time.
    bool SpinnerTicks(DWORD dwMs) const
    {
        MSG msg;
        while (::PeekMessageW(&msg, m_pWnd->hWnd, WM_TIMER, WM_TIMER, PM_REMOVE)) {
        }
        ::Sleep(dwMs);
        return ::PeekMessageW(&msg, m_pWnd->hWnd, WM_TIMER, WM_TIMER, PM_REMOVE) != FALSE;
    }

    IDUIRes* m_pRes = nullptr;
    std::unique_ptr<CTestWindow> m_pWnd;
};

TEST_F(SkinPaint, OnlyTheChangedControlIsDrawnAgainAndNothingWhenNothingChanged)
{
    ShowDownloadFace();
    ASSERT_TRUE(NothingPending());
    DUI_CTRLBASE* pSpeed = m_pWnd->Ctrl(L"SpeedStatic");
    DUI_CTRLBASE* pBar = m_pWnd->Ctrl(L"DownloadProgress");
    DUI_CTRLBASE* pForm = m_pWnd->Ctrl(L"UPgradeForm");

    // Setting what is already there asks for no paint at all.
    SetCtrlText(pSpeed, L"512.0KB/S");
    SetCtrlPos(pBar, 40);
    SetCtrlVisible(pForm, true);
    SetCtrlRect(pBar, GetCtrlRect(pBar));
    EXPECT_TRUE(NothingPending()) << "an unchanged text, position, visibility or place repaints nothing";

    // A new value asks for exactly its control's rectangle.
    SetCtrlText(pSpeed, L"640.0KB/S");
    RECT rcPending = Pending();
    RECT rcSpeed = CtrlRect(pSpeed);
    EXPECT_TRUE(::EqualRect(&rcPending, &rcSpeed));
    ::UpdateWindow(m_pWnd->hWnd);
    SetCtrlPos(pBar, 41);
    rcPending = Pending();
    RECT rcBar = CtrlRect(pBar);
    EXPECT_TRUE(::EqualRect(&rcPending, &rcBar));
    ::UpdateWindow(m_pWnd->hWnd);

    // A moved control: where it was and where it is now.
    IDUIRect* pMoved = GetCtrlRect(pBar);
    LONG lTop = 0;
    pMoved->get_Top(&lTop);
    pMoved->put_Top(lTop + 4);
    pMoved->put_Bottom(lTop + 10);
    SetCtrlRect(pBar, pMoved);
    rcPending = Pending();
    RECT rcBoth = rcBar;
    rcBoth.bottom = lTop + 10;
    EXPECT_TRUE(::EqualRect(&rcPending, &rcBoth));
    ::UpdateWindow(m_pWnd->hWnd);

    // A form that goes away takes its controls with it.
    SetCtrlVisible(pForm, false);
    rcPending = Pending();
    RECT rcForm = CtrlRect(pForm);
    EXPECT_TRUE(::EqualRect(&rcPending, &rcForm));
}

TEST_F(SkinPaint, PartsDrawnOneByOneShowWhatAWholePaintShows)
{
    ShowDownloadFace();
    // Many small changes, each painted by itself, over the same back buffer.
    for (int i = 0; i < 12; ++i) {
        wchar_t szText[64];
        swprintf(szText, 64, L"%d.%dKB/S", 100 + 37 * i, i);
        SetCtrlText(m_pWnd->Ctrl(L"SpeedStatic"), szText);
        swprintf(szText, 64, L"%d.00MB/300.00MB", 25 * i);
        SetCtrlText(m_pWnd->Ctrl(L"AlreadyloadStatic"), szText);
        SetCtrlPos(m_pWnd->Ctrl(L"DownloadProgress"), 8 * i);
        ::UpdateWindow(m_pWnd->hWnd);
    }
    // Hover the button, then leave it again: its look changes twice.
    ::SetCursorPos(CtrlCenterOnScreen(m_pWnd->hWnd, m_pWnd->Ctrl(L"CancelDownload")).x,
                   CtrlCenterOnScreen(m_pWnd->hWnd, m_pWnd->Ctrl(L"CancelDownload")).y);
    PumpFor(200);
    ::SetCursorPos(0, 0);
    // Leaving is noticed by polling, a little later than entering.
    PumpFor(800);
    const std::vector<DWORD> vecPieces = ScreenPixels(m_pWnd->hWnd);

    // A new title makes the library draw the whole face afresh.
    ::SetWindowTextW(m_pWnd->hWnd, L"软件升级");
    ::UpdateWindow(m_pWnd->hWnd);
    PumpFor(100);
    const std::vector<DWORD> vecWhole = ScreenPixels(m_pWnd->hWnd);
    ASSERT_EQ(vecPieces.size(), vecWhole.size());
    RECT rcWindow;
    ::GetWindowRect(m_pWnd->hWnd, &rcWindow);
    const int cx = rcWindow.right - rcWindow.left;
    size_t nDiffer = 0;
    RECT rcDiffer = {cx, 1 << 20, -1, -1};
    for (size_t i = 0; i < vecWhole.size(); ++i) {
        if (vecPieces[i] == vecWhole[i])
            continue;
        ++nDiffer;
        const LONG x = static_cast<LONG>(i % cx), y = static_cast<LONG>(i / cx);
        rcDiffer = {std::min(rcDiffer.left, x), std::min(rcDiffer.top, y), std::max(rcDiffer.right, x + 1),
                    std::max(rcDiffer.bottom, y + 1)};
    }
    EXPECT_EQ(nDiffer, 0u) << "painting in parts must leave no trace of earlier values; they differ within ("
                           << rcDiffer.left << "," << rcDiffer.top << ")-(" << rcDiffer.right << "," << rcDiffer.bottom
                           << ")";
}

TEST_F(SkinPaint, TheBarEndsWhereItsPositionSaysWhateverItWasBefore)
{
    ShowDownloadFace();
    DUI_CTRLBASE* pBar = m_pWnd->Ctrl(L"DownloadProgress");
    const RECT rc = CtrlRect(pBar);
    const int cx = rc.right - rc.left;
    const int cy = rc.bottom - rc.top;
    // The bar's rows as the window holds them after that position is painted.
    auto bar = [&](LONG lPos) {
        SetCtrlPos(pBar, lPos);
        ::UpdateWindow(m_pWnd->hWnd);
        std::vector<std::vector<COLORREF>> rows(cy, std::vector<COLORREF>(cx));
        CWindowDC dc(m_pWnd->hWnd);
        for (int y = 0; y < cy; ++y)
            for (int x = 0; x < cx; ++x)
                rows[y][x] = ::GetPixel(dc.Get(), rc.left + x, rc.top + y);
        return rows;
    };
    const auto full = bar(100);
    const auto empty = bar(0);
    const COLORREF crFill = full[cy / 2][cx / 2];
    const COLORREF crTrack = empty[cy / 2][cx / 2];
    ASSERT_NE(crFill, crTrack);
    EXPECT_EQ(bar(130), full) << "beyond 100 the bar is full";
    EXPECT_EQ(bar(-5), empty) << "below 0 it is empty";

    // Going up and down, the end of the fill looks the same wherever it is.
    const int nEnd50 = cx * 50 / 100;
    const auto half = bar(50);
    for (LONG lPos : {7L, 93L, 12L, 50L, 33L, 88L, 61L, 20L}) {
        const auto rows = bar(lPos);
        const int nEnd = cx * static_cast<int>(lPos) / 100;
        for (int y = 0; y < cy; ++y) {
            for (int x = 0; x < cx; ++x) {
                if (x >= nEnd - 4 && x < nEnd + 2) {
                    EXPECT_EQ(rows[y][x], half[y][x - nEnd + nEnd50]) << "end of the fill at " << lPos << "%, x " << x;
                } else if (x >= 4 && x < nEnd - 4) {
                    EXPECT_EQ(rows[y][x], full[y][x]) << "filled part at " << lPos << "%, x " << x;
                } else if (x >= nEnd + 2) {
                    EXPECT_EQ(rows[y][x], empty[y][x]) << "empty part at " << lPos << "%, x " << x;
                }
            }
        }
    }
}

TEST_F(SkinPaint, TheSpinnerTicksOnlyWhileItCanBeSeen)
{
    EXPECT_FALSE(SpinnerTicks(300)) << "hidden window: no ticks";
    ShowInFront(m_pWnd->hWnd);
    EXPECT_TRUE(SpinnerTicks(300)) << "the waiting face turns its spinner";

    // The download face has no spinner.
    SetCtrlVisible(m_pWnd->Ctrl(L"LoadingAnimate"), false);
    EXPECT_FALSE(SpinnerTicks(300));
    SetCtrlVisible(m_pWnd->Ctrl(L"LoadingAnimate"), true);
    EXPECT_TRUE(SpinnerTicks(300));

    ::ShowWindow(m_pWnd->hWnd, SW_MINIMIZE);
    EXPECT_FALSE(SpinnerTicks(300)) << "minimised: no ticks";
    ::ShowWindow(m_pWnd->hWnd, SW_RESTORE);
    EXPECT_TRUE(SpinnerTicks(300));

    ::ShowWindow(m_pWnd->hWnd, SW_HIDE);
    EXPECT_FALSE(SpinnerTicks(300)) << "hidden again: no ticks";
}

}  // namespace
