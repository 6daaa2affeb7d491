// Window layer: the open skin with the windows it is attached to. It hands out
// the layouts (CreateDirectUI) and the handles of their controls, and owns
// every object the library gives the program until FreeSkin.
#pragma once

#include "VEXUI32/SkinRes.h"

class CDirectUI;
class CDUIControl;

class CSkinUI : public CSkinRes {
public:
    CSkinUI() = default;
    ~CSkinUI() override;

    HRESULT DUIAPI CreateDirectUI(BSTR bstrLayout, HWND hWnd, IDirectUI** ppDirectUI) override;

    LONG RegisterControl(CDUIControl* pCtrl);
    CDUIControl* FindControl(LONG hCtrl) const;
    // The attached layout of a live window, or null.
    CDirectUI* FindWindowUI(HWND hWnd) const;

private:
    std::vector<std::unique_ptr<CDirectUI>> m_vecWindows;
    std::map<LONG, CDUIControl*> m_mapControls;
    // Handles start high so that small integers (a stray 0, 1, TRUE) never
    // name a control.
    LONG m_lNextHandle = 0x51000;
};

// The skin of the process, or null while none is open.
CSkinUI* GetSkin();
