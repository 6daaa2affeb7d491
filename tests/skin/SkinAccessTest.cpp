// The skinned windows as users without a mouse or with long names meet them:
// keyboard focus and keys, the tooltips of cut texts, the window's icon and a
// change of DPI.
#include "tests/skin/SkinAccessKit.h"

#include <commctrl.h>

#include <map>

#include "win/Handles.h"

namespace {

struct CTipSearch {
    HWND hOwner;
    HWND hTip;
};

BOOL CALLBACK OnThreadWindow(HWND hWnd, LPARAM lParam)
{
    auto pFind = reinterpret_cast<CTipSearch*>(lParam);
    wchar_t szClass[64] = {};
    ::GetClassNameW(hWnd, szClass, 64);
    if (lstrcmpiW(szClass, TOOLTIPS_CLASSW) == 0 && ::GetWindow(hWnd, GW_OWNER) == pFind->hOwner) {
        pFind->hTip = hWnd;
        return FALSE;
    }
    return TRUE;
}

HWND TooltipOf(HWND hOwner)
{
    CTipSearch find = {hOwner, nullptr};
    ::EnumThreadWindows(::GetCurrentThreadId(), &OnThreadWindow, reinterpret_cast<LPARAM>(&find));
    return find.hTip;
}

// The texts of the tooltip's tools.
std::vector<std::wstring> TipTexts(HWND hOwner)
{
    std::vector<std::wstring> vecTexts;
    HWND hTip = TooltipOf(hOwner);
    if (!hTip)
        return vecTexts;
    LRESULT lCount = ::SendMessageW(hTip, TTM_GETTOOLCOUNT, 0, 0);
    for (LRESULT i = 0; i < lCount; ++i) {
        wchar_t szText[1024] = {};
        TTTOOLINFOW ti = {};
        ti.cbSize = TTTOOLINFOW_V2_SIZE;
        ti.lpszText = szText;
        if (::SendMessageW(hTip, TTM_ENUMTOOLSW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&ti)))
            vecTexts.push_back(szText);
    }
    return vecTexts;
}

}  // namespace

TEST_F(SkinAccess, KeysMoveTheFocusAndPressTheFocusedControl)
{
    auto pWnd = CreateSkinnedWindow(m_pRes, L"MessageboxCalDUI");
    ASSERT_NE(pWnd, nullptr);
    SetUpPrompt(*pWnd);
    ShowInFront(pWnd->hWnd);
    ASSERT_EQ(::GetFocus(), pWnd->hWnd) << "the skinned window does not take the keyboard";
    CReader reader(pWnd->hWnd);
    ASSERT_NE(reader.pAcc, nullptr);
    auto FocusName = [&]() { return reader.Read(reader.FocusedId()).strName; };

    // The check box first, then the buttons, the close cross last; around.
    EXPECT_EQ(FocusName(), L"升级");
    const wchar_t* const kTabs[] = {L"取消", L"关闭", L"不再提醒", L"升级"};
    for (const wchar_t* pszNext : kTabs) {
        PressKey(VK_TAB);
        EXPECT_EQ(FocusName(), pszNext);
    }
    PressKey(VK_TAB, true);
    EXPECT_EQ(FocusName(), L"不再提醒");
    EXPECT_TRUE(pWnd->vecClicks.empty()) << "moving the focus clicked something";

    // Space ticks the focused box, and again unticks it: each is a click.
    PressKey(VK_SPACE);
    EXPECT_EQ(GetCtrlCheck(pWnd->Ctrl(L"MsgBoxCalCheckBox")), 1);
    PressKey(VK_SPACE);
    EXPECT_EQ(GetCtrlCheck(pWnd->Ctrl(L"MsgBoxCalCheckBox")), 0);
    ASSERT_EQ(pWnd->vecClicks.size(), 2u);

    // Enter on the box means the default button; on another button, that one.
    PressKey(VK_RETURN);
    ASSERT_EQ(pWnd->vecClicks.size(), 3u);
    EXPECT_EQ(pWnd->vecClicks.back(), reinterpret_cast<WPARAM>(pWnd->Ctrl(L"OKBtn")));
    PressKey(VK_TAB);
    PressKey(VK_TAB);
    EXPECT_EQ(FocusName(), L"取消");
    PressKey(VK_RETURN);
    ASSERT_EQ(pWnd->vecClicks.size(), 4u);
    EXPECT_EQ(pWnd->vecClicks.back(), reinterpret_cast<WPARAM>(pWnd->Ctrl(L"CancelBtn")));

    // A focused button the program hides hands the focus on; Tab skips it.
    SetCtrlVisible(pWnd->Ctrl(L"CancelBtn"), false);
    EXPECT_NE(FocusName(), L"取消");
    for (int i = 0; i < 4; ++i) {
        PressKey(VK_TAB);
        EXPECT_NE(FocusName(), L"取消");
    }
}

