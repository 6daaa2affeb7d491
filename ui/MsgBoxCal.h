// The skinned modal message box through which the upgrade flow informs and
// asks the user: a caption, a state picture, a text, one or two buttons and
// an optional "don't remind me" check box, all drawn by the skin.
#pragma once

#include "afx/afxwin.h"
#include "ui/DUIDefs.h"

#include <string>

namespace MsgBoxCal {

// Style bits; several may be combined.
enum : int {
    MBC_OK = 0x00001,               // first button "确定"
    MBC_CANCEL = 0x00002,           // second button shown, "取消"
    MBC_RETRY = 0x00004,            // first button "重试", returns IDRETRY
    MBC_ICONASK = 0x00010,          // question picture
    MBC_ICONWARN = 0x00020,         // warning picture
    MBC_ICONERR = 0x00040,          // error picture
    MBC_YES = 0x00080,              // first button "是", returns IDYES
    MBC_NO = 0x00100,               // second button "否"; it and close return IDNO
    MBC_CONTINUE = 0x00200,         // first button "继续", returns IDCONTINUE
    MBC_NOICON = 0x00400,           // no state picture, text centred
    MBC_NOCHECK = 0x00800,          // no check box
    MBC_NOTIPSAGAIN = 0x01000,      // check box "不再提示", styled text
    MBC_ICONUPDATE = 0x02000,       // update picture
    MBC_UPGRADE = 0x04000,          // "升级" and "取消", check box "不再提醒"
    MBC_CONTINUEINSTALL = 0x08000,  // "继续安装", second text "取消", no check box
    MBC_UPGRADEONLY = 0x10000,      // "升级" alone, no check box
};

// The parameters of the box that is up. One set per process; they keep their
// last values after the box closes.
extern std::wstring g_strMsgText;
extern std::wstring g_strMsgCaption;
extern int g_nMsgStyle;

// Shows the box modally and returns the dialog result: IDOK, IDCANCEL, IDRETRY,
// IDYES, IDNO or IDCONTINUE, or -1 when the box cannot be created.
int ShowMsgBox(const std::wstring& text, const std::wstring& caption, int style);

class CDlgMessageBoxCal : public CDialog {
public:
    explicit CDlgMessageBoxCal(CWnd* pParent = nullptr);

    INT_PTR DoModal() override;
    BOOL OnInitDialog() override;

    IDirectUI* m_pDirectUI = nullptr;
    DUI_CTRLBASE* m_pCloseBtn = nullptr;
    DUI_CTRLBASE* m_pOKBtn = nullptr;
    DUI_CTRLBASE* m_pCancelBtn = nullptr;
    DUI_CTRLBASE* m_pStateLogo = nullptr;
    DUI_CTRLBASE* m_pCheckBox = nullptr;
    DUI_CTRLBASE* m_pTipsStatic = nullptr;
    DUI_CTRLBASE* m_pCaptionStatic = nullptr;
    IDUIPicture* m_pImgWarn = nullptr;
    IDUIPicture* m_pImgErr = nullptr;
    IDUIPicture* m_pImgAsk = nullptr;
    IDUIPicture* m_pImgSuccess = nullptr;
    IDUIPicture* m_pImgUpdate = nullptr;
    int m_nRetCode = 0;       // chosen by the button handler; 0 means none
    int m_nTopMostCount = 0;  // bring-to-front attempts of timer 1

protected:
    int OnCreate(LPCREATESTRUCT lpCreateStruct);
    void OnTimer(UINT_PTR nIDEvent);
    LRESULT OnCtrlClick(WPARAM wParam, LPARAM lParam);

    // The style word's check box text, hidden parts and picture.
    void ApplyTextAndPicture();
    // The style word's button captions, in the order in which they overwrite
    // each other.
    void ApplyButtonCaptions();
    void LayoutControls();
    void SaveNoTipsVersion();
    // Every way out of the box keeps a ticked "don't remind me": its buttons,
    // its close control, and the dialog manager's Enter, Esc and close.
    void OnOK() override;
    void OnCancel() override;

    DECLARE_MESSAGE_MAP()
};

}  // namespace MsgBoxCal
