// The skinned windows as users without a mouse, with a screen reader or with
// long names meet them: keyboard focus and keys, the accessible object, the
// tooltips of cut texts and the window's icon.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <oleacc.h>

#include <map>

#include "tests/skin/SkinTestKit.h"

namespace {

class SkinAccess : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::CoInitialize(nullptr);
        m_pRes = OpenSkinW(L"UISkin\\DazuvuVev.dui", L"UISkin\\Default.skn", 0, 0, 0);
        ASSERT_NE(m_pRes, nullptr) << Narrow(SkinLastError());
    }
    void TearDown() override
    {
        FreeSkin();
        ::CoUninitialize();
    }

    IDUIRes* m_pRes = nullptr;
};

void PressKey(WORD wKey, bool bShift = false)
{
    std::vector<INPUT> inputs;
    auto Add = [&](WORD wVk, DWORD dwFlags) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = wVk;
        input.ki.wScan = static_cast<WORD>(::MapVirtualKeyW(wVk, MAPVK_VK_TO_VSC));
        input.ki.dwFlags = dwFlags;
        inputs.push_back(input);
    };
    if (bShift)
        Add(VK_SHIFT, 0);
    Add(wKey, 0);
    Add(wKey, KEYEVENTF_KEYUP);
    if (bShift)
        Add(VK_SHIFT, KEYEVENTF_KEYUP);
    ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    PumpFor(150);
}

// One child of the accessible object as a screen reader reads it.
struct CReadChild {
    LONG lId = 0;
    std::wstring strName;
    LONG lRole = 0;
    LONG lState = 0;
    std::wstring strValue;
    std::wstring strAction;
    RECT rcScreen = {};
};

std::wstring TakeBstr(BSTR bstr)
{
    std::wstring str = bstr ? bstr : L"";
    ::SysFreeString(bstr);
    return str;
}

struct CReader {
    IAccessible* pAcc = nullptr;

    explicit CReader(HWND hWnd)
    {
        ::AccessibleObjectFromWindow(hWnd, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                     reinterpret_cast<void**>(&pAcc));
    }
    ~CReader()
    {
        if (pAcc)
            pAcc->Release();
    }

    std::vector<CReadChild> Children() const
    {
        std::vector<CReadChild> vecChildren;
        long lCount = 0;
        if (!pAcc || FAILED(pAcc->get_accChildCount(&lCount)) || lCount <= 0)
            return vecChildren;
        std::vector<VARIANT> vecVars(static_cast<size_t>(lCount));
        long lGot = 0;
        if (FAILED(::AccessibleChildren(pAcc, 0, lCount, vecVars.data(), &lGot)))
            return vecChildren;
        for (long i = 0; i < lGot; ++i) {
            VARIANT& var = vecVars[static_cast<size_t>(i)];
            if (var.vt != VT_I4) {
                ::VariantClear(&var);
                continue;
            }
            vecChildren.push_back(Read(var.lVal));
        }
        return vecChildren;
    }

    CReadChild Read(LONG lId) const
    {
        CReadChild child;
        child.lId = lId;
        VARIANT var;
        var.vt = VT_I4;
        var.lVal = lId;
        BSTR bstr = nullptr;
        if (pAcc->get_accName(var, &bstr) == S_OK)
            child.strName = TakeBstr(bstr);
        VARIANT result;
        ::VariantInit(&result);
        if (SUCCEEDED(pAcc->get_accRole(var, &result)) && result.vt == VT_I4)
            child.lRole = result.lVal;
        ::VariantInit(&result);
        if (SUCCEEDED(pAcc->get_accState(var, &result)) && result.vt == VT_I4)
            child.lState = result.lVal;
        bstr = nullptr;
        if (pAcc->get_accValue(var, &bstr) == S_OK)
            child.strValue = TakeBstr(bstr);
        bstr = nullptr;
        if (pAcc->get_accDefaultAction(var, &bstr) == S_OK)
            child.strAction = TakeBstr(bstr);
        long x = 0, y = 0, cx = 0, cy = 0;
        if (SUCCEEDED(pAcc->accLocation(&x, &y, &cx, &cy, var)))
            child.rcScreen = {x, y, x + cx, y + cy};
        return child;
    }

