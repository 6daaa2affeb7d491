// Window layer: screen-reader access to a skinned window: the IAccessible of its client
// area, and what the window tells it about each control.
#include "VEXUI32/DUIAccess.h"

#include <algorithm>

#include "VEXUI32/DirectUI.h"

namespace {

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

LONG CDirectUI::AccWindowRole() const
{
    // A window the dialog manager runs is a dialog to a reader, whose
    // whole text it reads when the window comes up; the system's own client
    // object says so only for its dialog class.
    if (m_hWnd && ::GetWindowLongPtrW(m_hWnd, DWLP_DLGPROC) != 0)
        return ROLE_SYSTEM_DIALOG;
    wchar_t szClass[16] = {};
    if (m_hWnd && ::GetClassNameW(m_hWnd, szClass, 16) && std::wstring(szClass) == L"#32770")
        return ROLE_SYSTEM_DIALOG;
    return ROLE_SYSTEM_CLIENT;
}

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
    static const struct {
        EDuiKind eKind;
        LONG lRole;
    } kRoles[] = {
        {EDuiKind::Button, ROLE_SYSTEM_PUSHBUTTON}, {EDuiKind::CheckBox, ROLE_SYSTEM_CHECKBUTTON},
        {EDuiKind::Picture, ROLE_SYSTEM_GRAPHIC},   {EDuiKind::Progress, ROLE_SYSTEM_PROGRESSBAR},
        {EDuiKind::Animate, ROLE_SYSTEM_ANIMATION}, {EDuiKind::Form, ROLE_SYSTEM_GROUPING},
    };
    for (const auto& entry : kRoles) {
        if (entry.eKind == ctrl.m_state.eKind)
            return entry.lRole;
    }
    return ROLE_SYSTEM_STATICTEXT;  // static and title texts
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

// fn(control) for the element a reader names (null: the client area), with
// the reader's name checked first and nothing thrown back at the reader.
template <class Fn>
HRESULT OnChild(CDirectUI* pOwner, const VARIANT& varChild, Fn fn)
{
    return Guarded([&]() -> HRESULT {
        CDUIControl* pCtrl = nullptr;
        HRESULT hr = Resolve(pOwner, varChild, &pCtrl);
        return FAILED(hr) ? hr : fn(pCtrl);
    });
}

// fn() for the client area itself, once the window is known to be there.
template <class Fn>
HRESULT OnSelf(CDirectUI* pOwner, Fn fn)
{
    VARIANT varSelf;
    varSelf.vt = VT_I4;
    varSelf.lVal = CHILDID_SELF;
    return OnChild(pOwner, varSelf, [&](CDUIControl*) -> HRESULT { return fn(); });
}

// A text answer: fn(control) gives the text, empty for none.
template <class Fn>
HRESULT TextOfChild(CDirectUI* pOwner, const VARIANT& varChild, BSTR* pbstr, Fn fn)
{
    if (!pbstr)
        return E_POINTER;
    *pbstr = nullptr;
    return OnChild(pOwner, varChild, [&](CDUIControl* pCtrl) { return ReturnText(fn(pCtrl), pbstr); });
}

// A number answer in a VARIANT: fn(control) gives it.
template <class Fn>
HRESULT NumberOfChild(CDirectUI* pOwner, const VARIANT& varChild, VARIANT* pvar, Fn fn)
{
    if (!pvar)
        return E_POINTER;
    ::VariantInit(pvar);
    return OnChild(pOwner, varChild, [&](CDUIControl* pCtrl) -> HRESULT {
        pvar->vt = VT_I4;
        pvar->lVal = fn(pCtrl);
        return S_OK;
    });
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
    if (!ppdispParent)
        return E_POINTER;
    *ppdispParent = nullptr;
    return OnSelf(m_pOwner, [&]() {
        return ::CreateStdAccessibleObject(m_pOwner->Window(), OBJID_WINDOW, IID_IDispatch,
                                           reinterpret_cast<void**>(ppdispParent));
    });
}

HRESULT CDUIAccessible::get_accChildCount(long* pcountChildren)
{
    if (!pcountChildren)
        return E_POINTER;
    *pcountChildren = 0;
    return OnSelf(m_pOwner, [&]() -> HRESULT {
        *pcountChildren = static_cast<long>(m_pOwner->ReadableControls().size());
        return S_OK;
    });
}

HRESULT CDUIAccessible::get_accChild(VARIANT varChild, IDispatch** ppdispChild)
{
    if (!ppdispChild)
        return E_POINTER;
    *ppdispChild = nullptr;
    // The controls are simple elements of this object, not objects.
    return OnChild(m_pOwner, varChild, [](CDUIControl*) -> HRESULT { return S_FALSE; });
}

HRESULT CDUIAccessible::get_accName(VARIANT varChild, BSTR* pszName)
{
    return TextOfChild(m_pOwner, varChild, pszName, [&](CDUIControl* pCtrl) {
        return pCtrl ? m_pOwner->AccName(*pCtrl) : WindowText(m_pOwner->Window());
    });
}

HRESULT CDUIAccessible::get_accValue(VARIANT varChild, BSTR* pszValue)
{
    return TextOfChild(m_pOwner, varChild, pszValue, [](CDUIControl* pCtrl) {
        if (!pCtrl || pCtrl->m_state.eKind != EDuiKind::Progress)
            return std::wstring();
        // As the bar draws it: a position past the end shows a full bar.
        LONG lPos = std::max<LONG>(0, std::min<LONG>(100, pCtrl->m_state.lPos));
        return std::to_wstring(lPos) + L"%";
    });
}

HRESULT CDUIAccessible::get_accDescription(VARIANT varChild, BSTR* pszDescription)
{
    return TextOfChild(m_pOwner, varChild, pszDescription, [](CDUIControl*) { return std::wstring(); });
}

HRESULT CDUIAccessible::get_accRole(VARIANT varChild, VARIANT* pvarRole)
{
    return NumberOfChild(m_pOwner, varChild, pvarRole, [&](CDUIControl* pCtrl) -> LONG {
        return pCtrl ? m_pOwner->AccRole(*pCtrl) : m_pOwner->AccWindowRole();
    });
}

HRESULT CDUIAccessible::get_accState(VARIANT varChild, VARIANT* pvarState)
{
    return NumberOfChild(m_pOwner, varChild, pvarState, [&](CDUIControl* pCtrl) -> LONG {
        if (pCtrl)
            return m_pOwner->AccState(*pCtrl);
        HWND hWnd = m_pOwner->Window();
        return STATE_SYSTEM_FOCUSABLE | (::GetFocus() == hWnd ? STATE_SYSTEM_FOCUSED : 0) |
               (::IsWindowVisible(hWnd) ? 0 : STATE_SYSTEM_INVISIBLE);
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
    return TextOfChild(m_pOwner, varChild, pszKeyboardShortcut, [](CDUIControl* pCtrl) {
        if (pCtrl && pCtrl->m_state.look.eGlyph == EDuiGlyph::Close)
            return std::wstring(L"Esc");
        return std::wstring(pCtrl && pCtrl->m_state.bDefault ? L"Enter" : L"");
    });
}

HRESULT CDUIAccessible::get_accFocus(VARIANT* pvarChild)
{
    if (!pvarChild)
        return E_POINTER;
    ::VariantInit(pvarChild);
    return OnSelf(m_pOwner, [&]() -> HRESULT {
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
    return TextOfChild(m_pOwner, varChild, pszDefaultAction, [](CDUIControl* pCtrl) {
        switch (pCtrl ? pCtrl->m_state.eKind : EDuiKind::Form) {
        case EDuiKind::Button:
            return std::wstring(L"按下");
        case EDuiKind::CheckBox:
            return std::wstring(pCtrl->m_state.bChecked ? L"取消选中" : L"选中");
        case EDuiKind::Picture:
            return std::wstring(L"单击");
        default:
            return std::wstring();
        }
    });
}

HRESULT CDUIAccessible::accSelect(long flagsSelect, VARIANT varChild)
{
    return OnChild(m_pOwner, varChild, [&](CDUIControl* pCtrl) -> HRESULT {
        if (flagsSelect != SELFLAG_TAKEFOCUS)
            return E_INVALIDARG;
        if (pCtrl && !(m_pOwner->AccState(*pCtrl) & STATE_SYSTEM_FOCUSABLE))
            return E_INVALIDARG;
        ::SetFocus(m_pOwner->Window());
        if (pCtrl)
            m_pOwner->TakeFocus(pCtrl);
        return S_OK;
    });
}

HRESULT CDUIAccessible::accLocation(long* pxLeft, long* pyTop, long* pcxWidth, long* pcyHeight, VARIANT varChild)
{
    if (!pxLeft || !pyTop || !pcxWidth || !pcyHeight)
        return E_POINTER;
    *pxLeft = *pyTop = *pcxWidth = *pcyHeight = 0;
    return OnChild(m_pOwner, varChild, [&](CDUIControl* pCtrl) -> HRESULT {
        HWND hWnd = m_pOwner->Window();
        RECT rc;
        if (pCtrl)
            rc = m_pOwner->ScaleRect(pCtrl->m_state.rc);
        else
            ::GetClientRect(hWnd, &rc);
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
    if (!pvarEndUpAt)
        return E_POINTER;
    ::VariantInit(pvarEndUpAt);
    return OnChild(m_pOwner, varStart, [&](CDUIControl* pCtrl) -> HRESULT {
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
    if (!pvarChild)
        return E_POINTER;
    ::VariantInit(pvarChild);
    return OnSelf(m_pOwner, [&]() -> HRESULT {
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
    return OnChild(m_pOwner, varChild, [&](CDUIControl* pCtrl) -> HRESULT {
        return pCtrl && m_pOwner->Activate(pCtrl) ? S_OK : DISP_E_MEMBERNOTFOUND;
    });
}
