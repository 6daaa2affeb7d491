#include "upgrade/UpgradePrompts.h"

#include "log/Log.h"
#include "ui/MsgBoxCal.h"

namespace {

const wchar_t kTipCaption[] = L"提示";
const wchar_t kDownloadFailedText[] = L"下载失败，请稍后重试！";
const wchar_t kNetworkLostText[] = L"网络异常，请稍后重试！";
const wchar_t kSignatureRefusedText[] = L"安装程序签名校验失败，请稍后重试！";
const wchar_t kUpdateCaption[] = L"版本更新";
const wchar_t kUpdateText[] = L"有新版本咯，赶紧去升级体验最新功能吧！";

const int kNoticeStyle = MsgBoxCal::MBC_NOCHECK | MsgBoxCal::MBC_ICONWARN | MsgBoxCal::MBC_OK;
const int kSinglePromptStyle = MsgBoxCal::MBC_UPGRADEONLY | MsgBoxCal::MBC_ICONWARN;
const int kChoicePromptStyle = MsgBoxCal::MBC_UPGRADE | MsgBoxCal::MBC_NOTIPSAGAIN | MsgBoxCal::MBC_ICONWARN |
                               MsgBoxCal::MBC_CANCEL | MsgBoxCal::MBC_OK;
static_assert(kNoticeStyle == 0x821 && kSinglePromptStyle == 0x10020 && kChoicePromptStyle == 0x5023,
              "the client's support documents name these styles");

}  // namespace

void ShowDownloadFailedBox()
{
    LOG_INFO(L"ShowDownloadFailedBox", L"download-failed notice shown");
    MsgBoxCal::ShowMsgBox(kDownloadFailedText, kTipCaption, kNoticeStyle);
}

void ShowNetworkLostBox()
{
    LOG_INFO(L"ShowNetworkLostBox", L"network-lost notice shown");
    MsgBoxCal::ShowMsgBox(kNetworkLostText, kTipCaption, kNoticeStyle);
}

void ShowSignatureRefusedBox()
{
    LOG_INFO(L"ShowSignatureRefusedBox", L"signature-refused notice shown");
    MsgBoxCal::ShowMsgBox(kSignatureRefusedText, kTipCaption, kNoticeStyle);
}

int ShowUpgradePrompt(bool bSingleButton)
{
    LOG_INFO(L"ShowUpgradePrompt", L"upgrade prompt shown (%s)",
             bSingleButton ? L"upgrade button only" : L"upgrade, cancel and no-reminder choices");
    const int nResult =
        MsgBoxCal::ShowMsgBox(kUpdateText, kUpdateCaption, bSingleButton ? kSinglePromptStyle : kChoicePromptStyle);
    LOG_INFO(L"ShowUpgradePrompt", L"upgrade prompt answered: %s (%d)", nResult == 1 ? L"upgrade" : L"not now",
             nResult);
    return nResult;
}
