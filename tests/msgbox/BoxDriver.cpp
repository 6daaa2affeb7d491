#include "tests/msgbox/BoxDriver.h"

#include "ui/SkinLayer.h"
#include "win/Handles.h"

#include <gdiplus.h>

namespace {

CBoxDriver* g_pActive = nullptr;
HHOOK g_hHook = nullptr;

const UINT kTickMs = 20;
const int kStuckTicks = 250;

// The encoder of the system's image library for PNG files.
const CLSID kPngEncoder = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};

void SendMouseButton(DWORD dwFlags)
{
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = dwFlags;
    ::SendInput(1, &input, sizeof(input));
}

void SendKey(WORD wVirtualKey, DWORD dwFlags)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = wVirtualKey;
    input.ki.dwFlags = dwFlags;
    ::SendInput(1, &input, sizeof(input));
}

}  // namespace

int CBoxDriver::Run(const std::wstring& strText, const std::wstring& strCaption, int nStyle, std::vector<Step> vecSteps,
                    int nStepTicks)
{
    m_strCaption = strCaption;
    m_vecSteps = std::move(vecSteps);
    m_nStepTicks = nStepTicks;
    g_pActive = this;
    g_hHook = ::SetWindowsHookExW(WH_CALLWNDPROC, &CBoxDriver::CallWndProc, nullptr, ::GetCurrentThreadId());
    const UINT_PTR nTimer = ::SetTimer(nullptr, 0, kTickMs, &CBoxDriver::TimerProc);

    const int nResult = MsgBoxCal::ShowMsgBox(strText, strCaption, nStyle);

    ::KillTimer(nullptr, nTimer);
    ::UnhookWindowsHookEx(g_hHook);
    g_hHook = nullptr;
    g_pActive = nullptr;
    m_hBox = nullptr;
    m_pDlg = nullptr;
    return nResult;
}

void CALLBACK CBoxDriver::TimerProc(HWND, UINT, UINT_PTR, DWORD)
{
    if (g_pActive)
        g_pActive->OnTick();
}

LRESULT CALLBACK CBoxDriver::CallWndProc(int nCode, WPARAM wParam, LPARAM lParam)
{
    if (nCode == HC_ACTION && g_pActive) {
        auto pMsg = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (pMsg->message == WM_WINDOWPOSCHANGING) {
            auto pPos = reinterpret_cast<const WINDOWPOS*>(pMsg->lParam);
            if (!(pPos->flags & SWP_NOZORDER) && pPos->hwndInsertAfter == HWND_TOPMOST)
                ++g_pActive->m_mapTopMostRequests[pMsg->hwnd];
        }
    }
    return ::CallNextHookEx(g_hHook, nCode, wParam, lParam);
}

void CBoxDriver::OnTick()
{
    if (!m_hBox) {
        HWND hWnd = ::FindWindowW(L"#32770", m_strCaption.c_str());
        auto pDlg = hWnd ? dynamic_cast<MsgBoxCal::CDlgMessageBoxCal*>(CWnd::FromHandlePermanent(hWnd)) : nullptr;
        if (!pDlg || !::IsWindowVisible(hWnd))
            return;
        m_hBox = hWnd;
        m_pDlg = pDlg;
        m_bFound = true;
        if (m_fnOnFound)
            m_fnOnFound(*this);
        return;
    }
    if (!::IsWindow(m_hBox))
        return;
    if (m_nNextStep < m_vecSteps.size()) {
        if (++m_nTicks % m_nStepTicks == 0)
            m_vecSteps[m_nNextStep++](*this);
        return;
    }
    if (++m_nTicksAfterSteps == kStuckTicks) {
        m_bStuck = true;
        ::PostMessageW(m_hBox, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
}

DUI_CTRLBASE* CBoxDriver::Ctrl(const std::wstring& strName) const
{
    if (!m_pDlg)
        return nullptr;
    const std::map<std::wstring, DUI_CTRLBASE*> mapCtrls = {
        {L"CloseBtn", m_pDlg->m_pCloseBtn},
        {L"OKBtn", m_pDlg->m_pOKBtn},
        {L"CancelBtn", m_pDlg->m_pCancelBtn},
        {L"MsgBoxCalCheckBox", m_pDlg->m_pCheckBox},
        {L"MsgBoxCalStateLogo", m_pDlg->m_pStateLogo},
        {L"MsgBoxCalTipsStatic", m_pDlg->m_pTipsStatic},
        {L"CaptionStatic", m_pDlg->m_pCaptionStatic},
    };
    auto it = mapCtrls.find(strName);
    return it == mapCtrls.end() ? nullptr : it->second;
}

RECT CBoxDriver::CtrlRect(const std::wstring& strName) const
{
    RECT rc = {-1, -1, -1, -1};
    IDUIRect* pRect = GetCtrlRect(Ctrl(strName));
    if (!pRect)
        return rc;
    LONG lHeight = 0;
    pRect->get_Left(&rc.left);
    pRect->get_Top(&rc.top);
    pRect->get_Right(&rc.right);
    pRect->get_Height(&lHeight);
    rc.bottom = rc.top + lHeight;
    return rc;
}

bool CBoxDriver::Visible(const std::wstring& strName) const
{
    return GetCtrlVisible(Ctrl(strName));
}

LONG CBoxDriver::Check(const std::wstring& strName) const
{
    return GetCtrlCheck(Ctrl(strName));
}

void CBoxDriver::Click(const std::wstring& strName) const
{
    const RECT rc = CtrlRect(strName);
    RECT rcBox = {};
    ::GetWindowRect(m_hBox, &rcBox);
    ::SetCursorPos(rcBox.left + (rc.left + rc.right) / 2, rcBox.top + (rc.top + rc.bottom) / 2);
    SendMouseButton(MOUSEEVENTF_LEFTDOWN);
    SendMouseButton(MOUSEEVENTF_LEFTUP);
}

void CBoxDriver::PressKey(WORD wVirtualKey) const
{
    SendKey(wVirtualKey, 0);
    SendKey(wVirtualKey, KEYEVENTF_KEYUP);
}

bool CBoxDriver::SaveScreenshot(const std::wstring& strPath) const
{
    RECT rc = {};
    if (!::GetWindowRect(m_hBox, &rc))
        return false;
    const int cx = rc.right - rc.left;
    const int cy = rc.bottom - rc.top;

    CBitmapHandle bitmapCopy;
    {
        CWindowDC screen(nullptr);
        CMemoryDC memory(::CreateCompatibleDC(screen.Get()));
        bitmapCopy.Reset(::CreateCompatibleBitmap(screen.Get(), cx, cy));
        CSelectObject select(memory.Get(), bitmapCopy.Get());
        ::BitBlt(memory.Get(), 0, 0, cx, cy, screen.Get(), rc.left, rc.top, SRCCOPY);
    }

    ULONG_PTR ulToken = 0;
    Gdiplus::GdiplusStartupInput startup;
    bool bSaved = false;
    if (Gdiplus::GdiplusStartup(&ulToken, &startup, nullptr) == Gdiplus::Ok) {
        {
            Gdiplus::Bitmap bitmap(bitmapCopy.Get(), nullptr);
            bSaved = bitmap.Save(strPath.c_str(), &kPngEncoder, nullptr) == Gdiplus::Ok;
        }
        Gdiplus::GdiplusShutdown(ulToken);
    }
    return bSaved;
}
