// Window layer: keyboard use of a skinned window (focus, Tab order, Space, Enter, Esc),
// clicks from any source, accessibility events, tooltips and DPI changes.
#include "VEXUI32/DirectUI.h"

#include <commctrl.h>
#include <oleacc.h>

bool CDirectUI::IsFocusable(const CDUIControl* pCtrl) const
{
    if (!pCtrl)
        return false;
    EDuiKind eKind = pCtrl->m_state.eKind;
    return (eKind == EDuiKind::Button || eKind == EDuiKind::CheckBox) && IsShown(pCtrl);
}

std::vector<CDUIControl*> CDirectUI::TabOrder() const
{
    // The layout's order, with the window's close cross last: what the
    // window asks comes before the way out of it.
    std::vector<CDUIControl*> vecOrder;
    std::vector<CDUIControl*> vecClose;
    for (const auto& pCtrl : m_vecCtrls) {
        if (!IsFocusable(pCtrl.get()))
            continue;
        (pCtrl->m_state.look.eGlyph == EDuiGlyph::Close ? vecClose : vecOrder).push_back(pCtrl.get());
    }
    vecOrder.insert(vecOrder.end(), vecClose.begin(), vecClose.end());
    return vecOrder;
}

CDUIControl* CDirectUI::FocusedControl() const
{
    if (IsFocusable(m_pFocus))
        return m_pFocus;
    // Until the user moves it, the focus rests on the default button, so
    // that Enter does what the window proposes.
    std::vector<CDUIControl*> vecOrder = TabOrder();
    for (CDUIControl* pCtrl : vecOrder) {
        if (pCtrl->m_state.bDefault)
            return pCtrl;
    }
    return vecOrder.empty() ? nullptr : vecOrder.front();
}

void CDirectUI::SetFocusTo(CDUIControl* pCtrl)
{
    if (pCtrl == m_pFocus)
        return;
    m_pFocus = pCtrl;
    if (m_hWnd && ::GetFocus() == m_hWnd)
        Notify(EVENT_OBJECT_FOCUS, pCtrl);
    Invalidate();
}

void CDirectUI::MoveFocus(bool bBack)
{
    std::vector<CDUIControl*> vecOrder = TabOrder();
    if (vecOrder.empty())
        return;
    CDUIControl* pNow = FocusedControl();
    size_t nCount = vecOrder.size();
    size_t nAt = 0;
    while (nAt < nCount && vecOrder[nAt] != pNow)
        ++nAt;
    size_t nNext = nAt >= nCount ? 0 : bBack ? (nAt + nCount - 1) % nCount : (nAt + 1) % nCount;
    SetFocusTo(vecOrder[nNext]);
    Invalidate();
}

bool CDirectUI::Activate(CDUIControl* pCtrl)
{
    if (!m_hWnd || !pCtrl || !IsClickable(pCtrl))
        return false;
    if (pCtrl->m_state.eKind == EDuiKind::CheckBox) {
        pCtrl->m_state.bChecked = !pCtrl->m_state.bChecked;
        Notify(EVENT_OBJECT_STATECHANGE, pCtrl);
    }
    // Posted, not sent: the window's handler may end a modal loop or destroy
    // the window, which must not happen while we are still inside the input
    // message (or the screen reader's call) that caused the click.
    const WPARAM wClicked = reinterpret_cast<WPARAM>(&pCtrl->m_base);
    if (::PostMessageW(m_hWnd, WM_DUI_CLICK, wClicked, 0))
        ++m_mapClicksInFlight[wClicked];
    Invalidate();
    return true;
}

