// A layout attached to one window: its controls, the subclassed window
// procedure, mouse handling and drawing.
#pragma once

#include "VEXUI32/SkinModel.h"

class CSkinRes;
class CDirectUI;

class CDUIRect : public IDUIRect {
public:
    explicit CDUIRect(const RECT& rc) : m_rc(rc) {}
    HRESULT DUIAPI get_Left(LONG* plValue) override;
    HRESULT DUIAPI put_Left(LONG lValue) override;
    HRESULT DUIAPI get_Right(LONG* plValue) override;
    HRESULT DUIAPI put_Right(LONG lValue) override;
    HRESULT DUIAPI get_Top(LONG* plValue) override;
    HRESULT DUIAPI put_Top(LONG lValue) override;
    HRESULT DUIAPI put_Bottom(LONG lValue) override;
    HRESULT DUIAPI get_Width(LONG* plValue) override;
    HRESULT DUIAPI get_Height(LONG* plValue) override;

    RECT m_rc;
};

class CDUIControl : public IDUICtrl {
public:
    CDUIControl(CDirectUI* pOwner, const CCtrlTemplate& def, LONG hCtrl);

    HRESULT DUIAPI SetVisible(VARIANT_BOOL bVisible, VARIANT_BOOL bRepaint, LONG lReserved) override;
    HRESULT DUIAPI GetRect(IDUIRect** ppRect) override;
    HRESULT DUIAPI SetRect(IDUIRect* pRect) override;
    HRESULT DUIAPI GetVisible(VARIANT_BOOL* pbVisible) override;
    HRESULT DUIAPI BindCtrl(LONG hCtrl) override;
    HRESULT DUIAPI SetText(BSTR bstrText) override;
    HRESULT DUIAPI SetPos(LONG lPos, LONG* plOldPos) override;
    HRESULT DUIAPI SetImage(IDUIPicture* pPicture, LONG lIndex, VARIANT_BOOL* pbDone) override;
    HRESULT DUIAPI GetCheck(LONG* plCheck) override;
    HRESULT DUIAPI SetTextStyle(LONG lColor, LONG lFontSize, LONG lBold, LONG lItalic, LONG lWrapWidth) override;

    DUI_CTRLBASE m_base;           // its address is the control's identity
    CDirectUI* m_pOwner;
    CCtrlTemplate m_state;         // the template's values, changed at run time
    IDUIPicture* m_pPicture;
    LONG m_alTextStyle[5] = {};    // accepted and kept; the look stays the skin's
    bool m_bTextStyleSet = false;

private:
    CDUIControl* Bound() const { return m_pBound; }
    CDUIControl* m_pBound;         // the control BindCtrl selected
};

class CDirectUI : public IDirectUI {
public:
    CDirectUI(CSkinRes* pSkin, const CLayout& layout);
    ~CDirectUI();

    HRESULT DUIAPI GetCtrl(LONG lType, BSTR bstrName, VARIANT_BOOL bDeep, LONG* plCtrl) override;

    bool Attach(HWND hWnd, std::wstring& strError);
    // Gives the window back its previous procedure and drops what only a live
    // window needs; the controls stay valid until the skin is freed.
    void Detach();
    HWND Window() const { return m_hWnd; }

    // Shown: the control and every form around it are visible.
    bool IsShown(const CDUIControl* pCtrl) const;
    void Invalidate();
    void OnControlChanged(CDUIControl* pCtrl);
    CDUIRect* NewRect(const RECT& rc);

    static LRESULT CALLBACK SubclassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

private:
    LRESULT WndProc(WNDPROC pfnPrev, UINT message, WPARAM wParam, LPARAM lParam);
    CDUIControl* HitTest(POINT pt) const;
    bool IsClickable(const CDUIControl* pCtrl) const;
    void OnMouseMove(POINT pt);
    void OnSpinTick();
    void OnPaint();
    // DUIPaint.cpp
    void PaintAll(HDC hdc, int cx, int cy);
    void PaintControl(HDC hdc, const CDUIControl& ctrl);

    CSkinRes* m_pSkin;
    const CLayout& m_layout;
    HWND m_hWnd = nullptr;
    std::vector<std::unique_ptr<CDUIControl>> m_vecCtrls;
    std::vector<std::unique_ptr<CDUIRect>> m_vecRects;
    CDUIControl* m_pHover = nullptr;
    CDUIControl* m_pPressed = nullptr;
    bool m_bTrackingLeave = false;
    bool m_bHasSpinner = false;
    int m_nSpinAngle = 0;
};
