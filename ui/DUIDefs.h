// The skin library's interface as the program uses it: exported functions,
// object operations and the control record. VEXUI32.dll implements it.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <stddef.h>

#ifdef VEXUI32_EXPORTS
#define VEXUI_API extern "C" __declspec(dllexport)
#else
#define VEXUI_API extern "C" __declspec(dllimport)
#endif

// Exports and object operations are standard-call, the object first.
#define DUIAPI __stdcall

// Sent by the library to a skinned window when the user clicks a button,
// check box or picture; wParam is that control's DUI_CTRLBASE address.
#define WM_DUI_CLICK (WM_USER + 4)

// Values the program passes unchanged.
enum : LONG {
    DUI_CTRLTYPE_ANY = 90000,  // GetCtrl: any kind of control
    DUI_RESKIND_IMAGE = 101,   // GetResource: a named picture
};

struct IDUIPicture;  // opaque: a named picture of the skin

// A rectangle in window pixels. Objects handed out by the library are owned
// by it; the program never releases them.
struct IDUIRect {
    virtual HRESULT DUIAPI get_Left(LONG* plValue) = 0;
    virtual HRESULT DUIAPI put_Left(LONG lValue) = 0;
    virtual HRESULT DUIAPI get_Right(LONG* plValue) = 0;
    virtual HRESULT DUIAPI put_Right(LONG lValue) = 0;
    virtual HRESULT DUIAPI get_Top(LONG* plValue) = 0;
    virtual HRESULT DUIAPI put_Top(LONG lValue) = 0;
    virtual HRESULT DUIAPI put_Bottom(LONG lValue) = 0;
    virtual HRESULT DUIAPI get_Width(LONG* plValue) = 0;
    virtual HRESULT DUIAPI get_Height(LONG* plValue) = 0;
};

// Operations on a control. BindCtrl(hCtrl) precedes every other operation and
// selects the control that the following calls act on.
struct IDUICtrl {
    // (-1, -1, 0) shows, (0, 0, 0) hides.
    virtual HRESULT DUIAPI SetVisible(VARIANT_BOOL bVisible, VARIANT_BOOL bRepaint, LONG lReserved) = 0;
    virtual HRESULT DUIAPI GetRect(IDUIRect** ppRect) = 0;
    virtual HRESULT DUIAPI SetRect(IDUIRect* pRect) = 0;
    virtual HRESULT DUIAPI GetVisible(VARIANT_BOOL* pbVisible) = 0;
    virtual HRESULT DUIAPI BindCtrl(LONG hCtrl) = 0;
    virtual HRESULT DUIAPI SetText(BSTR bstrText) = 0;
    virtual HRESULT DUIAPI SetPos(LONG lPos, LONG* plOldPos) = 0;
    virtual HRESULT DUIAPI SetImage(IDUIPicture* pPicture, LONG lIndex, VARIANT_BOOL* pbDone) = 0;
    virtual HRESULT DUIAPI GetCheck(LONG* plCheck) = 0;
    virtual HRESULT DUIAPI SetTextStyle(LONG lColor, LONG lFontSize, LONG lBold, LONG lItalic, LONG lWrapWidth) = 0;
};

// A layout attached to one window.
struct IDirectUI {
    // *plCtrl is 0 when the layout has no such control; else a value for GetCtrlBase.
    virtual HRESULT DUIAPI GetCtrl(LONG lType, BSTR bstrName, VARIANT_BOOL bDeep, LONG* plCtrl) = 0;
};

// The loaded skin, one per process.
struct IDUIRes {
    virtual HRESULT DUIAPI CreateDirectUI(BSTR bstrLayout, HWND hWnd, IDirectUI** ppDirectUI) = 0;
    virtual HRESULT DUIAPI GetResource(LONG lKind, BSTR bstrName, LONG lReserved, VARIANT_BOOL bShared,
                                       IDUIPicture** ppPicture) = 0;
};

// Identifies one control; its address is the control's identity in lookups
// and click notifications.
struct DUI_CTRLBASE {
    DWORD dwLibrary;  // the library's own
    LONG hCtrl;       // handle for BindCtrl
    IDUICtrl* pCtrl;  // operations
};
static_assert(offsetof(DUI_CTRLBASE, hCtrl) == 4, "hCtrl is read at offset 4");
static_assert(offsetof(DUI_CTRLBASE, pCtrl) == 8, "pCtrl is read at offset 8");

VEXUI_API IDUIRes* DUIAPI OpenSkinW(LPCWSTR pszLayoutFile, LPCWSTR pszSkinFile, LONG lReserved1, LONG lReserved2,
                                    LONG lReserved3);
VEXUI_API HRESULT DUIAPI FreeSkin(void);
VEXUI_API DUI_CTRLBASE* DUIAPI GetCtrlBase(LONG lCtrl);
