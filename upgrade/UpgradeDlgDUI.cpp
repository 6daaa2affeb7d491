// Creation, timers, clicks, showing, hiding and quitting of the upgrade window.
#include "upgrade/UpgradeDlgDUI.h"

#include "app/DazuvuVevUpgrade.h"
#include "log/Log.h"
#include "netlib/NubraSdk.h"
#include "netlib/NubraSdkExtras.h"
#include "ui/BringToFront.h"
#include "ui/SkinLayer.h"
#include "upgrade/ClientExit.h"
#include "upgrade/StateFile.h"
#include "upgrade/UpgradePrompts.h"
#include "win/ModuleExport.h"

volatile bool g_bNetAlive = true;
volatile bool g_bInstallPrompting = false;

namespace {

const wchar_t kWindowTitle[] = L"正在下载";
const wchar_t kLayoutName[] = L"UpgradeDUI";
// Watched for reachability when the user has no proxy. It does not resolve on
// every network, so an administrator may name another host (or "host:port")
// in the client's config.ini; tests use the library's environment override.
const wchar_t kTrackServerHost[] = NUBRA_DEFAULT_TRACK_HOST;
const wchar_t kTrackServerKey[] = L"NetTrackServer";
const wchar_t kTrackServerOverride[] = NUBRA_TRACK_SERVER_ENV;
const wchar_t kClientRunningFlag[] = UPGRADE_CLIENT_RUNNING_FLAG;

enum : UINT_PTR {
    TIMER_WAIT_CLIENT_EXIT = 0,
    TIMER_BRING_TO_FRONT = 1,
};
const UINT kWaitClientExitPeriod = 3000;

// The network library's own records (retries, refused answers), when it is
// one that can give them; it may call from any of its threads.
void LibraryLogSink(int nSeverity, LPCWSTR pszFunction, LPCWSTR pszText)
{
    CLog::GetInstance()->Log(LOGLEVEL_INFO, L".\\NubraSdk", 0, pszFunction ? pszFunction : L"Nubra_SDK", L"%s%s",
                             LogSeverityPrefix(nSeverity), pszText ? pszText : L"");
}

}  // namespace

BEGIN_MESSAGE_MAP(CUpgradeDlgDUI, CDialog)
    ON_WM_CREATE()
    ON_MESSAGE(WM_DUI_CLICK, OnCtrlClick)
    ON_WM_TIMER()
    ON_WM_COPYDATA()
END_MESSAGE_MAP()

CUpgradeDlgDUI::CUpgradeDlgDUI() : CDialog(0, nullptr) {}

CUpgradeDlgDUI::~CUpgradeDlgDUI() = default;

int CUpgradeDlgDUI::OnCreate(LPCREATESTRUCT lpCreateStruct)
{
    if (CDialog::OnCreate(lpCreateStruct) == -1)
        return -1;

    if (!theApp.m_pDUIRes) {
        LOG_INFO(L"CUpgradeDlgDUI::OnCreate", L"CUpgradeDlgDUI::theApp.m_pDUIRes is NULL!");
        return -1;
    }
    m_pDirectUI = AttachSkinWindow(theApp.m_pDUIRes, kLayoutName, m_hWnd);
    if (!m_pDirectUI) {
        LOG_INFO(L"CUpgradeDlgDUI::OnCreate", L"CUpgradeDlgDUI::m_pDirectUI is NULL!");
        return -1;
    }

    m_pLoadingStatic = FindSkinCtrl(m_pDirectUI, L"LoadingStatic", true);
    m_pLoadingAnimate = FindSkinCtrl(m_pDirectUI, L"LoadingAnimate", true);
    m_pUpgradeForm = FindSkinCtrl(m_pDirectUI, L"UPgradeForm", true);
    m_pCloseBtn = FindSkinCtrl(m_pDirectUI, L"CloseBtn", true);
    m_pCancelDownload = FindSkinCtrl(m_pDirectUI, L"CancelDownload", true);
    m_pFileNameStatic = FindSkinCtrl(m_pDirectUI, L"FileNameStatic", true);
    m_pVersionStatic = FindSkinCtrl(m_pDirectUI, L"VersionStatic", true);
    m_pSpeedStatic = FindSkinCtrl(m_pDirectUI, L"SpeedStatic", true);
    m_pAlreadyloadStatic = FindSkinCtrl(m_pDirectUI, L"AlreadyloadStatic", true);
    m_pDownloadProgress = FindSkinCtrl(m_pDirectUI, L"DownloadProgress", true);

    SetCtrlText(m_pFileNameStatic, L"");
    SetCtrlText(m_pVersionStatic, L"");
    SetCtrlText(m_pSpeedStatic, L"");
    SetCtrlText(m_pAlreadyloadStatic, L"");
    return 0;
}

