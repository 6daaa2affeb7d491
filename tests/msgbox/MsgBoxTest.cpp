// The skinned message box on the real skin, driven with real mouse and
// keyboard input while its modal loop runs.
#include "app/DazuvuVevUpgrade.h"
#include "res/resource.h"
#include "tests/msgbox/BoxDriver.h"
#include "tests/msgbox/SkinRecorder.h"
#include "ui/MsgBoxCal.h"
#include "ui/SkinLayer.h"

#include <gtest/gtest.h>

#include <oleacc.h>
#include <shlobj.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <tuple>

using namespace MsgBoxCal;

namespace {

const wchar_t kFailedText[] = L"下载失败，请稍后重试！";
const wchar_t kNoticeCaption[] = L"提示";
const wchar_t kUpgradeText[] = L"有新版本咯，赶紧去升级体验最新功能吧！";
const wchar_t kUpgradeCaption[] = L"版本更新";
const int kNoticeStyle = 0x821;
const int kUpgradeOnlyStyle = 0x10020;
const int kUpgradeStyle = 0x5023;

CSkinRecorder* g_pRecorder = nullptr;

std::wstring StateFilePath()
{
    wchar_t szPath[MAX_PATH] = {};
    ::SHGetSpecialFolderPathW(nullptr, szPath, CSIDL_APPDATA, TRUE);
    return std::wstring(szPath) + L"\\DazuvuvevUpgrade\\Upgrade.ini";
}

std::wstring ReadKey(const wchar_t* pszKey)
{
    wchar_t szValue[MAX_PATH] = {};
    ::GetPrivateProfileStringW(L"UPGRADE", pszKey, L"<missing>", szValue, MAX_PATH, StateFilePath().c_str());
    return szValue;
}

class MsgBoxTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        IDUIRes* pSkin = OpenSkinW(L"UISkin\\DazuvuVev.dui", L"UISkin\\Default.skn", 0, 0, 0);
        ASSERT_NE(pSkin, nullptr) << "the skin must load from the test's folder";
        g_pRecorder = new CSkinRecorder(pSkin);
        theApp.m_pDUIRes = g_pRecorder->Res();
    }

    // The state file belongs to the program's own folder in the test's Wine
    // prefix; whatever was there is put back afterwards.
    void SetUp() override
    {
        m_strPath = StateFilePath();
        ::CreateDirectoryW(m_strPath.substr(0, m_strPath.rfind(L'\\')).c_str(), nullptr);
        std::ifstream in(m_strPath.c_str(), std::ios::binary);
        m_bHadFile = in.good();
        if (m_bHadFile) {
            std::ostringstream ss;
            ss << in.rdbuf();
            m_strSaved = ss.str();
        }
        in.close();
        ::DeleteFileW(m_strPath.c_str());
        ::WritePrivateProfileStringW(L"UPGRADE", L"version", L"3.1.4.1592", m_strPath.c_str());
    }

    void TearDown() override
    {
        ::WritePrivateProfileStringW(nullptr, nullptr, nullptr, m_strPath.c_str());  // flush the cache
        ::DeleteFileW(m_strPath.c_str());
        if (m_bHadFile) {
            std::ofstream out(m_strPath.c_str(), std::ios::binary);
            out << m_strSaved;
        }
        theApp.m_pDUIRes = g_pRecorder->Res();
    }

    void ForgetNoTips() { ::WritePrivateProfileStringW(L"UPGRADE", L"version_no_tips", nullptr, m_strPath.c_str()); }

    std::wstring m_strPath;
    bool m_bHadFile = false;
    std::string m_strSaved;
};

// Steps shared by many cases.
CBoxDriver::Step ClickOn(const wchar_t* pszCtrl)
{
    return [pszCtrl](CBoxDriver& d) { d.Click(pszCtrl); };
}

CBoxDriver::Step Tick()
{
    return [](CBoxDriver& d) { d.Click(L"MsgBoxCalCheckBox"); };
}

CBoxDriver::Step ExpectTicked()
{
    return [](CBoxDriver& d) { EXPECT_EQ(d.Check(L"MsgBoxCalCheckBox"), 1) << "the click must tick the box"; };
}

CBoxDriver::Step Wait()
{
    return [](CBoxDriver&) {};
}

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

TEST_F(MsgBoxTest, BoxWithoutSkinIsNotShownAndYieldsMinusOne)
{
    theApp.m_pDUIRes = nullptr;
    EXPECT_EQ(ShowMsgBox(kFailedText, L"no skin", kNoticeStyle), -1);
    EXPECT_EQ(::FindWindowW(L"#32770", L"no skin"), nullptr);
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
