// Layouts attached to real dialog windows: controls, operations, the window
// procedure chain, and real mouse clicks.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/skin/SkinTestKit.h"

namespace {

const wchar_t* const kUpgradeCtrls[] = {L"LoadingStatic",     L"LoadingAnimate",  L"UPgradeForm",   L"CloseBtn",
                                        L"CancelDownload",    L"FileNameStatic",  L"VersionStatic", L"SpeedStatic",
                                        L"AlreadyloadStatic", L"DownloadProgress"};
const wchar_t* const kMsgBoxCtrls[] = {L"CloseBtn",           L"OKBtn",
                                       L"CancelBtn",          L"MsgBoxCalCheckBox",
                                       L"MsgBoxCalStateLogo", L"MsgBoxCalTipsStatic",
                                       L"CaptionStatic"};

class SkinWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_pRes = OpenSkinW(L"UISkin\\DazuvuVev.dui", L"UISkin\\Default.skn", 0, 0, 0);
        ASSERT_NE(m_pRes, nullptr) << Narrow(SkinLastError());
    }
    void TearDown() override { FreeSkin(); }

    IDUIRes* m_pRes = nullptr;
};

RECT WindowRect(HWND hWnd)
{
    RECT rc = {};
    ::GetWindowRect(hWnd, &rc);
    return rc;
}

}  // namespace

TEST_F(SkinWindow, EachLayoutAttachesSizedWithAllItsControls)
{
    struct {
        const wchar_t* pszLayout;
        const wchar_t* const* ppszNames;
        size_t nNames;
        LONG cx;
    } kLayouts[] = {{L"UpgradeDUI", kUpgradeCtrls, 10, 420}, {L"MessageboxCalDUI", kMsgBoxCtrls, 7, 388}};
    std::vector<DUI_CTRLBASE*> vecAll;
    for (const auto& layout : kLayouts) {
        auto pWnd = CreateSkinnedWindow(m_pRes, layout.pszLayout);
        ASSERT_NE(pWnd, nullptr);
        ASSERT_NE(pWnd->pDirectUI, nullptr) << Narrow(SkinLastError());
        RECT rc = WindowRect(pWnd->hWnd);
        EXPECT_EQ(rc.right - rc.left, layout.cx) << Narrow(layout.pszLayout);
        for (size_t i = 0; i < layout.nNames; ++i) {
            DUI_CTRLBASE* pCtrl = pWnd->Ctrl(layout.ppszNames[i]);
            ASSERT_NE(pCtrl, nullptr) << Narrow(layout.ppszNames[i]);
            EXPECT_NE(pCtrl->pCtrl, nullptr);
            EXPECT_EQ(pWnd->Ctrl(layout.ppszNames[i]), pCtrl) << "a control keeps its record";
            EXPECT_EQ(std::count(vecAll.begin(), vecAll.end(), pCtrl), 0) << "records are never shared";
            vecAll.push_back(pCtrl);
        }
        EXPECT_EQ(pWnd->Ctrl(L"NoSuchCtrl"), nullptr);
        EXPECT_EQ(pWnd->Ctrl(L"closebtn"), nullptr) << "names are case-sensitive";
        EXPECT_EQ(pWnd->Ctrl(L""), nullptr);
        // Attaching twice to one window is refused.
        EXPECT_EQ(AttachSkinWindow(m_pRes, layout.pszLayout, pWnd->hWnd), nullptr);
    }
    // Children of a form are found only by a deep search.
    auto pWnd = CreateSkinnedWindow(m_pRes, L"UpgradeDUI");
    EXPECT_EQ(FindSkinCtrl(pWnd->pDirectUI, L"FileNameStatic", false), nullptr);
    EXPECT_NE(FindSkinCtrl(pWnd->pDirectUI, L"UPgradeForm", false), nullptr);

    auto pUnknown = CreateSkinnedWindow(m_pRes, L"NoSuchDUI");
    ASSERT_NE(pUnknown, nullptr);
    EXPECT_EQ(pUnknown->pDirectUI, nullptr);
    EXPECT_NE(SkinLastError().find(L"NoSuchDUI"), std::wstring::npos);
    EXPECT_EQ(AttachSkinWindow(m_pRes, L"UpgradeDUI", nullptr), nullptr);
    EXPECT_EQ(AttachSkinWindow(nullptr, L"UpgradeDUI", pUnknown->hWnd), nullptr);
    EXPECT_EQ(FindSkinCtrl(nullptr, L"CloseBtn", true), nullptr);
    EXPECT_EQ(GetCtrlBase(0), nullptr);
    EXPECT_EQ(GetCtrlBase(12345), nullptr);
}