BOOL CUpgradeDlgDUI::OnInitDialog()
{
    CDialog::OnInitDialog();
    SetWindowText(kWindowTitle);

    if (const auto pfnSetLogSink = ModuleExport<PFN_NUBRA_SET_LOG_SINK>(NUBRA_LIBRARY_NAME, NUBRA_SET_LOG_SINK_NAME))
        pfnSetLogSink(&LibraryLogSink);
    m_trackEvent.Reset(::CreateEventW(nullptr, FALSE /* auto-reset */, FALSE, nullptr));
    InternetTrackAttach(m_trackEvent.Get());

    wchar_t szProxyHost[MAX_PATH] = {};
    wchar_t szProxyPort[MAX_PATH] = {};
    std::wstring strTrackServer = kTrackServerHost;
    if (GetIEProxy(szProxyHost, szProxyPort)) {
        strTrackServer = szProxyHost;
        // The library keeps the proxy for every later transfer; a proxy it
        // refuses shows in the transfer's own result.
        InitHttpX(szProxyHost, szProxyPort, theApp.m_strProxyUser.c_str(), theApp.m_strProxyPassword.c_str(), 0);
        LOG_INFO(L"CUpgradeDlgDUI::OnInitDialog", L"proxy in use: %s:%s, user %s%s", szProxyHost, szProxyPort,
                 theApp.m_strProxyUser.empty() ? L"(none)" : theApp.m_strProxyUser.c_str(),
                 theApp.m_strProxyPassword.empty() ? L", no password" : L", password given");
    } else {
        LOG_INFO(L"CUpgradeDlgDUI::OnInitDialog", L"no proxy in use");
        std::wstring strConfigured;
        if (GetConfigValue(kTrackServerKey, kClientConfigSection, strConfigured) && !strConfigured.empty())
            strTrackServer = strConfigured;
    }
    InternetTrackSetServer(strTrackServer.c_str());
    wchar_t szOverride[MAX_PATH] = {};
    const DWORD cchOverride = ::GetEnvironmentVariableW(kTrackServerOverride, szOverride, MAX_PATH);
    if (cchOverride > 0 && cchOverride < MAX_PATH)
        LOG_INFO(L"CUpgradeDlgDUI::OnInitDialog", L"net track server: %s (overridden by %s=%s)", strTrackServer.c_str(),
                 kTrackServerOverride, szOverride);
    else
        LOG_INFO(L"CUpgradeDlgDUI::OnInitDialog", L"net track server: %s", strTrackServer.c_str());
    InternetTrackStartNetTrack();

    m_netWatch = {m_trackEvent.Get(), m_hWnd};
    theApp.m_netThread.Reset(::CreateThread(nullptr, 0, &CUpgradeDlgDUI::NetThread, &m_netWatch, 0, nullptr));

    if (!InitUpgradeDir())
        ExistMainThread(UpgradeResult::Refused, L"the upgrade folder or its state file cannot be prepared");
    return TRUE;
}

void CUpgradeDlgDUI::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent == TIMER_WAIT_CLIENT_EXIT) {
        if (HasClientExited(kClientRunningFlag)) {
            KillTimer(TIMER_WAIT_CLIENT_EXIT);
            ExistMainThread(UpgradeResult::HeldWaiting, L"the client has exited while it held the installation");
        }
    } else if (nIDEvent == TIMER_BRING_TO_FRONT) {
        if (!BringToFrontTick(m_hWnd, !m_bHidden, m_nTopMostCount))
            KillTimer(TIMER_BRING_TO_FRONT);
    } else if (nIDEvent == TIMER_RECORD_SILENCE) {
        OnRecordSilenceTick();
    } else if (nIDEvent == TIMER_CHECK) {
        OnCheckTick();
    } else if (nIDEvent == TIMER_SETTLE) {
        OnSettleTick();
    }
    CDialog::OnTimer(nIDEvent);
}

LRESULT CUpgradeDlgDUI::OnCtrlClick(WPARAM wParam, LPARAM)
{
    // Neither button stops the download; they only take the window away,
    // which changes how the download ends.
    auto pClicked = reinterpret_cast<DUI_CTRLBASE*>(wParam);
    if (pClicked && pClicked == m_pCloseBtn)
        HideByUser(L"its close button");
    else if (pClicked && pClicked == m_pCancelDownload)
        HideByUser(L"its cancel button");
    return 0;
}

