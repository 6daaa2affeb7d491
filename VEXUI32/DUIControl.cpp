// Window layer: operations on controls and rectangles as the program calls them. Each one
// catches everything: no exception may cross the library's boundary.
#include "VEXUI32/DirectUI.h"

#include <oleacc.h>

#include "VEXUI32/SkinUI.h"

namespace {

// Tags the record as ours; the program never reads it.
const DWORD kCtrlBaseTag = 0x56584342;

HRESULT ReturnValue(LONG* plValue, LONG lValue)
{
    if (!plValue)
        return E_POINTER;
    *plValue = lValue;
    return S_OK;
}

}  // namespace

HRESULT CDUIRect::get_Left(LONG* plValue)
{
    return ReturnValue(plValue, m_rc.left);
}

HRESULT CDUIRect::put_Left(LONG lValue)
{
    m_rc.left = lValue;
    return S_OK;
}

HRESULT CDUIRect::get_Right(LONG* plValue)
{
    return ReturnValue(plValue, m_rc.right);
}

HRESULT CDUIRect::put_Right(LONG lValue)
{
    m_rc.right = lValue;
    return S_OK;
}

HRESULT CDUIRect::get_Top(LONG* plValue)
{
    return ReturnValue(plValue, m_rc.top);
}

HRESULT CDUIRect::put_Top(LONG lValue)
{
    m_rc.top = lValue;
    return S_OK;
}

HRESULT CDUIRect::put_Bottom(LONG lValue)
{
    m_rc.bottom = lValue;
    return S_OK;
}

HRESULT CDUIRect::get_Width(LONG* plValue)
{
    return ReturnValue(plValue, m_rc.right - m_rc.left);
}

HRESULT CDUIRect::get_Height(LONG* plValue)
{
    return ReturnValue(plValue, m_rc.bottom - m_rc.top);
}

CDUIControl::CDUIControl(CDirectUI* pOwner, const CCtrlTemplate& def, LONG hCtrl)
    : m_pOwner(pOwner), m_state(def), m_pPicture(def.look.pImage), m_pBound(this)
{
    m_base.dwLibrary = kCtrlBaseTag;
    m_base.hCtrl = hCtrl;
    m_base.pCtrl = this;
}

HRESULT CDUIControl::BindCtrl(LONG hCtrl)
{
    CSkinUI* pSkin = GetSkin();
    CDUIControl* pTarget = pSkin ? pSkin->FindControl(hCtrl) : nullptr;
    if (!pTarget)
        return E_INVALIDARG;  // stays bound to what it was bound to
    m_pBound = pTarget;
    return S_OK;
}

HRESULT CDUIControl::SetVisible(VARIANT_BOOL bVisible, VARIANT_BOOL, LONG)
{
    CDUIControl* pCtrl = Bound();
    bool bShow = bVisible != VARIANT_FALSE;
    if (pCtrl->m_state.bVisible != bShow) {
        pCtrl->m_state.bVisible = bShow;
        pCtrl->m_pOwner->OnControlChanged(pCtrl, bShow ? EVENT_OBJECT_SHOW : EVENT_OBJECT_HIDE);
    }
    return S_OK;
}

HRESULT CDUIControl::GetVisible(VARIANT_BOOL* pbVisible)
{
    if (!pbVisible)
        return E_POINTER;
    CDUIControl* pCtrl = Bound();
    *pbVisible = pCtrl->m_pOwner->IsShown(pCtrl) ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT CDUIControl::GetRect(IDUIRect** ppRect)
{
    return Guarded([&]() -> HRESULT {
        if (!ppRect)
            return E_POINTER;
        *ppRect = nullptr;
        CDUIControl* pCtrl = Bound();
        // A fresh object per call: a caller may hold two rectangles of the
        // same control and change one before reading the other.
        *ppRect = pCtrl->m_pOwner->NewRect(pCtrl->m_state.rc);
        return S_OK;
    });
}

HRESULT CDUIControl::SetRect(IDUIRect* pRect)
{
    if (!pRect)
        return E_POINTER;
    // Read through the interface: any IDUIRect will do, not only ours.
    LONG lLeft = 0, lTop = 0, lRight = 0, lHeight = 0;
    if (FAILED(pRect->get_Left(&lLeft)) || FAILED(pRect->get_Top(&lTop)) || FAILED(pRect->get_Right(&lRight)) ||
        FAILED(pRect->get_Height(&lHeight)))
        return E_INVALIDARG;
    CDUIControl* pCtrl = Bound();
    const RECT rcNew = {lLeft, lTop, lRight, lTop + lHeight};
    const RECT rcBefore = pCtrl->m_state.rc;
    if (::EqualRect(&rcNew, &rcBefore))
        return S_OK;  // nothing to draw again
    pCtrl->m_state.rc = rcNew;
    pCtrl->m_pOwner->OnControlChanged(pCtrl, EVENT_OBJECT_LOCATIONCHANGE, &rcBefore);
    return S_OK;
}

HRESULT CDUIControl::SetText(BSTR bstrText)
{
    return Guarded([&]() -> HRESULT {
        CDUIControl* pCtrl = Bound();
        // A BSTR may carry its own length; stop at the first NUL as a window
        // text would.
        std::wstring strText = bstrText ? bstrText : L"";
        if (strText == pCtrl->m_state.strText)
            return S_OK;  // nothing to draw again, nothing to tell readers
        pCtrl->m_state.strText = strText;
        pCtrl->m_pOwner->OnControlChanged(pCtrl, EVENT_OBJECT_NAMECHANGE);
        return S_OK;
    });
}

HRESULT CDUIControl::SetPos(LONG lPos, LONG* plOldPos)
{
    CDUIControl* pCtrl = Bound();
    if (plOldPos)
        *plOldPos = pCtrl->m_state.lPos;
    // Kept as given (a download may report more than it announced); the
    // drawing clamps it to the bar.
    if (lPos == pCtrl->m_state.lPos)
        return S_OK;  // nothing to draw again, nothing to tell readers
    pCtrl->m_state.lPos = lPos;
    pCtrl->m_pOwner->OnControlChanged(pCtrl, EVENT_OBJECT_VALUECHANGE);
    return S_OK;
}

HRESULT CDUIControl::SetImage(IDUIPicture* pPicture, LONG, VARIANT_BOOL* pbDone)
{
    CSkinUI* pSkin = GetSkin();
    CDUIControl* pCtrl = Bound();
    bool bDone = pPicture && pSkin && pSkin->IsPicture(pPicture);
    if (bDone && pCtrl->m_pPicture != pPicture) {
        pCtrl->m_pPicture = pPicture;
        pCtrl->m_pOwner->OnControlChanged(pCtrl, 0);
    }
    if (pbDone)
        *pbDone = bDone ? VARIANT_TRUE : VARIANT_FALSE;
    return bDone ? S_OK : E_INVALIDARG;
}

HRESULT CDUIControl::GetCheck(LONG* plCheck)
{
    return ReturnValue(plCheck, Bound()->m_state.bChecked ? 1 : 0);
}

HRESULT CDUIControl::SetTextStyle(LONG lColor, LONG lFontSize, LONG lBold, LONG lItalic, LONG lWrapWidth)
{
    CDUIControl* pCtrl = Bound();
    const LONG alValues[5] = {lColor, lFontSize, lBold, lItalic, lWrapWidth};
    for (int i = 0; i < 5; ++i)
        pCtrl->m_alTextStyle[i] = alValues[i];
    pCtrl->m_bTextStyleSet = true;
    return S_OK;
}