TEST_F(SkinWindow, HelpersIgnoreMissingControls)
{
    SetCtrlText(nullptr, L"x");
    EXPECT_FALSE(SetCtrlImage(nullptr, nullptr));
    SetCtrlVisible(nullptr, true);
    EXPECT_FALSE(GetCtrlVisible(nullptr));
    SetCtrlPos(nullptr, 50);
    EXPECT_EQ(GetCtrlCheck(nullptr), 0);
    SetCtrlTextStyle(nullptr, -1, 14, 0, 0, 280);
    EXPECT_EQ(GetCtrlRect(nullptr), nullptr);
    SetCtrlRect(nullptr, nullptr);
    DUI_CTRLBASE empty = {};
    SetCtrlText(&empty, L"x");
    EXPECT_FALSE(GetCtrlVisible(&empty));
}

TEST_F(SkinWindow, TheWindowProcedureChainIsKeptAndUnwound)
{
    auto pWnd = CreateSkinnedWindow(m_pRes, L"MessageboxCalDUI");
    ASSERT_NE(pWnd->pDirectUI, nullptr);
    DUI_CTRLBASE* pOK = pWnd->Ctrl(L"OKBtn");
    // Messages the library does not use reach the procedure below it.
    ::SendMessageW(pWnd->hWnd, WM_APP, 0, 0);
    EXPECT_EQ(pWnd->nAppMessages, 1);
    ::DestroyWindow(pWnd->hWnd);
    EXPECT_TRUE(pWnd->bChainRestored) << "the library must restore the previous procedure at WM_NCDESTROY";
    // Records stay valid until the skin is freed.
    SetCtrlText(pOK, L"确定");
    EXPECT_TRUE(GetCtrlVisible(pOK));

    // A new window may take the same layout again.
    auto pAgain = CreateSkinnedWindow(m_pRes, L"MessageboxCalDUI");
    EXPECT_NE(pAgain->pDirectUI, nullptr);
    EXPECT_NE(pAgain->Ctrl(L"OKBtn"), pOK);
}

TEST_F(SkinWindow, OnlyTheProgramsOwnTimersReachTheProgram)
{
    auto pWnd = CreateSkinnedWindow(m_pRes, L"UpgradeDUI");
    ASSERT_NE(pWnd->pDirectUI, nullptr);
    ShowInFront(pWnd->hWnd);
    ::SetTimer(pWnd->hWnd, 1, 50, nullptr);
    PumpFor(600);
    ::KillTimer(pWnd->hWnd, 1);
    ASSERT_FALSE(pWnd->vecTimerIds.empty());
    for (UINT_PTR id : pWnd->vecTimerIds)
        EXPECT_EQ(id, 1u) << "the spinner's timer must stay inside the library";
}

