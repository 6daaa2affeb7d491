// The skinned message box on the real skin, driven with real mouse and
// keyboard input while its modal loop runs: what it shows and what it returns.
#include "res/resource.h"
#include "tests/msgbox/MsgBoxFixture.h"

using namespace MsgBoxCal;

namespace {

// Each box test is a script, one step a line; the formatter would indent the
// steps past the column limit, so these tests keep their hand layout.
// clang-format off
TEST_F(MsgBoxTest, FailureNoticeShowsOneOkButtonWithWarningAndNoCheckBox)
{
    CBoxDriver driver;
    const int nResult = driver.Run(kFailedText, kNoticeCaption, kNoticeStyle, {
        Wait(),
        [](CBoxDriver& d) {
            EXPECT_EQ(g_pRecorder->Text(L"OKBtn"), L"确定");
            EXPECT_EQ(g_pRecorder->Text(L"CaptionStatic"), kNoticeCaption);
            EXPECT_EQ(g_pRecorder->Text(L"MsgBoxCalTipsStatic"), kFailedText);
            EXPECT_EQ(g_pRecorder->PictureName(L"MsgBoxCalStateLogo"), L"MessageBoxCal.tip_warn");
            EXPECT_FALSE(g_pRecorder->TextStyled(L"MsgBoxCalTipsStatic"));
            EXPECT_TRUE(d.Visible(L"OKBtn"));
            EXPECT_TRUE(d.Visible(L"MsgBoxCalStateLogo"));
            EXPECT_FALSE(d.Visible(L"CancelBtn"));
            EXPECT_FALSE(d.Visible(L"MsgBoxCalCheckBox"));
            wchar_t szTitle[64] = {};
            ::GetWindowTextW(d.Box(), szTitle, 64);
            EXPECT_STREQ(szTitle, kNoticeCaption);

            // Picture at the left edge, text right beside it, both centred
            // in the band above the buttons.
            const RECT rcLogo = d.CtrlRect(L"MsgBoxCalStateLogo");
            const RECT rcText = d.CtrlRect(L"MsgBoxCalTipsStatic");
            const RECT rcOK = d.CtrlRect(L"OKBtn");
            const LONG lh = rcLogo.bottom - rcLogo.top;
            const LONG h = rcText.bottom - rcText.top;
            EXPECT_EQ(rcLogo.left, 34);
            EXPECT_EQ(rcLogo.top, (rcOK.top - lh - 30) / 2 + 30);
            EXPECT_EQ(rcText.left, 34 + (rcLogo.right - rcLogo.left) + 8);
            EXPECT_EQ(rcText.top, std::max<LONG>((rcOK.top - h - 30) / 2 + 30, 48));
            EXPECT_TRUE(d.SaveScreenshot(L"..\\msgbox_0x821_notice.png"));
        },
        ClickOn(L"OKBtn"),
    });
    EXPECT_TRUE(driver.m_bFound);
    EXPECT_FALSE(driver.m_bStuck) << "the click did not end the box";
    EXPECT_EQ(nResult, IDOK);

    CBoxDriver closing;
    EXPECT_EQ(closing.Run(kFailedText, kNoticeCaption, kNoticeStyle, {Wait(), ClickOn(L"CloseBtn")}), IDCANCEL);
    EXPECT_FALSE(closing.m_bStuck);
    EXPECT_EQ(ReadKey(L"version_no_tips"), L"<missing>");
}

TEST_F(MsgBoxTest, UpgradeOnlyPromptShowsOneUpgradeButton)
{
    CBoxDriver driver;
    const int nResult = driver.Run(kUpgradeText, kUpgradeCaption, kUpgradeOnlyStyle, {
        Wait(),
        [](CBoxDriver& d) {
            EXPECT_EQ(g_pRecorder->Text(L"OKBtn"), L"升级");
            EXPECT_EQ(g_pRecorder->PictureName(L"MsgBoxCalStateLogo"), L"MessageBoxCal.tip_warn");
            EXPECT_TRUE(d.Visible(L"OKBtn"));
            EXPECT_FALSE(d.Visible(L"CancelBtn"));
            EXPECT_FALSE(d.Visible(L"MsgBoxCalCheckBox"));
            EXPECT_TRUE(d.SaveScreenshot(L"..\\msgbox_0x10020_upgrade_only.png"));
        },
        ClickOn(L"OKBtn"),
    });
    EXPECT_FALSE(driver.m_bStuck);
    EXPECT_EQ(nResult, IDOK);
}

TEST_F(MsgBoxTest, UpgradePromptWithWayOutRecordsTheTickedVersion)
{
    RECT rcOK = {}, rcCancel = {};
    CBoxDriver driver;
    int nResult = driver.Run(kUpgradeText, kUpgradeCaption, kUpgradeStyle, {
        Wait(),
        [&](CBoxDriver& d) {
            EXPECT_EQ(g_pRecorder->Text(L"OKBtn"), L"升级");
            EXPECT_EQ(g_pRecorder->Text(L"CancelBtn"), L"取消");
            EXPECT_EQ(g_pRecorder->Text(L"MsgBoxCalCheckBox"), L"不再提醒");
            EXPECT_TRUE(g_pRecorder->TextStyled(L"MsgBoxCalTipsStatic"));
            EXPECT_TRUE(d.Visible(L"OKBtn"));
            EXPECT_TRUE(d.Visible(L"CancelBtn"));
            EXPECT_TRUE(d.Visible(L"MsgBoxCalCheckBox"));
            rcOK = d.CtrlRect(L"OKBtn");
            rcCancel = d.CtrlRect(L"CancelBtn");
            EXPECT_TRUE(d.SaveScreenshot(L"..\\msgbox_0x5023_upgrade.png"));
        },
        Tick(),
        ExpectTicked(),
        ClickOn(L"OKBtn"),
    });
    EXPECT_FALSE(driver.m_bStuck);
    EXPECT_EQ(nResult, IDOK);
    EXPECT_EQ(rcCancel.left - rcOK.left, 184) << "the two buttons stand 184 pixels apart";
    EXPECT_EQ(rcCancel.top, rcOK.top);
    EXPECT_EQ(ReadKey(L"version_no_tips"), L"3.1.4.1592");

    // Either way out of a ticked box records the version.
    for (const wchar_t* pszCtrl : {L"CancelBtn", L"CloseBtn"}) {
        ForgetNoTips();
        CBoxDriver leaving;
        nResult = leaving.Run(kUpgradeText, kUpgradeCaption, kUpgradeStyle,
                              {Wait(), Tick(), ExpectTicked(), ClickOn(pszCtrl)});
        EXPECT_FALSE(leaving.m_bStuck);
        EXPECT_EQ(nResult, IDCANCEL) << pszCtrl;
        EXPECT_EQ(ReadKey(L"version_no_tips"), L"3.1.4.1592") << pszCtrl;
    }

    // Unticked, nothing is recorded.
    ForgetNoTips();
    CBoxDriver unticked;
    EXPECT_EQ(unticked.Run(kUpgradeText, kUpgradeCaption, kUpgradeStyle, {Wait(), ClickOn(L"OKBtn")}), IDOK);
    EXPECT_EQ(ReadKey(L"version_no_tips"), L"<missing>");

    // An empty version is copied as it is.
    ::WritePrivateProfileStringW(L"UPGRADE", L"version", L"", m_strPath.c_str());
    CBoxDriver empty;
    EXPECT_EQ(empty.Run(kUpgradeText, kUpgradeCaption, kUpgradeStyle, {Wait(), Tick(), ClickOn(L"OKBtn")}), IDOK);
    EXPECT_EQ(ReadKey(L"version_no_tips"), L"");
}

TEST_F(MsgBoxTest, StyleBitsChooseCaptionsAndResults)
{
    struct Case {
        int nStyle;
        const wchar_t* pszClick;
        const wchar_t* pszOKText;  // null: the layout's own caption stays
        int nResult;
    };
    const Case cases[] = {
        {MBC_YES | MBC_RETRY, L"OKBtn", L"是", IDYES},
        {MBC_CONTINUE | MBC_RETRY, L"OKBtn", L"继续", IDCONTINUE},
        {MBC_RETRY | MBC_CANCEL, L"OKBtn", L"重试", IDRETRY},
        {MBC_OK | MBC_NO, L"CloseBtn", L"确定", IDNO},
        {MBC_OK | MBC_NO, L"CancelBtn", L"确定", IDNO},
        {MBC_YES | MBC_NO, L"CancelBtn", L"是", IDNO},
        {0, L"OKBtn", nullptr, IDOK},
        {0, L"CloseBtn", nullptr, IDCANCEL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "style 0x" << std::hex << c.nStyle << " clicking "
                                        << testing::PrintToString(std::wstring(c.pszClick)));
        CBoxDriver driver;
        const int nResult = driver.Run(L"text", L"style case", c.nStyle, {
            Wait(),
            [&](CBoxDriver& d) {
                if (c.pszOKText) {
                    EXPECT_EQ(g_pRecorder->Text(L"OKBtn"), c.pszOKText);
                } else {
                    EXPECT_FALSE(g_pRecorder->HasText(L"OKBtn"));
                }
                const bool bSecond = (c.nStyle & (MBC_CANCEL | MBC_NO | MBC_UPGRADE)) != 0;
                EXPECT_EQ(d.Visible(L"CancelBtn"), bSecond);
                if (c.nStyle & MBC_NO) {
                    EXPECT_EQ(g_pRecorder->Text(L"CancelBtn"), L"否");
                }
                if (c.nStyle == 0) {
                    EXPECT_EQ(g_pRecorder->PictureName(L"MsgBoxCalStateLogo"), L"MessageBoxCal.tip_success");
                    EXPECT_EQ(g_pRecorder->Text(L"MsgBoxCalCheckBox"), L"下次不再提示");
                    EXPECT_TRUE(d.Visible(L"MsgBoxCalCheckBox"));
                }
            },
            ClickOn(c.pszClick),
        });
        EXPECT_FALSE(driver.m_bStuck);
        EXPECT_EQ(nResult, c.nResult);
    }
    EXPECT_EQ(ReadKey(L"version_no_tips"), L"<missing>") << "no box was ticked";
}

TEST_F(MsgBoxTest, PicturesFollowTheFirstMatchingBit)
{
    struct Case {
        int nStyle;
        const wchar_t* pszPicture;
    };
    const Case cases[] = {
        {MBC_ICONERR | MBC_ICONASK | MBC_ICONWARN, L"MessageBoxCal.tip_err"},
        {MBC_ICONASK | MBC_ICONWARN | MBC_ICONUPDATE, L"MessageBoxCal.tip_ask"},
        {MBC_ICONUPDATE | MBC_NOICON, L"MessageBoxCal.tip_update"},
    };
    for (const Case& c : cases) {
        CBoxDriver driver;
        driver.Run(L"text", L"picture case", c.nStyle, {
            [&](CBoxDriver& d) {
                EXPECT_EQ(g_pRecorder->PictureName(L"MsgBoxCalStateLogo"), c.pszPicture);
                EXPECT_EQ(d.Visible(L"MsgBoxCalStateLogo"), (c.nStyle & MBC_NOICON) == 0);
            },
            ClickOn(L"OKBtn"),
        });
        EXPECT_FALSE(driver.m_bStuck);
    }
}

// Gives the test the box's layout step, to run it on a text of known width.
class CLayoutProbe : public CDlgMessageBoxCal {
public:
    using CDlgMessageBoxCal::LayoutControls;
};

TEST_F(MsgBoxTest, TextWithoutPictureIsCentred)
{
    g_nMsgStyle = MBC_NOICON | MBC_OK;
    g_strMsgText = L"centred";
    g_strMsgCaption = L"centre case";
    CLayoutProbe probe;
    ASSERT_TRUE(probe.Create(IDD_MESSAGEBOX_CAL));

    IDUIRect* pRect = GetCtrlRect(probe.m_pTipsStatic);
    ASSERT_NE(pRect, nullptr);
    LONG lTop = 0, lHeight = 0;
    pRect->get_Top(&lTop);
    pRect->get_Height(&lHeight);
    pRect->put_Left(5);
    pRect->put_Right(205);
    SetCtrlRect(probe.m_pTipsStatic, pRect);
    probe.LayoutControls();

    LONG lOKTop = 0;
    GetCtrlRect(probe.m_pOKBtn)->get_Top(&lOKTop);
    pRect = GetCtrlRect(probe.m_pTipsStatic);
    LONG lLeft = 0, lRight = 0;
    pRect->get_Left(&lLeft);
    pRect->get_Right(&lRight);
    pRect->get_Top(&lTop);
    EXPECT_EQ(lLeft, 94);
    EXPECT_EQ(lRight, 294);
    EXPECT_EQ(lTop, std::max<LONG>((lOKTop - lHeight - 48) / 2 + 48, 58));
    EXPECT_FALSE(GetCtrlVisible(probe.m_pStateLogo));
    probe.DestroyWindow();
}

// The dialog manager's Enter and Esc give the plain results, never the style's
// codes; a ticked box is kept as on every other way out.
TEST_F(MsgBoxTest, EnterAndEscapeEndTheBoxWithoutStyleCodeButKeepTheTick)
{
    const int nStyle = MBC_YES | MBC_NO | MBC_ICONASK;
    const std::pair<WORD, int> keys[] = {{VK_RETURN, IDOK}, {VK_ESCAPE, IDCANCEL}};
    for (const auto& key : keys) {
        ForgetNoTips();
        CBoxDriver driver;
        const int nResult = driver.Run(L"keyboard", L"keyboard case", nStyle, {
            Wait(),
            Tick(),
            ExpectTicked(),
            [](CBoxDriver& d) { ::SetForegroundWindow(d.Box()); },
            [&](CBoxDriver& d) { d.PressKey(key.first); },
        });
        EXPECT_FALSE(driver.m_bStuck) << "key " << key.first << " did not end the box";
        EXPECT_EQ(nResult, key.second) << "key " << key.first;
        EXPECT_EQ(ReadKey(L"version_no_tips"), L"3.1.4.1592") << "key " << key.first;
    }
}

TEST_F(MsgBoxTest, BoxWithoutSkinIsNotShownAndYieldsMinusOne)
{
    theApp.m_pDUIRes = nullptr;
    EXPECT_EQ(ShowMsgBox(kFailedText, L"no skin", kNoticeStyle), -1);
    EXPECT_EQ(::FindWindowW(L"#32770", L"no skin"), nullptr);
}

// clang-format on

}  // namespace
