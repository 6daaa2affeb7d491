// The skinned message box: captions and pictures from the style word, the
// layout of text, picture and buttons, the bring-to-front timer, the button
// results and the "don't remind me" record in the state file.
#include "ui/MsgBoxCal.h"

#include "app/DazuvuVevUpgrade.h"
#include "res/resource.h"
#include "ui/BringToFront.h"
#include "ui/SkinLayer.h"
#include "upgrade/StateFile.h"

namespace MsgBoxCal {

std::wstring g_strMsgText;
std::wstring g_strMsgCaption;
int g_nMsgStyle = 0;

namespace {

const wchar_t kLayoutName[] = L"MessageboxCalDUI";

const wchar_t kCtrlClose[] = L"CloseBtn";
const wchar_t kCtrlOK[] = L"OKBtn";
const wchar_t kCtrlCancel[] = L"CancelBtn";
const wchar_t kCtrlCheckBox[] = L"MsgBoxCalCheckBox";
const wchar_t kCtrlStateLogo[] = L"MsgBoxCalStateLogo";
const wchar_t kCtrlTips[] = L"MsgBoxCalTipsStatic";
const wchar_t kCtrlCaption[] = L"CaptionStatic";

const wchar_t kImgWarn[] = L"MessageBoxCal.tip_warn";
const wchar_t kImgErr[] = L"MessageBoxCal.tip_err";
const wchar_t kImgAsk[] = L"MessageBoxCal.tip_ask";
const wchar_t kImgSuccess[] = L"MessageBoxCal.tip_success";
const wchar_t kImgUpdate[] = L"MessageBoxCal.tip_update";

const wchar_t kTextOK[] = L"确定";
const wchar_t kTextCancel[] = L"取消";
const wchar_t kTextRetry[] = L"重试";
const wchar_t kTextYes[] = L"是";
const wchar_t kTextNo[] = L"否";
const wchar_t kTextContinue[] = L"继续";
const wchar_t kTextUpgrade[] = L"升级";
const wchar_t kTextContinueInstall[] = L"继续安装";
const wchar_t kCheckNextTime[] = L"下次不再提示";
const wchar_t kCheckNoTipsAgain[] = L"不再提示";
const wchar_t kCheckNoRemind[] = L"不再提醒";

const UINT_PTR kTopMostTimer = 1;

// The skin layout is 388 pixels wide; text and picture are placed in the
// band between the caption bar and the buttons.
const LONG kBoxWidth = 388;
const LONG kCaptionBandNoIcon = 48;
const LONG kMinTextTopNoIcon = 58;
const LONG kCaptionBand = 30;
const LONG kMinTextTop = 48;
const LONG kPictureLeft = 34;
const LONG kPictureTextGap = 8;
// Two buttons stand this far to either side of the layout's single place.
const LONG kButtonShift = 92;

const int kSecondButtonBits = MBC_CANCEL | MBC_NO | MBC_UPGRADE;

bool Has(int nBit)
{
    return (g_nMsgStyle & nBit) != 0;
}

// One edge or extent of a rectangle; 0 when the library leaves it unread.
typedef HRESULT (DUIAPI IDUIRect::*RectGetter)(LONG*);
LONG RectValue(IDUIRect* pRect, RectGetter pfnGet)
{
    LONG lValue = 0;
    (pRect->*pfnGet)(&lValue);
    return lValue;
}

// Places a control; every edge is written, as the library expects both edges
// of a changed direction.
void PlaceCtrl(DUI_CTRLBASE* pCtrl, LONG lLeft, LONG lTop, LONG lRight, LONG lBottom)
{
    IDUIRect* pRect = GetCtrlRect(pCtrl);
    if (!pRect)
        return;
    pRect->put_Left(lLeft);
    pRect->put_Right(lRight);
    pRect->put_Top(lTop);
    pRect->put_Bottom(lBottom);
    SetCtrlRect(pCtrl, pRect);
}

void ShiftCtrl(DUI_CTRLBASE* pCtrl, LONG lDelta)
{
    IDUIRect* pRect = GetCtrlRect(pCtrl);
    if (!pRect)
        return;
    const LONG lLeft = RectValue(pRect, &IDUIRect::get_Left);
    const LONG lRight = RectValue(pRect, &IDUIRect::get_Right);
    pRect->put_Left(lLeft + lDelta);
    pRect->put_Right(lRight + lDelta);
    SetCtrlRect(pCtrl, pRect);
}

}  // namespace

int ShowMsgBox(const std::wstring& text, const std::wstring& caption, int style)
{
    g_strMsgText = text;
    g_strMsgCaption = caption;
    g_nMsgStyle = style;

    CDlgMessageBoxCal dlg;
    dlg.m_nRetCode = 0;
    const INT_PTR nResult = dlg.DoModal();
    return dlg.m_nRetCode != 0 ? dlg.m_nRetCode : static_cast<int>(nResult);
}

BEGIN_MESSAGE_MAP(CDlgMessageBoxCal, CDialog)
    ON_WM_CREATE()
    ON_WM_TIMER()
    ON_MESSAGE(WM_DUI_CLICK, OnCtrlClick)
END_MESSAGE_MAP()

CDlgMessageBoxCal::CDlgMessageBoxCal(CWnd* pParent) : CDialog(IDD_MESSAGEBOX_CAL, pParent) {}

INT_PTR CDlgMessageBoxCal::DoModal()
{
    m_nRetCode = 0;
    const INT_PTR nResult = CDialog::DoModal();
    return m_nRetCode != 0 ? m_nRetCode : nResult;
}

int CDlgMessageBoxCal::OnCreate(LPCREATESTRUCT lpCreateStruct)
{
    if (CWnd::OnCreate(lpCreateStruct) == -1)
        return -1;

    m_pDirectUI = AttachSkinWindow(theApp.m_pDUIRes, kLayoutName, m_hWnd);
    // Without its skin the box is an empty window that nobody can click:
    // better no box at all, which callers see as -1.
    if (!m_pDirectUI)
        return -1;

    m_pCloseBtn = FindSkinCtrl(m_pDirectUI, kCtrlClose, true);
    m_pOKBtn = FindSkinCtrl(m_pDirectUI, kCtrlOK, true);
    m_pCancelBtn = FindSkinCtrl(m_pDirectUI, kCtrlCancel, true);
    m_pCheckBox = FindSkinCtrl(m_pDirectUI, kCtrlCheckBox, true);
    m_pStateLogo = FindSkinCtrl(m_pDirectUI, kCtrlStateLogo, true);
    m_pTipsStatic = FindSkinCtrl(m_pDirectUI, kCtrlTips, true);
    m_pCaptionStatic = FindSkinCtrl(m_pDirectUI, kCtrlCaption, true);

    m_pImgWarn = LoadSkinImage(theApp.m_pDUIRes, kImgWarn, 0, true);
    m_pImgErr = LoadSkinImage(theApp.m_pDUIRes, kImgErr, 0, true);
    m_pImgAsk = LoadSkinImage(theApp.m_pDUIRes, kImgAsk, 0, true);
    m_pImgSuccess = LoadSkinImage(theApp.m_pDUIRes, kImgSuccess, 0, true);
    m_pImgUpdate = LoadSkinImage(theApp.m_pDUIRes, kImgUpdate, 0, true);

    SetCtrlText(m_pCaptionStatic, g_strMsgCaption.c_str());
    SetCtrlText(m_pTipsStatic, g_strMsgText.c_str());
    ApplyTextAndPicture();
    ApplyButtonCaptions();
    return 0;
}

void CDlgMessageBoxCal::ApplyTextAndPicture()
{
    if (Has(MBC_NOTIPSAGAIN)) {
        SetCtrlText(m_pCheckBox, kCheckNoTipsAgain);
        SetCtrlTextStyle(m_pTipsStatic, -1, 14, 0, 0, 280);
    } else {
        SetCtrlText(m_pCheckBox, kCheckNextTime);
    }

    if (Has(MBC_NOCHECK))
        SetCtrlVisible(m_pCheckBox, false);
    if (Has(MBC_NOICON))
        SetCtrlVisible(m_pStateLogo, false);

    // The picture is set even when hidden; the first matching bit wins.
    IDUIPicture* pPicture = m_pImgSuccess;
    if (Has(MBC_ICONERR))
        pPicture = m_pImgErr;
    else if (Has(MBC_ICONASK))
        pPicture = m_pImgAsk;
    else if (Has(MBC_ICONWARN))
        pPicture = m_pImgWarn;
    else if (Has(MBC_ICONUPDATE))
        pPicture = m_pImgUpdate;
    SetCtrlImage(m_pStateLogo, pPicture);
}

void CDlgMessageBoxCal::ApplyButtonCaptions()
{
    // Captions: each later rule overwrites what an earlier one set; a button
    // no rule names keeps the layout's own caption.
    if (Has(MBC_CANCEL))
        SetCtrlText(m_pCancelBtn, kTextCancel);
    if (Has(MBC_NO))
        SetCtrlText(m_pCancelBtn, kTextNo);
    if (!Has(kSecondButtonBits))
        SetCtrlVisible(m_pCancelBtn, false);

    if (Has(MBC_CONTINUE | MBC_RETRY))
        SetCtrlText(m_pOKBtn, Has(MBC_CONTINUE) ? kTextContinue : kTextRetry);
    if (Has(MBC_YES | MBC_OK))
        SetCtrlText(m_pOKBtn, Has(MBC_YES) ? kTextYes : kTextOK);

    if (Has(MBC_UPGRADE)) {
        SetCtrlText(m_pOKBtn, kTextUpgrade);
        SetCtrlText(m_pCancelBtn, kTextCancel);
        SetCtrlText(m_pCheckBox, kCheckNoRemind);
    }
    if (Has(MBC_CONTINUEINSTALL)) {
        SetCtrlText(m_pOKBtn, kTextContinueInstall);
        SetCtrlText(m_pCancelBtn, kTextCancel);
        SetCtrlVisible(m_pCheckBox, false);
    }
    if (Has(MBC_UPGRADEONLY)) {
        SetCtrlText(m_pOKBtn, kTextUpgrade);
        SetCtrlVisible(m_pCancelBtn, false);
        SetCtrlVisible(m_pCheckBox, false);
    }
}

BOOL CDlgMessageBoxCal::OnInitDialog()
{
    CDialog::OnInitDialog();
    SetWindowText(g_strMsgCaption.c_str());
    LayoutControls();
    SetTimer(kTopMostTimer, kBringToFrontPeriodMs);
    // A warning or an error must be read out without the user asking, as
    // screen readers do for the system's own message boxes; raised here,
    // by the program, it does not depend on what the skin library tells
    // readers.
    if (Has(MBC_ICONWARN | MBC_ICONERR))
        ::NotifyWinEvent(EVENT_SYSTEM_ALERT, m_hWnd, OBJID_CLIENT, CHILDID_SELF);
    return TRUE;
}

void CDlgMessageBoxCal::LayoutControls()
{
    // Halvings are signed divisions that truncate toward zero, as C++'s do.
    IDUIRect* pOKRect = GetCtrlRect(m_pOKBtn);
    if (pOKRect) {
        const LONG lOKTop = RectValue(pOKRect, &IDUIRect::get_Top);
        // Each measurement is read out at once: the library may hand out one
        // shared rectangle object for every control.
        IDUIRect* pTextRect = GetCtrlRect(m_pTipsStatic);
        if (pTextRect) {
            const LONG w = RectValue(pTextRect, &IDUIRect::get_Width);
            const LONG h = RectValue(pTextRect, &IDUIRect::get_Height);
            if (Has(MBC_NOICON)) {
                const LONG lLeft = (kBoxWidth - w) / 2;
                LONG lTop = (lOKTop - h - kCaptionBandNoIcon) / 2 + kCaptionBandNoIcon;
                if (lTop < kMinTextTopNoIcon)
                    lTop = kMinTextTopNoIcon;
                PlaceCtrl(m_pTipsStatic, lLeft, lTop, lLeft + w, lTop + h);
            } else {
                LONG lTextTop = (lOKTop - h - kCaptionBand) / 2 + kCaptionBand;
                if (lTextTop < kMinTextTop)
                    lTextTop = kMinTextTop;
                LONG lw = 0;
                IDUIRect* pLogoRect = GetCtrlRect(m_pStateLogo);
                if (pLogoRect) {
                    lw = RectValue(pLogoRect, &IDUIRect::get_Width);
                    const LONG lh = RectValue(pLogoRect, &IDUIRect::get_Height);
                    const LONG lLogoTop = (lOKTop - lh - kCaptionBand) / 2 + kCaptionBand;
                    PlaceCtrl(m_pStateLogo, kPictureLeft, lLogoTop, kPictureLeft + lw, lLogoTop + lh);
                }
                const LONG lLeft = kPictureLeft + lw + kPictureTextGap;
                PlaceCtrl(m_pTipsStatic, lLeft, lTextTop, lLeft + w, lTextTop + h);
            }
        }
    }

    if (Has(kSecondButtonBits)) {
        ShiftCtrl(m_pCancelBtn, kButtonShift);
        ShiftCtrl(m_pOKBtn, -kButtonShift);
    }
}

void CDlgMessageBoxCal::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent == kTopMostTimer) {
        if (!BringToFrontTick(m_hWnd, true, m_nTopMostCount))
            KillTimer(kTopMostTimer);
    }
    CWnd::OnTimer(nIDEvent);
}