TEST_F(SkinWindow, OperationsChangeWhatControlsHold)
{
    auto pWnd = CreateSkinnedWindow(m_pRes, L"UpgradeDUI");
    ASSERT_NE(pWnd->pDirectUI, nullptr);
    DUI_CTRLBASE* pForm = pWnd->Ctrl(L"UPgradeForm");
    DUI_CTRLBASE* pAnimate = pWnd->Ctrl(L"LoadingAnimate");
    DUI_CTRLBASE* pBar = pWnd->Ctrl(L"DownloadProgress");
    DUI_CTRLBASE* pName = pWnd->Ctrl(L"FileNameStatic");

    // The waiting face is up at start; the download face and all in it hidden.
    EXPECT_TRUE(GetCtrlVisible(pAnimate));
    EXPECT_FALSE(GetCtrlVisible(pForm));
    EXPECT_FALSE(GetCtrlVisible(pBar));
    SetCtrlVisible(pAnimate, false);
    SetCtrlVisible(pForm, true);
    EXPECT_FALSE(GetCtrlVisible(pAnimate));
    EXPECT_TRUE(GetCtrlVisible(pForm));
    EXPECT_TRUE(GetCtrlVisible(pBar));
    SetCtrlVisible(pBar, false);
    EXPECT_FALSE(GetCtrlVisible(pBar));
    EXPECT_TRUE(GetCtrlVisible(pName));

    // The preset out value is overwritten with the real state.
    VARIANT_BOOL bVisible = VARIANT_TRUE;
    pForm->pCtrl->BindCtrl(pBar->hCtrl);
    pForm->pCtrl->GetVisible(&bVisible);
    EXPECT_EQ(bVisible, VARIANT_FALSE) << "BindCtrl makes the interface act on the bound control";

    LONG lOld = -1;
    pBar->pCtrl->BindCtrl(pBar->hCtrl);
    pBar->pCtrl->SetPos(50, &lOld);
    EXPECT_EQ(lOld, 0);
    pBar->pCtrl->SetPos(130, &lOld);
    EXPECT_EQ(lOld, 50);
    pBar->pCtrl->SetPos(3, &lOld);
    EXPECT_EQ(lOld, 130) << "a position above 100 is kept as given";

    // Rectangles are window pixels; form children are placed inside the form.
    RECT rcForm = CtrlRect(pForm);
    RECT rcBar = CtrlRect(pBar);
    EXPECT_EQ(rcForm.top, 36);
    EXPECT_EQ(rcBar.top, rcForm.top + 72);
    IDUIRect* pFirst = GetCtrlRect(pBar);
    IDUIRect* pSecond = GetCtrlRect(pBar);
    ASSERT_NE(pFirst, pSecond);
    pFirst->put_Top(10);
    pFirst->put_Bottom(16);
    LONG lTop = 0;
    pSecond->get_Top(&lTop);
    EXPECT_EQ(lTop, rcBar.top) << "a rectangle is a snapshot, not a view of another";
    SetCtrlRect(pBar, pFirst);
    RECT rcMoved = CtrlRect(pBar);
    EXPECT_EQ(rcMoved.top, 10);
    EXPECT_EQ(rcMoved.bottom, 16);
    EXPECT_EQ(rcMoved.left, rcBar.left);
    EXPECT_EQ(rcMoved.right, rcBar.right);

    // Pictures: only the skin's own are accepted.
    auto pBox = CreateSkinnedWindow(m_pRes, L"MessageboxCalDUI");
    DUI_CTRLBASE* pLogo = pBox->Ctrl(L"MsgBoxCalStateLogo");
    IDUIPicture* pWarn = LoadSkinImage(m_pRes, L"MessageBoxCal.tip_warn", 0, true);
    EXPECT_TRUE(SetCtrlImage(pLogo, pWarn));
    EXPECT_FALSE(SetCtrlImage(pLogo, nullptr));
    int nNotAPicture = 0;
    EXPECT_FALSE(SetCtrlImage(pLogo, reinterpret_cast<IDUIPicture*>(&nNotAPicture)));
    // Accepted, and the call must not disturb anything else.
    DUI_CTRLBASE* pTips = pBox->Ctrl(L"MsgBoxCalTipsStatic");
    RECT rcTips = CtrlRect(pTips);
    EXPECT_EQ(pTips->pCtrl->SetTextStyle(-1, 14, 0, 0, 280), S_OK);
    RECT rcAfter = CtrlRect(pTips);
    EXPECT_TRUE(::EqualRect(&rcTips, &rcAfter));
    EXPECT_EQ(GetCtrlCheck(pBox->Ctrl(L"MsgBoxCalCheckBox")), 0);
}

