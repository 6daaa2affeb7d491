// Captures of both layouts as a user sees them, saved as PNG files to the
// build folder's "screenshots" and checked for real content: the frame, the
// blue caption bar and enough text ink.
#include "tests/skin/SkinCapture.h"

TEST_F(SkinScreenshot, UpgradeWindowInBothFaces)
{
    auto pWnd = CreateSkinnedWindow(m_pRes, L"UpgradeDUI");
    ASSERT_NE(pWnd->pDirectUI, nullptr);
    ::SetWindowTextW(pWnd->hWnd, L"正在下载");
    for (const wchar_t* pszName : {L"FileNameStatic", L"VersionStatic", L"SpeedStatic", L"AlreadyloadStatic"})
        SetCtrlText(pWnd->Ctrl(pszName), L"");
    ShowInFront(pWnd->hWnd);
    CInk waiting = Shoot(*pWnd, L"upgrade_waiting.png");
    EXPECT_GT(waiting.nText, 150) << "the waiting text";

    SetCtrlVisible(pWnd->Ctrl(L"LoadingStatic"), false);
    SetCtrlVisible(pWnd->Ctrl(L"LoadingAnimate"), false);
    SetCtrlVisible(pWnd->Ctrl(L"UPgradeForm"), true);
    SetCtrlText(pWnd->Ctrl(L"FileNameStatic"), L"DazuvuVevSetup_2.3.1.exe");
    SetCtrlText(pWnd->Ctrl(L"VersionStatic"), L"2.3.1.1024");
    SetCtrlText(pWnd->Ctrl(L"SpeedStatic"), L"1536.50KB/S");
    SetCtrlText(pWnd->Ctrl(L"AlreadyloadStatic"), L"12.65MB/25.30MB");
    SetCtrlPos(pWnd->Ctrl(L"DownloadProgress"), 50);
    CInk download = Shoot(*pWnd, L"upgrade_download.png");
    EXPECT_GT(download.nText, waiting.nText + 300) << "file name, version, speed and amount";

    // Half the bar is blue: measured along its middle row.
    CCapture cap = CaptureWindow(pWnd->hWnd);
    RECT rcBar = CtrlRect(pWnd->Ctrl(L"DownloadProgress"));
    int y = (rcBar.top + rcBar.bottom) / 2;
    int nBlue = 0;
    for (int x = rcBar.left; x < rcBar.right; ++x) {
        DWORD dw = cap.vecPixels[y * cap.cx + x];
        if ((dw & 0xFF) > 200 && ((dw >> 16) & 0xFF) < 120)
            ++nBlue;
    }
    int nWidth = rcBar.right - rcBar.left;
    EXPECT_NEAR(nBlue, nWidth / 2, 4) << "bar at 50";
}

TEST_F(SkinScreenshot, MessageBoxWithChineseTextAndTwoButtons)
{
    auto pWnd = CreateSkinnedWindow(m_pRes, L"MessageboxCalDUI");
    ASSERT_NE(pWnd->pDirectUI, nullptr);
    ::SetWindowTextW(pWnd->hWnd, L"版本更新");
    SetCtrlText(pWnd->Ctrl(L"CaptionStatic"), L"版本更新");
    SetCtrlText(pWnd->Ctrl(L"MsgBoxCalTipsStatic"), L"有新版本咯，赶紧去升级体验最新功能吧！");
    SetCtrlText(pWnd->Ctrl(L"MsgBoxCalCheckBox"), L"不再提醒");
    SetCtrlText(pWnd->Ctrl(L"OKBtn"), L"升级");
    SetCtrlText(pWnd->Ctrl(L"CancelBtn"), L"取消");
    EXPECT_TRUE(
        SetCtrlImage(pWnd->Ctrl(L"MsgBoxCalStateLogo"), LoadSkinImage(m_pRes, L"MessageBoxCal.tip_warn", 0, true)));
    LayOutMessageBox(*pWnd, true);
    ShowInFront(pWnd->hWnd);
    CInk ink = Shoot(*pWnd, L"msgbox_upgrade.png");
    EXPECT_GT(ink.nText, 400) << "the Chinese message, check box and second button";

    // The warning picture's orange is on screen where the picture is.
    CCapture cap = CaptureWindow(pWnd->hWnd);
    RECT rcLogo = CtrlRect(pWnd->Ctrl(L"MsgBoxCalStateLogo"));
    DWORD dw = cap.vecPixels[(rcLogo.top + 6) * cap.cx + (rcLogo.left + rcLogo.right) / 2];
    EXPECT_GT((dw >> 16) & 0xFF, 200u) << std::hex << dw;
    EXPECT_LT(dw & 0xFF, 100u) << std::hex << dw;
}

