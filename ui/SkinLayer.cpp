#include "ui/SkinLayer.h"

#include "VEXUI32/VEXUI32.h"
#include "win/Handles.h"
#include "win/ModuleExport.h"

namespace {

// A BSTR made for one call and freed right after it. When it cannot be made
// the call is skipped: running out of memory there must not take the program
// down with an exception nobody catches.
CBstr CallBstr(LPCWSTR pszText)
{
    return CBstr(::SysAllocString(pszText ? pszText : L""));
}

// The operations interface bound to the record's control, or null when there
// is no control to act on.
IDUICtrl* BindRecord(DUI_CTRLBASE* pCtrl)
{
    if (!pCtrl || !pCtrl->pCtrl)
        return nullptr;
    pCtrl->pCtrl->BindCtrl(pCtrl->hCtrl);
    return pCtrl->pCtrl;
}

}  // namespace

IDirectUI* AttachSkinWindow(IDUIRes* pDUIRes, LPCWSTR pszLayout, HWND hWnd)
{
    if (!pDUIRes || !pszLayout)
        return nullptr;
    const CBstr bstrLayout = CallBstr(pszLayout);
    if (!bstrLayout.IsValid())
        return nullptr;
    IDirectUI* pDirectUI = nullptr;
    pDUIRes->CreateDirectUI(bstrLayout.Get(), hWnd, &pDirectUI);
    return pDirectUI;
}

DUI_CTRLBASE* FindSkinCtrl(IDirectUI* pDirectUI, LPCWSTR pszName, bool bDeep)
{
    if (!pDirectUI || !pszName)
        return nullptr;
    const CBstr bstrName = CallBstr(pszName);
    if (!bstrName.IsValid())
        return nullptr;
    LONG lCtrl = 0;
    pDirectUI->GetCtrl(DUI_CTRLTYPE_ANY, bstrName.Get(), bDeep ? VARIANT_TRUE : VARIANT_FALSE, &lCtrl);
    return lCtrl ? GetCtrlBase(lCtrl) : nullptr;
}

IDUIPicture* LoadSkinImage(IDUIRes* pDUIRes, LPCWSTR pszName, LONG lReserved, bool bShared)
{
    if (!pDUIRes || !pszName)
        return nullptr;
    const CBstr bstrName = CallBstr(pszName);
    if (!bstrName.IsValid())
        return nullptr;
    IDUIPicture* pPicture = nullptr;
    pDUIRes->GetResource(DUI_RESKIND_IMAGE, bstrName.Get(), lReserved, bShared ? VARIANT_TRUE : VARIANT_FALSE,
                         &pPicture);
    return pPicture;
}

void SetCtrlText(DUI_CTRLBASE* pCtrl, LPCWSTR pszText)
{
    IDUICtrl* pOps = BindRecord(pCtrl);
    if (!pOps)
        return;
    const CBstr bstrText = CallBstr(pszText);
    if (bstrText.IsValid())
        pOps->SetText(bstrText.Get());
}

bool SetCtrlImage(DUI_CTRLBASE* pCtrl, IDUIPicture* pPicture)
{
    IDUICtrl* pOps = BindRecord(pCtrl);
    if (!pOps)
        return false;
    VARIANT_BOOL bDone = VARIANT_FALSE;
    pOps->SetImage(pPicture, -1, &bDone);
    return bDone != VARIANT_FALSE;
}

void SetCtrlVisible(DUI_CTRLBASE* pCtrl, bool bVisible)
{
    if (IDUICtrl* pOps = BindRecord(pCtrl)) {
        if (bVisible)
            pOps->SetVisible(VARIANT_TRUE, VARIANT_TRUE, 0);
        else
            pOps->SetVisible(VARIANT_FALSE, VARIANT_FALSE, 0);
    }
}

bool GetCtrlVisible(DUI_CTRLBASE* pCtrl)
{
    IDUICtrl* pOps = BindRecord(pCtrl);
    if (!pOps)
        return false;
    VARIANT_BOOL bVisible = VARIANT_FALSE;
    pOps->GetVisible(&bVisible);
    return bVisible != VARIANT_FALSE;
}

void SetCtrlPos(DUI_CTRLBASE* pCtrl, LONG lPos)
{
    if (IDUICtrl* pOps = BindRecord(pCtrl)) {
        LONG lOldPos = 0;
        pOps->SetPos(lPos, &lOldPos);
    }
}

LONG GetCtrlCheck(DUI_CTRLBASE* pCtrl)
{
    IDUICtrl* pOps = BindRecord(pCtrl);
    if (!pOps)
        return 0;
    LONG lCheck = 0;
    pOps->GetCheck(&lCheck);
    return lCheck;
}

void SetCtrlTextStyle(DUI_CTRLBASE* pCtrl, LONG lColor, LONG lFontSize, LONG lBold, LONG lItalic, LONG lWrapWidth)
{
    if (IDUICtrl* pOps = BindRecord(pCtrl))
        pOps->SetTextStyle(lColor, lFontSize, lBold, lItalic, lWrapWidth);
}

IDUIRect* GetCtrlRect(DUI_CTRLBASE* pCtrl)
{
    IDUICtrl* pOps = BindRecord(pCtrl);
    if (!pOps)
        return nullptr;
    IDUIRect* pRect = nullptr;
    pOps->GetRect(&pRect);
    return pRect;
}

void SetCtrlRect(DUI_CTRLBASE* pCtrl, IDUIRect* pRect)
{
    if (!pRect)
        return;
    if (IDUICtrl* pOps = BindRecord(pCtrl))
        pOps->SetRect(pRect);
}

std::wstring SkinLastError()
{
    const auto pfnLastError =
        ModuleExport<PFN_VEXUI_GET_SKIN_LAST_ERROR>(VEXUI_LIBRARY_NAME, VEXUI_SKIN_LAST_ERROR_NAME);
    if (!pfnLastError)
        return std::wstring();
    wchar_t szReason[512] = {};
    pfnLastError(szReason, ARRAYSIZE(szReason));
    return szReason;
}