TEST_F(SkinWindow, MessageBoxLayoutSuitsTheProgramsLayoutRules)
{
    auto pWnd = CreateSkinnedWindow(m_pRes, L"MessageboxCalDUI");
    ASSERT_NE(pWnd->pDirectUI, nullptr);
    RECT rcOK = CtrlRect(pWnd->Ctrl(L"OKBtn"));
    RECT rcCancel = CtrlRect(pWnd->Ctrl(L"CancelBtn"));
    RECT rcLogo = CtrlRect(pWnd->Ctrl(L"MsgBoxCalStateLogo"));
    RECT rcTips = CtrlRect(pWnd->Ctrl(L"MsgBoxCalTipsStatic"));
    RECT rcCheck = CtrlRect(pWnd->Ctrl(L"MsgBoxCalCheckBox"));
    RECT rcWnd = WindowRect(pWnd->hWnd);
    LONG cx = rcWnd.right - rcWnd.left;
    LONG cy = rcWnd.bottom - rcWnd.top;
    ASSERT_EQ(cx, 388);

    // One button alone sits centred; two move 92 pixels apart each way and
    // must then lie side by side inside the box.
    EXPECT_TRUE(::EqualRect(&rcOK, &rcCancel));
    EXPECT_EQ(rcOK.left + rcOK.right, cx) << "the buttons' home is the centre";
    EXPECT_LE(rcOK.right - rcOK.left, 184 - 8) << "moved apart they must not touch";
    EXPECT_GE(rcOK.left - 92, 8);
    EXPECT_LE(rcCancel.right + 92, cx - 8);
    EXPECT_LE(rcOK.bottom, cy - 8);

    // The program puts the picture at 34 and the text 8 pixels to its right,
    // vertically centred between the caption (30/48) and the buttons.
    LONG okTop = rcOK.top;
    LONG lw = rcLogo.right - rcLogo.left, lh = rcLogo.bottom - rcLogo.top;
    LONG w = rcTips.right - rcTips.left, h = rcTips.bottom - rcTips.top;
    EXPECT_EQ(rcLogo.left, 34);
    LONG lTextTop = std::max<LONG>((okTop - h - 30) / 2 + 30, 48);
    LONG lLogoTop = (okTop - lh - 30) / 2 + 30;
    EXPECT_LE(34 + lw + 8 + w, cx - 20) << "text beside the picture stays inside the box";
    EXPECT_GE(lLogoTop, 40) << "picture below the caption";
    EXPECT_LE(lTextTop + h, rcCheck.top) << "text above the check box";
    LONG lNoIconTop = std::max<LONG>((okTop - h - 48) / 2 + 48, 58);
    EXPECT_GE((cx - w) / 2, 20) << "centred text without a picture keeps a margin";
    EXPECT_LE(lNoIconTop + h, okTop);
    EXPECT_LE(rcCheck.bottom, okTop) << "check box above the buttons";
}

TEST_F(SkinWindow, RealClicksReportTheClickedControl)
{
    auto pWnd = CreateSkinnedWindow(m_pRes, L"MessageboxCalDUI");
    ASSERT_NE(pWnd->pDirectUI, nullptr);
    DUI_CTRLBASE* pOK = pWnd->Ctrl(L"OKBtn");
    DUI_CTRLBASE* pCancel = pWnd->Ctrl(L"CancelBtn");
    DUI_CTRLBASE* pCheck = pWnd->Ctrl(L"MsgBoxCalCheckBox");
    DUI_CTRLBASE* pLogo = pWnd->Ctrl(L"MsgBoxCalStateLogo");
    DUI_CTRLBASE* pClose = pWnd->Ctrl(L"CloseBtn");
    MoveCtrlBy(pOK, -92);
    MoveCtrlBy(pCancel, 92);
    ShowInFront(pWnd->hWnd);
    // A click that must not be reported is given half a second to show up.
    auto ClickAndWait = [&](DUI_CTRLBASE* pCtrl, DWORD dwWaitMs = 3000) {
        pWnd->vecClicks.clear();
        ClickAt(CtrlCenterOnScreen(pWnd->hWnd, pCtrl));
        PumpUntil([&] { return !pWnd->vecClicks.empty(); }, dwWaitMs);
        PumpFor(100);
        return pWnd->vecClicks;
    };

    for (DUI_CTRLBASE* pCtrl : {pOK, pCancel, pLogo, pClose}) {
        std::vector<WPARAM> vecClicks = ClickAndWait(pCtrl);
        ASSERT_EQ(vecClicks.size(), 1u);
        EXPECT_EQ(vecClicks[0], reinterpret_cast<WPARAM>(pCtrl));
    }

    // The check box toggles before the window hears of the click.
    std::vector<WPARAM> vecClicks = ClickAndWait(pCheck);
    ASSERT_EQ(vecClicks.size(), 1u);
    EXPECT_EQ(vecClicks[0], reinterpret_cast<WPARAM>(pCheck));
    EXPECT_EQ(GetCtrlCheck(pCheck), 1);
    ClickAndWait(pCheck);
    EXPECT_EQ(GetCtrlCheck(pCheck), 0);

    // Text is not clickable; hidden controls are not either.
    EXPECT_TRUE(ClickAndWait(pWnd->Ctrl(L"MsgBoxCalTipsStatic"), 500).empty());
    SetCtrlVisible(pCancel, false);
    SetCtrlVisible(pCheck, false);
    EXPECT_TRUE(ClickAndWait(pCancel, 500).empty());
    EXPECT_TRUE(ClickAndWait(pCheck, 500).empty());
    EXPECT_EQ(GetCtrlCheck(pCheck), 0) << "a hidden check box does not toggle";
    SetCtrlVisible(pCancel, true);
    EXPECT_EQ(ClickAndWait(pCancel).size(), 1u);
}