LRESULT CDlgMessageBoxCal::OnCtrlClick(WPARAM wParam, LPARAM)
{
    DUI_CTRLBASE* pClicked = reinterpret_cast<DUI_CTRLBASE*>(wParam);
    if (!pClicked)
        return 0;
    if (pClicked == m_pCloseBtn || pClicked == m_pCancelBtn) {
        if (Has(MBC_NO))
            m_nRetCode = IDNO;
        OnCancel();
    } else if (pClicked == m_pOKBtn) {
        if (Has(MBC_YES))
            m_nRetCode = IDYES;
        else if (Has(MBC_CONTINUE))
            m_nRetCode = IDCONTINUE;
        else if (Has(MBC_RETRY))
            m_nRetCode = IDRETRY;
        OnOK();
    }
    return 0;
}

void CDlgMessageBoxCal::OnOK()
{
    SaveNoTipsVersion();
    CDialog::OnOK();
}

void CDlgMessageBoxCal::OnCancel()
{
    SaveNoTipsVersion();
    CDialog::OnCancel();
}

void CDlgMessageBoxCal::SaveNoTipsVersion()
{
    // Only an explicit tick counts; the box may also be hidden and unticked.
    if (GetCtrlCheck(m_pCheckBox) != 1)
        return;

    // Without the application-data folder the path would become relative to
    // the current folder; write nothing rather than a stray file.
    const std::wstring strDir = UpgradeFolderPath();
    if (strDir.empty())
        return;
    const std::wstring strIniPath = strDir + kStateFileName;
    const std::wstring strVersion = ReadUpgradeValue(strIniPath.c_str(), kKeyVersion);
    WriteUpgradeValue(strIniPath.c_str(), kKeyVersionNoTips, strVersion.c_str());
}

}  // namespace MsgBoxCal