TEST_F(SkinAccess, EscapeIsTheCloseCrossAndEnterTheFocusedButtonInTheUpgradeWindow)
{
    auto pWnd = CreateSkinnedWindow(m_pRes, L"UpgradeDUI");
    ASSERT_NE(pWnd, nullptr);
    ShowInFront(pWnd->hWnd);
    PressKey(VK_ESCAPE);
    ASSERT_EQ(pWnd->vecClicks.size(), 1u);
    EXPECT_EQ(pWnd->vecClicks[0], reinterpret_cast<WPARAM>(pWnd->Ctrl(L"CloseBtn")));
    PressKey(VK_RETURN);
    ASSERT_EQ(pWnd->vecClicks.size(), 2u);
    EXPECT_EQ(pWnd->vecClicks[1], reinterpret_cast<WPARAM>(pWnd->Ctrl(L"CancelDownload")));
    // Keys that mean nothing here click nothing.
    PressKey('A');
    PressKey(VK_F5);
    EXPECT_EQ(pWnd->vecClicks.size(), 2u);
}

TEST_F(SkinAccess, LongNamesShowTheirWholeTextAsTooltipAndShortOnesNone)
{
    auto pWnd = CreateSkinnedWindow(m_pRes, L"UpgradeDUI");
    ASSERT_NE(pWnd, nullptr);
    SetCtrlVisible(pWnd->Ctrl(L"UPgradeForm"), true);
    SetCtrlText(pWnd->Ctrl(L"FileNameStatic"), L"DazuvuVev_Setup.exe");
    SetCtrlText(pWnd->Ctrl(L"VersionStatic"), L"5.2.0.1893");
    ShowInFront(pWnd->hWnd);
    EXPECT_TRUE(TipTexts(pWnd->hWnd).empty()) << "a text that fits got a tooltip";

    const std::wstring strFile = L"DazuvuVev_Setup_5.2.0.1893_beta_channel_x86_full_offline_build_20261208_a.exe";
    const std::wstring strVersion = L"5.2.0.1893-beta.channel.x86.full.offline.build.20261208.nightly.a";
    SetCtrlText(pWnd->Ctrl(L"FileNameStatic"), strFile.c_str());
    SetCtrlText(pWnd->Ctrl(L"VersionStatic"), strVersion.c_str());
    ::UpdateWindow(pWnd->hWnd);
    PumpFor(100);
    std::vector<std::wstring> vecTips = TipTexts(pWnd->hWnd);
    EXPECT_EQ(vecTips.size(), 2u);
    EXPECT_NE(std::find(vecTips.begin(), vecTips.end(), strFile), vecTips.end());
    EXPECT_NE(std::find(vecTips.begin(), vecTips.end(), strVersion), vecTips.end());

    // Shortened again, or hidden with its form: no stale tooltip is left.
    SetCtrlText(pWnd->Ctrl(L"FileNameStatic"), L"short.exe");
    ::UpdateWindow(pWnd->hWnd);
    PumpFor(50);
    vecTips = TipTexts(pWnd->hWnd);
    ASSERT_EQ(vecTips.size(), 1u);
    EXPECT_EQ(vecTips[0], strVersion);
    SetCtrlVisible(pWnd->Ctrl(L"UPgradeForm"), false);
    ::UpdateWindow(pWnd->hWnd);
    PumpFor(50);
    EXPECT_TRUE(TipTexts(pWnd->hWnd).empty());
}