    // The one child with that name; lId 0 when there is none or several.
    CReadChild Find(const std::wstring& strName) const
    {
        CReadChild found;
        int nFound = 0;
        for (const CReadChild& child : Children()) {
            if (child.strName == strName) {
                found = child;
                ++nFound;
            }
        }
        return nFound == 1 ? found : CReadChild();
    }

    LONG FocusedId() const
    {
        VARIANT var;
        ::VariantInit(&var);
        if (!pAcc || pAcc->get_accFocus(&var) != S_OK || var.vt != VT_I4)
            return -1;
        return var.lVal;
    }
};

RECT ScreenRectOf(HWND hWnd, DUI_CTRLBASE* pCtrl)
{
    RECT rc = CtrlRect(pCtrl);
    ::MapWindowPoints(hWnd, nullptr, reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

// Sets the message box up as the program does for its upgrade prompt.
void SetUpPrompt(CTestWindow& wnd)
{
    SetCtrlText(wnd.Ctrl(L"CaptionStatic"), L"版本更新");
    SetCtrlText(wnd.Ctrl(L"MsgBoxCalTipsStatic"), L"有新版本咯，赶紧去升级体验最新功能吧！");
    SetCtrlText(wnd.Ctrl(L"MsgBoxCalCheckBox"), L"不再提醒");
    SetCtrlText(wnd.Ctrl(L"OKBtn"), L"升级");
    SetCtrlText(wnd.Ctrl(L"CancelBtn"), L"取消");
    MoveCtrlBy(wnd.Ctrl(L"OKBtn"), -92);
    MoveCtrlBy(wnd.Ctrl(L"CancelBtn"), 92);
}

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

// The accessibility events of one window, as a reader's hook gets them.
struct CEventLog {
    static CEventLog* s_pActive;
    HWND hWnd = nullptr;
    HWINEVENTHOOK hHook = nullptr;
    std::vector<std::pair<DWORD, LONG>> vecEvents;  // event, child

    explicit CEventLog(HWND hWindow) : hWnd(hWindow)
    {
        s_pActive = this;
        hHook = ::SetWinEventHook(EVENT_MIN, EVENT_MAX, nullptr, &OnEvent, ::GetCurrentProcessId(), 0,
                                  WINEVENT_OUTOFCONTEXT);
    }
    ~CEventLog()
    {
        if (hHook)
            ::UnhookWinEvent(hHook);
        s_pActive = nullptr;
    }
    static void CALLBACK OnEvent(HWINEVENTHOOK, DWORD dwEvent, HWND hWnd, LONG lObject, LONG lChild, DWORD, DWORD)
    {
        if (s_pActive && hWnd == s_pActive->hWnd && lObject == OBJID_CLIENT)
            s_pActive->vecEvents.push_back({dwEvent, lChild});
    }
    bool Saw(DWORD dwEvent, LONG lChild)
    {
        PumpFor(100);
        for (const auto& event : vecEvents) {
            if (event.first == dwEvent && event.second == lChild)
                return true;
        }
        return false;
    }
};

CEventLog* CEventLog::s_pActive = nullptr;

}  // namespace

TEST_F(SkinAccess, ScreenReaderFindsEveryControlOfThePromptAndTicksTheBox)
{
    auto pWnd = CreateSkinnedWindow(m_pRes, L"MessageboxCalDUI");
    ASSERT_NE(pWnd, nullptr);
    SetUpPrompt(*pWnd);
    ::SetWindowTextW(pWnd->hWnd, L"版本更新");
    ShowInFront(pWnd->hWnd);

    CReader reader(pWnd->hWnd);
    ASSERT_NE(reader.pAcc, nullptr) << "no accessible object from WM_GETOBJECT";
    BSTR bstr = nullptr;
    VARIANT self;
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    ASSERT_EQ(reader.pAcc->get_accName(self, &bstr), S_OK);
    EXPECT_EQ(TakeBstr(bstr), L"版本更新");

    struct {
        const wchar_t* pszName;
        const wchar_t* pszCtrl;
        LONG lRole;
        LONG lStateOn;
        LONG lStateOff;
    } kExpected[] = {
        {L"版本更新", L"CaptionStatic", ROLE_SYSTEM_STATICTEXT, STATE_SYSTEM_READONLY, STATE_SYSTEM_FOCUSABLE},
        {L"关闭", L"CloseBtn", ROLE_SYSTEM_PUSHBUTTON, STATE_SYSTEM_FOCUSABLE, STATE_SYSTEM_FOCUSED},
        {L"提示图标", L"MsgBoxCalStateLogo", ROLE_SYSTEM_GRAPHIC, 0, STATE_SYSTEM_INVISIBLE},
        {L"有新版本咯，赶紧去升级体验最新功能吧！", L"MsgBoxCalTipsStatic", ROLE_SYSTEM_STATICTEXT, 0,
         STATE_SYSTEM_INVISIBLE},
        {L"不再提醒", L"MsgBoxCalCheckBox", ROLE_SYSTEM_CHECKBUTTON, STATE_SYSTEM_FOCUSABLE, STATE_SYSTEM_CHECKED},
        // The default button holds the focus while the user has not moved it.
        {L"升级", L"OKBtn", ROLE_SYSTEM_PUSHBUTTON,
         STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_FOCUSED | STATE_SYSTEM_DEFAULT, 0},
        {L"取消", L"CancelBtn", ROLE_SYSTEM_PUSHBUTTON, STATE_SYSTEM_FOCUSABLE,
         STATE_SYSTEM_FOCUSED | STATE_SYSTEM_DEFAULT},
    };
    for (const auto& want : kExpected) {
        CReadChild child = reader.Find(want.pszName);
        ASSERT_NE(child.lId, 0) << "no single child named " << Narrow(want.pszName);
        EXPECT_EQ(child.lRole, want.lRole) << Narrow(want.pszName);
        EXPECT_EQ(child.lState & want.lStateOn, want.lStateOn) << Narrow(want.pszName);
        EXPECT_EQ(child.lState & want.lStateOff, 0) << Narrow(want.pszName);
        RECT rcWant = ScreenRectOf(pWnd->hWnd, pWnd->Ctrl(want.pszCtrl));
        EXPECT_TRUE(::EqualRect(&child.rcScreen, &rcWant)) << Narrow(want.pszName) << " is not where it is drawn";
    }
    EXPECT_EQ(reader.FocusedId(), reader.Find(L"升级").lId);

    // Ticking the box by its default action is a click: the program hears of
    // it and the reader sees the new state and action.
    CReadChild box = reader.Find(L"不再提醒");
    EXPECT_EQ(box.strAction, L"选中");
    VARIANT var;
    var.vt = VT_I4;
    var.lVal = box.lId;
    ASSERT_EQ(reader.pAcc->accDoDefaultAction(var), S_OK);
    PumpFor(100);
    EXPECT_EQ(GetCtrlCheck(pWnd->Ctrl(L"MsgBoxCalCheckBox")), 1);
    ASSERT_EQ(pWnd->vecClicks.size(), 1u);
    EXPECT_EQ(pWnd->vecClicks[0], reinterpret_cast<WPARAM>(pWnd->Ctrl(L"MsgBoxCalCheckBox")));
    box = reader.Find(L"不再提醒");
    EXPECT_NE(box.lState & STATE_SYSTEM_CHECKED, 0);
    EXPECT_EQ(box.strAction, L"取消选中");

    // What the program hides is gone for the reader too, and a static
    // without text is not read out as an empty child.
    SetCtrlVisible(pWnd->Ctrl(L"CancelBtn"), false);
    SetCtrlVisible(pWnd->Ctrl(L"MsgBoxCalCheckBox"), false);
    EXPECT_EQ(reader.Find(L"取消").lId, 0);
    EXPECT_EQ(reader.Find(L"不再提醒").lId, 0);
    for (const CReadChild& child : reader.Children())
        EXPECT_FALSE(child.strName.empty()) << "child " << child.lId << " has no name";

    // A reader that holds the object past the window's end gets an error,
    // never a crash.
    ::DestroyWindow(pWnd->hWnd);
    PumpFor(50);
    long lCount = 0;
    EXPECT_TRUE(FAILED(reader.pAcc->get_accChildCount(&lCount)));
    EXPECT_TRUE(FAILED(reader.pAcc->accDoDefaultAction(var)));
}

TEST_F(SkinAccess, ScreenReaderFollowsTheDownload)
{
    auto pWnd = CreateSkinnedWindow(m_pRes, L"UpgradeDUI");
    ASSERT_NE(pWnd, nullptr);
    ShowInFront(pWnd->hWnd);
    CReader reader(pWnd->hWnd);
    ASSERT_NE(reader.pAcc, nullptr);
    EXPECT_NE(reader.Find(L"正在准备下载，请稍候…").lId, 0);
    EXPECT_EQ(reader.Find(L"正在准备").lRole, ROLE_SYSTEM_ANIMATION);
    EXPECT_EQ(reader.Find(L"下载进度").lId, 0) << "the bar is in the hidden form";

    SetCtrlVisible(pWnd->Ctrl(L"LoadingStatic"), false);
    SetCtrlVisible(pWnd->Ctrl(L"LoadingAnimate"), false);
    SetCtrlVisible(pWnd->Ctrl(L"UPgradeForm"), true);
    const std::wstring strFile = L"DazuvuVev_Setup_5.2.0.1893_beta_channel_x86_full_offline_20261208.exe";
    SetCtrlText(pWnd->Ctrl(L"FileNameStatic"), strFile.c_str());
    PumpFor(100);
    CEventLog events(pWnd->hWnd);
    SetCtrlPos(pWnd->Ctrl(L"DownloadProgress"), 42);
    SetCtrlText(pWnd->Ctrl(L"SpeedStatic"), L"1.2MB/S");
    // Readers follow what changes without being asked.
    EXPECT_TRUE(events.Saw(EVENT_OBJECT_VALUECHANGE, reader.Find(L"下载进度").lId));
    EXPECT_TRUE(events.Saw(EVENT_OBJECT_NAMECHANGE, reader.Find(L"1.2MB/S").lId));
    events.vecEvents.clear();
    SetCtrlPos(pWnd->Ctrl(L"DownloadProgress"), 42);
    EXPECT_FALSE(events.Saw(EVENT_OBJECT_VALUECHANGE, reader.Find(L"下载进度").lId)) << "nothing changed";

    EXPECT_EQ(reader.Find(L"正在准备下载，请稍候…").lId, 0);
    CReadChild bar = reader.Find(L"下载进度");
    ASSERT_NE(bar.lId, 0);
    EXPECT_EQ(bar.lRole, ROLE_SYSTEM_PROGRESSBAR);
    EXPECT_EQ(bar.strValue, L"42%");
    // A download that reports more than it announced reads as full, as drawn.
    SetCtrlPos(pWnd->Ctrl(L"DownloadProgress"), 130);
    EXPECT_EQ(reader.Read(bar.lId).strValue, L"100%");
    // The reader gets the whole name, not the cut one on the screen.
    CReadChild name = reader.Find(strFile);
    EXPECT_NE(name.lId, 0);
    EXPECT_EQ(name.lRole, ROLE_SYSTEM_STATICTEXT);
}

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
        BITMAP bm = {};
        ::GetObjectW(ii.hbmColor ? ii.hbmColor : ii.hbmMask, sizeof(bm), &bm);
        EXPECT_EQ(bm.bmWidth, ::GetSystemMetrics(SM_CXSMICON)) << Narrow(pszLayout);
        if (ii.hbmColor)
            ::DeleteObject(ii.hbmColor);
        if (ii.hbmMask)
            ::DeleteObject(ii.hbmMask);
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