bool CDirectUI::OnKeyDown(WPARAM wKey, LPARAM lParam)
{
    // A held key repeats; one press is one click.
    bool bRepeat = (lParam & 0x40000000) != 0;
    switch (wKey) {
    case VK_TAB:
        m_bFocusCues = true;
        MoveFocus(::GetKeyState(VK_SHIFT) < 0);
        return true;
    case VK_LEFT:
    case VK_UP:
    case VK_RIGHT:
    case VK_DOWN:
        m_bFocusCues = true;
        MoveFocus(wKey == VK_LEFT || wKey == VK_UP);
        return true;
    // Keys the skin moves or presses with stay the skin's even where nothing
    // takes them now: the dialog procedure below has no controls for them.
    case VK_SPACE:
        if (!bRepeat) {
            m_bFocusCues = true;
            Activate(FocusedControl());
        }
        return true;
    case VK_RETURN: {
        if (bRepeat)
            return true;
        CDUIControl* pTarget = FocusedControl();
        // Enter on the check box means the window's default button, as in
        // the system's dialogs; Space is what ticks the box.
        if (pTarget && pTarget->m_state.eKind != EDuiKind::Button) {
            for (CDUIControl* pCtrl : TabOrder()) {
                if (pCtrl->m_state.bDefault)
                    pTarget = pCtrl;
            }
        }
        if (pTarget && pTarget->m_state.eKind == EDuiKind::Button)
            Activate(pTarget);
        return true;
    }
    case VK_ESCAPE:
        if (!bRepeat) {
            // Esc is the close cross: exactly its click, nothing else.
            for (CDUIControl* pCtrl : TabOrder()) {
                if (pCtrl->m_state.look.eGlyph == EDuiGlyph::Close) {
                    Activate(pCtrl);
                    break;
                }
            }
        }
        return true;
    default:
        return false;
    }
}

void CDirectUI::Notify(DWORD dwEvent, const CDUIControl* pCtrl)
{
    if (!m_hWnd || !pCtrl)
        return;
    LONG lChild = ChildIdOf(pCtrl);
    if (lChild > 0) {
        ::NotifyWinEvent(dwEvent, m_hWnd, OBJID_CLIENT, lChild);
    } else {
        // Gone from the list (hidden): readers re-read the children.
        ::NotifyWinEvent(EVENT_OBJECT_REORDER, m_hWnd, OBJID_CLIENT, CHILDID_SELF);
    }
}

void CDirectUI::SetDpi(int nDpi)
{
    if (nDpi < 48 || nDpi > 960 || nDpi == m_nDpi)
        return;
    m_nDpi = nDpi;
    m_fonts.Drop();
    SetIcons();
    Invalidate();
}

void CDirectUI::SyncTips()
{
    if (!m_hWnd)
        return;
    for (const auto& pCtrl : m_vecCtrls) {
        const CDUIControl* pKey = pCtrl.get();
        bool bWant = pCtrl->m_bTextCut && IsShown(pKey) && pCtrl->m_state.eKind != EDuiKind::Title;
        auto it = m_mapTipped.find(pKey);
        RECT rc = ScaleRect(pCtrl->m_state.rc);
        if (it != m_mapTipped.end() && bWant && ::EqualRect(&it->second.first, &rc) &&
            it->second.second == pCtrl->m_state.strText)
            continue;
        if (it != m_mapTipped.end()) {
            // Dropped and added again: the text may have changed too.
            TTTOOLINFOW ti = {};
            ti.cbSize = TTTOOLINFOW_V2_SIZE;
            ti.hwnd = m_hWnd;
            ti.uId = reinterpret_cast<UINT_PTR>(pKey);
            if (m_hTip)
                ::SendMessageW(m_hTip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
            m_mapTipped.erase(it);
        }
        if (!bWant)
            continue;
        if (!m_hTip) {
            INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
            ::InitCommonControlsEx(&icc);
            m_hTip = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                                       CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_hWnd, nullptr,
                                       nullptr, nullptr);
            if (!m_hTip)
                return;
            // Long names wrap instead of running off the screen.
            ::SendMessageW(m_hTip, TTM_SETMAXTIPWIDTH, 0, Scale(480));
        }
        TTTOOLINFOW ti = {};
        ti.cbSize = TTTOOLINFOW_V2_SIZE;
        ti.hwnd = m_hWnd;
        ti.uId = reinterpret_cast<UINT_PTR>(pKey);
        ti.rect = rc;
        ti.lpszText = const_cast<LPWSTR>(pCtrl->m_state.strText.c_str());
        if (::SendMessageW(m_hTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti)))
            m_mapTipped[pKey] = std::make_pair(rc, pCtrl->m_state.strText);
    }
}