TEST_F(SkinWindow, ControlsInAHiddenFormAreNotClickable)
{
    FreeSkin();
    std::wstring strDir = MakeTempFolder(L"form");
    CopySkinFolder(strDir);
    std::string strLayout = ReadFileBytes(strDir + L"DazuvuVev.dui");
    strLayout.replace(strLayout.rfind("</dui>"), 6,
                      "<layout name=\"FormDUI\" width=\"240\" height=\"120\" caption=\"30\">\n"
                      "  <form name=\"Box\" x=\"10\" y=\"30\" width=\"220\" height=\"80\" visible=\"false\">\n"
                      "    <button name=\"Inner\" x=\"60\" y=\"20\" width=\"100\" height=\"40\" text=\"内\"/>\n"
                      "  </form>\n"
                      "</layout>\n</dui>\n");
    WriteFileBytes(strDir + L"DazuvuVev.dui", strLayout);
    m_pRes = OpenSkinW((strDir + L"DazuvuVev.dui").c_str(), (strDir + L"Default.skn").c_str(), 0, 0, 0);
    ASSERT_NE(m_pRes, nullptr) << Narrow(SkinLastError());

    auto pWnd = CreateSkinnedWindow(m_pRes, L"FormDUI");
    ASSERT_NE(pWnd->pDirectUI, nullptr);
    DUI_CTRLBASE* pInner = pWnd->Ctrl(L"Inner");
    RECT rcInner = CtrlRect(pInner);
    EXPECT_EQ(rcInner.left, 70);
    EXPECT_EQ(rcInner.top, 50);
    ShowInFront(pWnd->hWnd);
    ClickAt(CtrlCenterOnScreen(pWnd->hWnd, pInner));
    PumpFor(400);
    EXPECT_TRUE(pWnd->vecClicks.empty()) << "a button in a hidden form must not be clickable";

    SetCtrlVisible(pWnd->Ctrl(L"Box"), true);
    PumpFor(100);
    ClickAt(CtrlCenterOnScreen(pWnd->hWnd, pInner));
    PumpUntil([&] { return !pWnd->vecClicks.empty(); }, 3000);
    ASSERT_EQ(pWnd->vecClicks.size(), 1u);
    EXPECT_EQ(pWnd->vecClicks[0], reinterpret_cast<WPARAM>(pInner));
}

TEST_F(SkinWindow, TheCaptionBandDragsTheWindow)
{
    auto pWnd = CreateSkinnedWindow(m_pRes, L"MessageboxCalDUI");
    ASSERT_NE(pWnd->pDirectUI, nullptr);
    ShowInFront(pWnd->hWnd);
    RECT rcBefore = WindowRect(pWnd->hWnd);
    POINT ptFrom = {rcBefore.left + 200, rcBefore.top + 18};
    POINT ptTo = {ptFrom.x + 40, ptFrom.y + 30};
    DragFromTo(ptFrom, ptTo);
    bool bMoved = PumpUntil([&] { return WindowRect(pWnd->hWnd).left != rcBefore.left; }, 3000);
    PumpFor(200);
    RECT rcAfter = WindowRect(pWnd->hWnd);
    EXPECT_TRUE(bMoved);
    // Synthesised input travels in 1/65536 screen units: a pixel of rounding.
    EXPECT_NEAR(rcAfter.left - rcBefore.left, 40, 1);
    EXPECT_NEAR(rcAfter.top - rcBefore.top, 30, 1);
    EXPECT_TRUE(pWnd->vecClicks.empty()) << "dragging is not a click";
}