TEST_F(SkinAccess, BothWindowsCarryTheApplicationIcon)
{
    for (const wchar_t* pszLayout : {L"UpgradeDUI", L"MessageboxCalDUI"}) {
        auto pWnd = CreateSkinnedWindow(m_pRes, pszLayout);
        ASSERT_NE(pWnd, nullptr);
        HICON hBig = reinterpret_cast<HICON>(::SendMessageW(pWnd->hWnd, WM_GETICON, ICON_BIG, 0));
        HICON hSmall = reinterpret_cast<HICON>(::SendMessageW(pWnd->hWnd, WM_GETICON, ICON_SMALL, 0));
        ASSERT_NE(hBig, nullptr) << Narrow(pszLayout);
        ASSERT_NE(hSmall, nullptr) << Narrow(pszLayout);
        ICONINFO ii = {};
        ASSERT_TRUE(::GetIconInfo(hSmall, &ii));
        CBitmapHandle color(ii.hbmColor);
        CBitmapHandle mask(ii.hbmMask);
        BITMAP bm = {};
        ::GetObjectW(color ? color.Get() : mask.Get(), sizeof(bm), &bm);
        EXPECT_EQ(bm.bmWidth, ::GetSystemMetrics(SM_CXSMICON)) << Narrow(pszLayout);
    }
}

TEST_F(SkinAccess, MovingToAScreenOfAnotherDpiRescalesWhatIsDrawnNotWhatTheProgramReads)
{
    auto pWnd = CreateSkinnedWindow(m_pRes, L"MessageboxCalDUI");
    ASSERT_NE(pWnd, nullptr);
    SetUpPrompt(*pWnd);
    ShowInFront(pWnd->hWnd);
    RECT rcWindow = {};
    ::GetWindowRect(pWnd->hWnd, &rcWindow);
    RECT rcSuggested = {rcWindow.left, rcWindow.top, rcWindow.left + 582, rcWindow.top + 306};
    ::SendMessageW(pWnd->hWnd, 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(144, 144),
                   reinterpret_cast<LPARAM>(&rcSuggested));
    PumpFor(200);
    ::GetWindowRect(pWnd->hWnd, &rcWindow);
    EXPECT_EQ(rcWindow.right - rcWindow.left, 582);
    EXPECT_EQ(rcWindow.bottom - rcWindow.top, 306);

    // The program lays the box out in the layout's pixels whatever the DPI.
    RECT rcCancel = CtrlRect(pWnd->Ctrl(L"CancelBtn"));
    EXPECT_EQ(rcCancel.left, 154 + 92);
    EXPECT_EQ(rcCancel.right - rcCancel.left, 80);

    // On the screen the button is half as large again, and a click there
    // reaches it.
    CReader reader(pWnd->hWnd);
    ASSERT_NE(reader.pAcc, nullptr);
    CReadChild cancel = reader.Find(L"取消");
    POINT ptClient = {0, 0};
    ::ClientToScreen(pWnd->hWnd, &ptClient);
    EXPECT_EQ(cancel.rcScreen.left - ptClient.x, rcCancel.left * 3 / 2);
    EXPECT_EQ(cancel.rcScreen.right - cancel.rcScreen.left, 120);
    POINT ptClick = {(cancel.rcScreen.left + cancel.rcScreen.right) / 2,
                     (cancel.rcScreen.top + cancel.rcScreen.bottom) / 2};
    ClickAt(ptClick);
    ASSERT_TRUE(PumpUntil([&] { return !pWnd->vecClicks.empty(); }, 3000));
    EXPECT_EQ(pWnd->vecClicks[0], reinterpret_cast<WPARAM>(pWnd->Ctrl(L"CancelBtn")));
}
