// The program's thin layer over the skin library. Every helper accepts a null
// object or record and then does nothing, so a control missing from a skin
// can never crash the program; a BSTR that cannot be made fails the call.
#pragma once

#include "ui/DUIDefs.h"

#include <string>

IDirectUI* AttachSkinWindow(IDUIRes* pDUIRes, LPCWSTR pszLayout, HWND hWnd);
DUI_CTRLBASE* FindSkinCtrl(IDirectUI* pDirectUI, LPCWSTR pszName, bool bDeep);
IDUIPicture* LoadSkinImage(IDUIRes* pDUIRes, LPCWSTR pszName, LONG lReserved, bool bShared);
void SetCtrlText(DUI_CTRLBASE* pCtrl, LPCWSTR pszText);
bool SetCtrlImage(DUI_CTRLBASE* pCtrl, IDUIPicture* pPicture);

// The other operations, each issued as BindCtrl(hCtrl) and then the operation.
void SetCtrlVisible(DUI_CTRLBASE* pCtrl, bool bVisible);
bool GetCtrlVisible(DUI_CTRLBASE* pCtrl);
void SetCtrlPos(DUI_CTRLBASE* pCtrl, LONG lPos);
LONG GetCtrlCheck(DUI_CTRLBASE* pCtrl);
void SetCtrlTextStyle(DUI_CTRLBASE* pCtrl, LONG lColor, LONG lFontSize, LONG lBold, LONG lItalic, LONG lWrapWidth);
// The control's rectangle object (owned by the library), or null.
IDUIRect* GetCtrlRect(DUI_CTRLBASE* pCtrl);
void SetCtrlRect(DUI_CTRLBASE* pCtrl, IDUIRect* pRect);

// Why the skin library's last call failed, when the library can tell (ours
// can; the client's own cannot): empty otherwise.
std::wstring SkinLastError();
