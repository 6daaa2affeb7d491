// Screen-reader access to a skinned window: the IAccessible of its client
// area, and what the window tells it about each control.
#include "VEXUI32/DUIAccess.h"

#include <algorithm>

#include "VEXUI32/DirectUI.h"
#include "VEXUI32/SkinRes.h"

namespace {

template <class Fn>
HRESULT Guarded(Fn fn)
{
    try {
        return fn();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT ReturnText(const std::wstring& strText, BSTR* pbstr)
{
    if (!pbstr)
        return E_POINTER;
    *pbstr = nullptr;
    if (strText.empty())
        return S_FALSE;
    *pbstr = ::SysAllocStringLen(strText.c_str(), static_cast<UINT>(strText.size()));
    return *pbstr ? S_OK : E_OUTOFMEMORY;
}

std::wstring WindowText(HWND hWnd)
{
    int nLen = ::GetWindowTextLengthW(hWnd);
    if (nLen <= 0)
        return std::wstring();
    std::wstring strText(static_cast<size_t>(nLen) + 1, L'\0');
    int nGot = ::GetWindowTextW(hWnd, &strText[0], nLen + 1);
    strText.resize(static_cast<size_t>(std::max(nGot, 0)));
    return strText;
}

}  // namespace

// ---- What the window shows a reader ----

std::vector<CDUIControl*> CDirectUI::ReadableControls() const
{
    std::vector<CDUIControl*> vecCtrls;
    for (const auto& pCtrl : m_vecCtrls) {
        const CCtrlTemplate& state = pCtrl->m_state;
        if (state.eKind == EDuiKind::Form || !IsShown(pCtrl.get()))
            continue;
        // A bare coloured band says nothing.
        if (state.eKind == EDuiKind::Static && AccName(*pCtrl).empty())
            continue;
        vecCtrls.push_back(pCtrl.get());
    }
    return vecCtrls;
}

LONG CDirectUI::ChildIdOf(const CDUIControl* pCtrl) const
{
    std::vector<CDUIControl*> vecCtrls = ReadableControls();
    auto it = std::find(vecCtrls.begin(), vecCtrls.end(), pCtrl);
    return it == vecCtrls.end() ? 0 : static_cast<LONG>(it - vecCtrls.begin()) + 1;
}

CDUIControl* CDirectUI::ControlOfChildId(LONG lChild) const
{
    std::vector<CDUIControl*> vecCtrls = ReadableControls();
    if (lChild < 1 || static_cast<size_t>(lChild) > vecCtrls.size())
        return nullptr;
    return vecCtrls[static_cast<size_t>(lChild) - 1];
}

std::wstring CDirectUI::AccName(const CDUIControl& ctrl) const
{
    const CCtrlTemplate& state = ctrl.m_state;
    if (!state.strLabel.empty())
        return state.strLabel;
    if (state.eKind == EDuiKind::Title && m_hWnd) {
        std::wstring strTitle = WindowText(m_hWnd);
        if (!strTitle.empty())
            return strTitle;
    }
    return state.strText;
}

LONG CDirectUI::AccRole(const CDUIControl& ctrl) const
{
    switch (ctrl.m_state.eKind) {
    case EDuiKind::Button:
        return ROLE_SYSTEM_PUSHBUTTON;
    case EDuiKind::CheckBox:
        return ROLE_SYSTEM_CHECKBUTTON;
    case EDuiKind::Picture:
        return ROLE_SYSTEM_GRAPHIC;
    case EDuiKind::Progress:
        return ROLE_SYSTEM_PROGRESSBAR;
    case EDuiKind::Animate:
        return ROLE_SYSTEM_ANIMATION;
    case EDuiKind::Form:
        return ROLE_SYSTEM_GROUPING;
    default:
        return ROLE_SYSTEM_STATICTEXT;
    }
}

LONG CDirectUI::AccState(const CDUIControl& ctrl) const
{
    LONG lState = 0;
    const CCtrlTemplate& state = ctrl.m_state;
    if (!IsShown(&ctrl) || !m_hWnd || !::IsWindowVisible(m_hWnd))
        lState |= STATE_SYSTEM_INVISIBLE;
    if (m_hWnd && !::IsWindowEnabled(m_hWnd))
        lState |= STATE_SYSTEM_UNAVAILABLE;
    if (IsFocusable(&ctrl)) {
        lState |= STATE_SYSTEM_FOCUSABLE;
        if (&ctrl == FocusedControl() && m_hWnd && ::GetFocus() == m_hWnd)
            lState |= STATE_SYSTEM_FOCUSED;
    } else {
        lState |= STATE_SYSTEM_READONLY;
    }
    if (state.eKind == EDuiKind::CheckBox && state.bChecked)
        lState |= STATE_SYSTEM_CHECKED;
    if (state.bDefault)
        lState |= STATE_SYSTEM_DEFAULT;
    if (m_pHover == &ctrl)
        lState |= STATE_SYSTEM_HOTTRACKED;
    if (m_pPressed == &ctrl && m_pHover == &ctrl)
        lState |= STATE_SYSTEM_PRESSED;
    if (state.eKind == EDuiKind::Animate)
        lState |= STATE_SYSTEM_ANIMATED | STATE_SYSTEM_BUSY;
    return lState;
}

// ---- The accessible object ----

namespace {

// The control a reader names; null with S_OK for the client area itself.
HRESULT Resolve(CDirectUI* pOwner, const VARIANT& varChild, CDUIControl** ppCtrl)
{
    *ppCtrl = nullptr;
    if (!pOwner || !pOwner->Window())
        return RPC_E_DISCONNECTED;
    if (varChild.vt != VT_I4)
        return E_INVALIDARG;
    if (varChild.lVal == CHILDID_SELF)
        return S_OK;
    *ppCtrl = pOwner->ControlOfChildId(varChild.lVal);
    return *ppCtrl ? S_OK : E_INVALIDARG;
}

}  // namespace

HRESULT CDUIAccessible::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IAccessible) {
        *ppv = static_cast<IAccessible*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CDUIAccessible::AddRef()
{
    return static_cast<ULONG>(::InterlockedIncrement(&m_lRefs));
}

ULONG CDUIAccessible::Release()
{
    LONG lRefs = ::InterlockedDecrement(&m_lRefs);
    if (lRefs == 0)
        delete this;
    return static_cast<ULONG>(lRefs);
}

HRESULT CDUIAccessible::GetTypeInfoCount(UINT* pcTypeInfo)
{
    if (!pcTypeInfo)
        return E_POINTER;
    *pcTypeInfo = 0;
    return S_OK;
}

HRESULT CDUIAccessible::get_accParent(IDispatch** ppdispParent)
{
    return Guarded([&]() -> HRESULT {
        if (!ppdispParent)
            return E_POINTER;
        *ppdispParent = nullptr;
        if (!m_pOwner || !m_pOwner->Window())
            return RPC_E_DISCONNECTED;
        return ::CreateStdAccessibleObject(m_pOwner->Window(), OBJID_WINDOW, IID_IDispatch,
                                           reinterpret_cast<void**>(ppdispParent));
    });
}

HRESULT CDUIAccessible::get_accChildCount(long* pcountChildren)
{
    return Guarded([&]() -> HRESULT {
        if (!pcountChildren)
            return E_POINTER;
        *pcountChildren = 0;
        if (!m_pOwner || !m_pOwner->Window())
            return RPC_E_DISCONNECTED;
        *pcountChildren = static_cast<long>(m_pOwner->ReadableControls().size());
        return S_OK;
    });
}

HRESULT CDUIAccessible::get_accChild(VARIANT varChild, IDispatch** ppdispChild)
{
    return Guarded([&]() -> HRESULT {
        if (!ppdispChild)
            return E_POINTER;
        *ppdispChild = nullptr;
        CDUIControl* pCtrl = nullptr;
        HRESULT hr = Resolve(m_pOwner, varChild, &pCtrl);
        if (FAILED(hr))
            return hr;
        // The controls are simple elements of this object, not objects.
        return S_FALSE;
    });
}

HRESULT CDUIAccessible::get_accName(VARIANT varChild, BSTR* pszName)
{
    return Guarded([&]() -> HRESULT {
        if (!pszName)
            return E_POINTER;
        *pszName = nullptr;
        CDUIControl* pCtrl = nullptr;
        HRESULT hr = Resolve(m_pOwner, varChild, &pCtrl);
        if (FAILED(hr))
            return hr;
        return ReturnText(pCtrl ? m_pOwner->AccName(*pCtrl) : WindowText(m_pOwner->Window()), pszName);
    });
}

HRESULT CDUIAccessible::get_accValue(VARIANT varChild, BSTR* pszValue)
{
    return Guarded([&]() -> HRESULT {
        if (!pszValue)
            return E_POINTER;
        *pszValue = nullptr;
        CDUIControl* pCtrl = nullptr;
        HRESULT hr = Resolve(m_pOwner, varChild, &pCtrl);
        if (FAILED(hr))
            return hr;
        if (!pCtrl || pCtrl->m_state.eKind != EDuiKind::Progress)
            return S_FALSE;
        // As the bar draws it: a position past the end shows a full bar.
        LONG lPos = std::max<LONG>(0, std::min<LONG>(100, pCtrl->m_state.lPos));
        return ReturnText(std::to_wstring(lPos) + L"%", pszValue);
    });
}

HRESULT CDUIAccessible::get_accDescription(VARIANT varChild, BSTR* pszDescription)
{
    return Guarded([&]() -> HRESULT {
        if (!pszDescription)
            return E_POINTER;
        *pszDescription = nullptr;
        CDUIControl* pCtrl = nullptr;
        HRESULT hr = Resolve(m_pOwner, varChild, &pCtrl);
        return FAILED(hr) ? hr : S_FALSE;
    });
}

HRESULT CDUIAccessible::get_accRole(VARIANT varChild, VARIANT* pvarRole)
{
    return Guarded([&]() -> HRESULT {
        if (!pvarRole)
            return E_POINTER;
        ::VariantInit(pvarRole);
        CDUIControl* pCtrl = nullptr;
        HRESULT hr = Resolve(m_pOwner, varChild, &pCtrl);
        if (FAILED(hr))
            return hr;
        pvarRole->vt = VT_I4;
        pvarRole->lVal = pCtrl ? m_pOwner->AccRole(*pCtrl) : ROLE_SYSTEM_CLIENT;
        return S_OK;
    });
}

HRESULT CDUIAccessible::get_accState(VARIANT varChild, VARIANT* pvarState)
{
    return Guarded([&]() -> HRESULT {
        if (!pvarState)
            return E_POINTER;
        ::VariantInit(pvarState);
        CDUIControl* pCtrl = nullptr;
        HRESULT hr = Resolve(m_pOwner, varChild, &pCtrl);
        if (FAILED(hr))
            return hr;
        pvarState->vt = VT_I4;
        if (pCtrl) {
            pvarState->lVal = m_pOwner->AccState(*pCtrl);
        } else {
            HWND hWnd = m_pOwner->Window();
            pvarState->lVal = STATE_SYSTEM_FOCUSABLE | (::GetFocus() == hWnd ? STATE_SYSTEM_FOCUSED : 0) |
                              (::IsWindowVisible(hWnd) ? 0 : STATE_SYSTEM_INVISIBLE);
        }
        return S_OK;
    });
}

HRESULT CDUIAccessible::get_accHelp(VARIANT varChild, BSTR* pszHelp)
{
    return get_accDescription(varChild, pszHelp);
}

HRESULT CDUIAccessible::get_accHelpTopic(BSTR* pszHelpFile, VARIANT, long* pidTopic)
{
    if (pszHelpFile)
        *pszHelpFile = nullptr;
    if (pidTopic)
        *pidTopic = 0;
    return S_FALSE;
}

HRESULT CDUIAccessible::get_accKeyboardShortcut(VARIANT varChild, BSTR* pszKeyboardShortcut)
{
    return Guarded([&]() -> HRESULT {
        if (!pszKeyboardShortcut)
            return E_POINTER;
        *pszKeyboardShortcut = nullptr;
        CDUIControl* pCtrl = nullptr;
        HRESULT hr = Resolve(m_pOwner, varChild, &pCtrl);
        if (FAILED(hr))
            return hr;
        if (pCtrl && pCtrl->m_state.look.eGlyph == EDuiGlyph::Close)
            return ReturnText(L"Esc", pszKeyboardShortcut);
        if (pCtrl && pCtrl->m_state.bDefault)
            return ReturnText(L"Enter", pszKeyboardShortcut);
        return S_FALSE;
    });
}

HRESULT CDUIAccessible::get_accFocus(VARIANT* pvarChild)
{
    return Guarded([&]() -> HRESULT {
        if (!pvarChild)
            return E_POINTER;
        ::VariantInit(pvarChild);
        if (!m_pOwner || !m_pOwner->Window())
            return RPC_E_DISCONNECTED;
        if (::GetFocus() != m_pOwner->Window())
            return S_FALSE;
        LONG lChild = m_pOwner->ChildIdOf(m_pOwner->FocusedControl());
        pvarChild->vt = VT_I4;
        pvarChild->lVal = lChild > 0 ? lChild : CHILDID_SELF;
        return S_OK;
    });
}

HRESULT CDUIAccessible::get_accSelection(VARIANT* pvarChildren)
{
    if (!pvarChildren)
        return E_POINTER;
    ::VariantInit(pvarChildren);
    return S_FALSE;
}

HRESULT CDUIAccessible::get_accDefaultAction(VARIANT varChild, BSTR* pszDefaultAction)
{
    return Guarded([&]() -> HRESULT {
        if (!pszDefaultAction)
            return E_POINTER;
        *pszDefaultAction = nullptr;
        CDUIControl* pCtrl = nullptr;
        HRESULT hr = Resolve(m_pOwner, varChild, &pCtrl);
        if (FAILED(hr))
            return hr;
        if (!pCtrl)
            return S_FALSE;
        switch (pCtrl->m_state.eKind) {
        case EDuiKind::Button:
            return ReturnText(L"按下", pszDefaultAction);
        case EDuiKind::CheckBox:
            return ReturnText(pCtrl->m_state.bChecked ? L"取消选中" : L"选中", pszDefaultAction);
        case EDuiKind::Picture:
            return ReturnText(L"单击", pszDefaultAction);
        default:
            return S_FALSE;
        }
    });
}

HRESULT CDUIAccessible::accSelect(long flagsSelect, VARIANT varChild)
{
    return Guarded([&]() -> HRESULT {
        CDUIControl* pCtrl = nullptr;
        HRESULT hr = Resolve(m_pOwner, varChild, &pCtrl);
        if (FAILED(hr))
            return hr;
        if (flagsSelect != SELFLAG_TAKEFOCUS)
            return E_INVALIDARG;
        ::SetFocus(m_pOwner->Window());
        if (pCtrl) {
            if (!(m_pOwner->AccState(*pCtrl) & STATE_SYSTEM_FOCUSABLE))
                return E_INVALIDARG;
            m_pOwner->TakeFocus(pCtrl);
        }
        return S_OK;
    });
}

HRESULT CDUIAccessible::accLocation(long* pxLeft, long* pyTop, long* pcxWidth, long* pcyHeight, VARIANT varChild)
{
    return Guarded([&]() -> HRESULT {
        if (!pxLeft || !pyTop || !pcxWidth || !pcyHeight)
            return E_POINTER;
        *pxLeft = *pyTop = *pcxWidth = *pcyHeight = 0;
        CDUIControl* pCtrl = nullptr;
        HRESULT hr = Resolve(m_pOwner, varChild, &pCtrl);
        if (FAILED(hr))
            return hr;
        HWND hWnd = m_pOwner->Window();
        RECT rc;
        if (pCtrl) {
            rc = m_pOwner->ScaleRect(pCtrl->m_state.rc);
        } else {
            ::GetClientRect(hWnd, &rc);
        }
        POINT pt = {rc.left, rc.top};
        ::ClientToScreen(hWnd, &pt);
        *pxLeft = pt.x;
        *pyTop = pt.y;
        *pcxWidth = rc.right - rc.left;
        *pcyHeight = rc.bottom - rc.top;
        return S_OK;
    });
}

HRESULT CDUIAccessible::accNavigate(long navDir, VARIANT varStart, VARIANT* pvarEndUpAt)
{
    return Guarded([&]() -> HRESULT {
        if (!pvarEndUpAt)
            return E_POINTER;
        ::VariantInit(pvarEndUpAt);
        CDUIControl* pCtrl = nullptr;
        HRESULT hr = Resolve(m_pOwner, varStart, &pCtrl);
        if (FAILED(hr))
            return hr;
        LONG lCount = static_cast<LONG>(m_pOwner->ReadableControls().size());
        LONG lTo = 0;
        if (!pCtrl) {
            if (navDir == NAVDIR_FIRSTCHILD)
                lTo = lCount > 0 ? 1 : 0;
            else if (navDir == NAVDIR_LASTCHILD)
                lTo = lCount;
        } else {
            LONG lAt = varStart.lVal;
            if (navDir == NAVDIR_NEXT || navDir == NAVDIR_DOWN || navDir == NAVDIR_RIGHT)
                lTo = lAt < lCount ? lAt + 1 : 0;
            else if (navDir == NAVDIR_PREVIOUS || navDir == NAVDIR_UP || navDir == NAVDIR_LEFT)
                lTo = lAt > 1 ? lAt - 1 : 0;
        }
        if (lTo <= 0)
            return S_FALSE;
        pvarEndUpAt->vt = VT_I4;
        pvarEndUpAt->lVal = lTo;
        return S_OK;
    });
}

HRESULT CDUIAccessible::accHitTest(long xLeft, long yTop, VARIANT* pvarChild)
{
    return Guarded([&]() -> HRESULT {
        if (!pvarChild)
            return E_POINTER;
        ::VariantInit(pvarChild);
        if (!m_pOwner || !m_pOwner->Window())
            return RPC_E_DISCONNECTED;
        HWND hWnd = m_pOwner->Window();
        POINT pt = {xLeft, yTop};
        ::ScreenToClient(hWnd, &pt);
        RECT rcClient;
        ::GetClientRect(hWnd, &rcClient);
        if (!::PtInRect(&rcClient, pt))
            return S_FALSE;
        std::vector<CDUIControl*> vecCtrls = m_pOwner->ReadableControls();
        pvarChild->vt = VT_I4;
        pvarChild->lVal = CHILDID_SELF;
        // Topmost first, as they are drawn.
        for (size_t i = vecCtrls.size(); i-- > 0;) {
            RECT rc = m_pOwner->ScaleRect(vecCtrls[i]->m_state.rc);
            if (::PtInRect(&rc, pt)) {
                pvarChild->lVal = static_cast<LONG>(i) + 1;
                break;
            }
        }
        return S_OK;
    });
}

HRESULT CDUIAccessible::accDoDefaultAction(VARIANT varChild)
{
    return Guarded([&]() -> HRESULT {
        CDUIControl* pCtrl = nullptr;
        HRESULT hr = Resolve(m_pOwner, varChild, &pCtrl);
        if (FAILED(hr))
            return hr;
        return pCtrl && m_pOwner->Activate(pCtrl) ? S_OK : DISP_E_MEMBERNOTFOUND;
    });
}