void CUpgradeDlgDUI::HideByUser(LPCWSTR pszBy)
{
    LOG_INFO(L"CUpgradeDlgDUI::HideByUser", L"window hidden by the user (%s), the download goes on", pszBy);
    SetForegroundWindow();
    m_bHidden = true;
    ShowWindow(SW_HIDE);
}

// The dialog manager turns Esc, Alt+F4, WM_CLOSE and the taskbar's close
// into IDCANCEL; ending the dialog would only hide it and leave m_bHidden
// false, so the setup would still start and failure notices still appear.
void CUpgradeDlgDUI::OnCancel()
{
    HideByUser(L"a close of the window");
}

// The window has no default button: a stray Enter must not take it away,
// which would keep the verified setup from starting.
void CUpgradeDlgDUI::OnOK()
{
    LOG_INFO(L"CUpgradeDlgDUI::OnOK", L"Enter ignored: the window has no default button");
}

LRESULT CUpgradeDlgDUI::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_MSG_UPGRADE_CMD: {
        bool bHandled = false;
        LRESULT lResult = OnUpgradeCommand(wParam, lParam, &bHandled);
        if (bHandled)
            return lResult;
        break;
    }
    case WM_MSG_DOWNLOAD:
        return OnDownloadProgress(wParam);
    case WM_MSG_DOWNLOAD_OVER:
        return OnDownloadOver();
    case WM_MSG_DOWNLOAD_FAIL:
        return OnDownloadFail();
    case WM_MSG_NET_BREAK:
        return OnNetBreak();
    default:
        break;
    }
    return CDialog::WindowProc(message, wParam, lParam);
}

void CUpgradeDlgDUI::ExistMainThread(UpgradeResult result, LPCWSTR pszReason)
{
    LOG_AT(UpgradeResultSeverity(result), L"CUpgradeDlgDUI::ExistMainThread", L"upgrade ends: %s: %s",
           UpgradeResultWord(result), pszReason);
    // Messages queued before the quit may ask again; the first reason is the run's.
    // ClaimRunEnd: unless a newer instance has already recorded this run's end.
    if (!m_bEnded && ClaimRunEnd() && m_bUpgradeDirReady)
        WriteUpgradeResult(m_szIniPath, result);
    CClientNotices::NotifyOutcome(result);  // the first end only, like the state file
    m_bEnded = true;
    LOG_INFO(L"CUpgradeDlgDUI::ExistMainThread", L"ExistMainThread");
    // Posted, not sent: the handler that asked for the end finishes first.
    if (theApp.m_dwMainThreadId)
        ::PostThreadMessageW(theApp.m_dwMainThreadId, WM_QUIT, 0, 0);
}

void CUpgradeDlgDUI::ShowUpgradeWindow(LPCWSTR pszBy)
{
    LOG_INFO(L"CUpgradeDlgDUI::ShowUpgradeWindow", L"window shown by %s", pszBy);
    SetForegroundWindow();
    m_bHidden = false;
    ShowWindow(SW_SHOWNORMAL);
    SetTimer(TIMER_BRING_TO_FRONT, kBringToFrontPeriodMs);
}

void CUpgradeDlgDUI::HideAfterError()
{
    CUpgradeDlgDUI* pDlg = theApp.m_pUpgradeDlg;
    if (!pDlg)
        return;
    LOG_INFO(L"CUpgradeDlgDUI::HideAfterError", L"window hidden for a failure notice");
    pDlg->SetForegroundWindow();
    pDlg->m_bHidden = true;
    pDlg->ShowWindow(SW_HIDE);
}

void CUpgradeDlgDUI::GiveFailureNotice(Notice notice, UpgradeResult result, LPCWSTR pszEndReason)
{
    if (!m_bHidden) {
        HideAfterError();
        if (notice == Notice::NetworkLost)
            ShowNetworkLostBox();
        else if (notice == Notice::SignatureRefused)
            ShowSignatureRefusedBox();
        else
            ShowDownloadFailedBox();
    }
    if (pszEndReason)
        ExistMainThread(result, pszEndReason);
}

// Used by the completion handler when the client holds the installation.
void CUpgradeDlgDUI::StartWaitForClientExit()
{
    SetTimer(TIMER_WAIT_CLIENT_EXIT, kWaitClientExitPeriod);
}
