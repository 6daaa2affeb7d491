// The skinned windows as a screen reader meets them: the accessible object's
// children, names, roles, states and actions, and the events it follows.
#include "tests/skin/SkinAccessKit.h"

namespace {

RECT ScreenRectOf(HWND hWnd, DUI_CTRLBASE* pCtrl)
{
    RECT rc = CtrlRect(pCtrl);
    ::MapWindowPoints(hWnd, nullptr, reinterpret_cast<POINT*>(&rc), 2);
    return rc;
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