TEST_F(SkinScreenshot, MessageBoxNoticeWithOneButton)
{
    auto pWnd = CreateSkinnedWindow(m_pRes, L"MessageboxCalDUI");
    ASSERT_NE(pWnd->pDirectUI, nullptr);
    SetCtrlText(pWnd->Ctrl(L"CaptionStatic"), L"提示");
    SetCtrlText(pWnd->Ctrl(L"MsgBoxCalTipsStatic"), L"下载失败，请稍后重试！");
    SetCtrlVisible(pWnd->Ctrl(L"MsgBoxCalCheckBox"), false);
    SetCtrlVisible(pWnd->Ctrl(L"CancelBtn"), false);
    SetCtrlText(pWnd->Ctrl(L"OKBtn"), L"确定");
    SetCtrlImage(pWnd->Ctrl(L"MsgBoxCalStateLogo"), LoadSkinImage(m_pRes, L"MessageBoxCal.tip_warn", 0, true));
    LayOutMessageBox(*pWnd, false);
    ShowInFront(pWnd->hWnd);
    CInk ink = Shoot(*pWnd, L"msgbox_notice.png");
    EXPECT_GT(ink.nText, 150) << "the message";
}

TEST_F(SkinScreenshot, ButtonsShowHoverAndPressedLooks)
{
    auto pWnd = CreateSkinnedWindow(m_pRes, L"MessageboxCalDUI");
    ASSERT_NE(pWnd->pDirectUI, nullptr);
    DUI_CTRLBASE* pCancel = pWnd->Ctrl(L"CancelBtn");
    LayOutMessageBox(*pWnd, true);
    ShowInFront(pWnd->hWnd);
    RECT rc = CtrlRect(pCancel);
    // The fill just inside the border, away from the caption.
    auto FillAt = [&](const CCapture& cap) { return cap.vecPixels[(rc.top + 4) * cap.cx + rc.left + 6]; };
    DWORD dwNormal = FillAt(CaptureWindow(pWnd->hWnd));

    POINT pt = CtrlCenterOnScreen(pWnd->hWnd, pCancel);
    ::SetCursorPos(pt.x, pt.y);
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = MOUSEEVENTF_MOVE;
    input.mi.dx = 1;
    ::SendInput(1, &input, sizeof(input));
    PumpFor(300);
    DWORD dwHover = FillAt(CaptureWindow(pWnd->hWnd));

    input.mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input.mi.dx = 0;
    ::SendInput(1, &input, sizeof(input));
    PumpFor(300);
    DWORD dwPressed = FillAt(CaptureWindow(pWnd->hWnd));
    EXPECT_TRUE(pWnd->vecClicks.empty()) << "pressing is not yet a click";

    input.mi.dwFlags = MOUSEEVENTF_LEFTUP;
    ::SendInput(1, &input, sizeof(input));
    PumpUntil([&] { return !pWnd->vecClicks.empty(); }, 3000);
    PumpFor(200);
    DWORD dwAfter = FillAt(CaptureWindow(pWnd->hWnd));

    EXPECT_EQ(dwNormal, 0xFFFFFFu) << std::hex << dwNormal;
    EXPECT_NE(dwHover, dwNormal) << "hover look";
    EXPECT_NE(dwPressed, dwHover) << "pressed look";
    EXPECT_EQ(dwAfter, dwHover) << "back to the hover look while the mouse stays";
    ASSERT_EQ(pWnd->vecClicks.size(), 1u);
    EXPECT_EQ(pWnd->vecClicks[0], reinterpret_cast<WPARAM>(pCancel));
}
