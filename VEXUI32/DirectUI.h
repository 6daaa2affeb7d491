// Window layer: a layout attached to one window: its controls, the subclassed
// window procedure, keyboard and mouse, what readers see, and what to draw
// (the paint layer draws it).
#pragma once

#include "VEXUI32/SkinPaint.h"

class CSkinUI;
class CDirectUI;
class CDUIAccessible;

// The previous window procedure lives on the window itself, not in our
// objects, so a window whose chain cannot be unwound (someone subclassed on
// top of us) keeps forwarding after the skin is freed.
const wchar_t kPrevProcProp[] = L"VEXUI32.PrevProc";

// Far above the program's own timer numbers.
const UINT_PTR kSpinTimerId = 0x5645;

// Runs an operation called from outside the library: nothing may unwind into
// the caller, and the one thing that throws here is an allocation.
template <class Fn>
HRESULT Guarded(Fn fn)
{
    try {
        return fn();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

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

    // The text as painted last time was cut to fit (its tooltip shows it whole).
    bool m_bTextCut = false;
    DUI_CTRLBASE m_base;  // its address is the control's identity
    CDirectUI* m_pOwner;
    CCtrlTemplate m_state;  // the template's values, changed at run time
    IDUIPicture* m_pPicture;
    LONG m_alTextStyle[5] = {};  // accepted and kept; the look stays the skin's
    bool m_bTextStyleSet = false;

private:
    CDUIControl* Bound() const { return m_pBound; }
    CDUIControl* m_pBound;  // the control BindCtrl selected
};

class CDirectUI : public IDirectUI {
public:
    CDirectUI(CSkinUI* pSkin, const CLayout& layout);
    ~CDirectUI();

    HRESULT DUIAPI GetCtrl(LONG lType, BSTR bstrName, VARIANT_BOOL bDeep, LONG* plCtrl) override;

    bool Attach(HWND hWnd, std::wstring& strError);
    // Gives the window back its previous procedure and drops what only a live
    // window needs; the controls stay valid until the skin is freed.
    void Detach();
    HWND Window() const { return m_hWnd; }

    // Shown: the control and every form around it are visible.
    bool IsShown(const CDUIControl* pCtrl) const;
    // Everything is to be drawn again (a change that affects the whole face).
    void Invalidate();
    // dwEvent is the accessibility event that readers follow for the change
    // (0 when none applies). Only what the control covers, and the controls
    // inside it when it is a form, is drawn again; prcBefore (layout pixels)
    // adds where it was before a move.
    void OnControlChanged(CDUIControl* pCtrl, DWORD dwEvent, const RECT* prcBefore = nullptr);
    CDUIRect* NewRect(const RECT& rc);

    // Layout pixels (96 DPI, what the layout file and the program use) to
    // window pixels at the window's DPI.
    int Scale(int nValue) const { return ScaleToDpi(nValue, m_nDpi); }
    RECT ScaleRect(const RECT& rc) const { return ScaleRectToDpi(rc, m_nDpi); }
    int Dpi() const { return m_nDpi; }

    // What a screen reader sees (DUIAccess.cpp): the controls it lists, and
    // the control's name, role, state and value.
    std::vector<CDUIControl*> ReadableControls() const;
    LONG ChildIdOf(const CDUIControl* pCtrl) const;
    CDUIControl* ControlOfChildId(LONG lChild) const;
    std::wstring AccName(const CDUIControl& ctrl) const;
    LONG AccRole(const CDUIControl& ctrl) const;
    // The role of the client area itself: a dialog where the window is one.
    LONG AccWindowRole() const;
    LONG AccState(const CDUIControl& ctrl) const;
    CDUIControl* FocusedControl() const;
    // Does what a click on the control does; false when it takes no click now.
    bool Activate(CDUIControl* pCtrl);
    void TakeFocus(CDUIControl* pCtrl) { SetFocusTo(pCtrl); }

    static LRESULT CALLBACK SubclassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

private:
    LRESULT WndProc(WNDPROC pfnPrev, UINT message, WPARAM wParam, LPARAM lParam);
    CDUIControl* HitTest(POINT pt) const;
    bool IsClickable(const CDUIControl* pCtrl) const;
    // Message handlers of WndProc (DUIMessages.cpp); a bool result says the
    // message was handled and must not reach the window's own procedure.
    LRESULT OnNcHitTest(LRESULT lHit, POINT ptScreen);
    void RelayToTip(UINT message, WPARAM wParam, LPARAM lParam);
    void OnMouseMove(POINT pt);
    void OnMouseLeave();
    bool OnButtonDown(POINT pt);
    bool OnButtonUp(POINT pt);
    void OnCaptureChanged(HWND hNewCapture);
    LRESULT OnGetDlgCode(const MSG* pMsg);
    void OnActivated(bool bActive);
    // The DPI from wParam alone: lParam's suggested rectangle is a pointer
    // that anyone may post, so the window is sized from its layout and kept
    // where it stood, on its screen's work area.
    void OnDpiChanged(WPARAM wParam);
    void OnTextChanged();
    void OnSpinTick();
    // The spinner's timer runs only while a spinner can be seen.
    void UpdateSpinTimer();
    // Window pixels of what a control in layout pixels may cover.
    RECT PaintedRect(const RECT& rcLayout) const;
    void InvalidateArea(const RECT& rc);
    void InvalidateCtrl(const CDUIControl* pCtrl);
    void SetDpi(int nDpi);
    void SetIcons();
    // Puts the window at x, y with that size, moved as little as needed to
    // stand whole on the work area of the screen it is on.
    void PlaceOnWorkArea(int x, int y, int cx, int cy);
    // Whether a message that anyone may post or send is the real one
    // (DUIOrigin.cpp tells where it comes from); a false one changes nothing.
    bool IsGenuine(UINT message, WPARAM wParam, LPARAM lParam);
    // Keyboard: focus and Tab order over the buttons and the check box.
    bool IsFocusable(const CDUIControl* pCtrl) const;
    std::vector<CDUIControl*> TabOrder() const;
    void MoveFocus(bool bBack);
    void SetFocusTo(CDUIControl* pCtrl);
    bool OnKeyDown(WPARAM wKey, LPARAM lParam);
    void Notify(DWORD dwEvent, const CDUIControl* pCtrl);
    // Tooltips with the whole text of the controls whose text is cut.
    void SyncTips();
    // DUIPaint.cpp
    void OnPaint();
    // The back buffer of the client size, kept between paints; false when
    // it cannot be made.
    bool PrepareBackBuffer(HDC hdcWindow, int cx, int cy);
    void FreeBackBuffer();
    // Whatever made everything change may have changed the looks kept aside.
    void DropKeptPictures();
    // Draws into the back buffer what changed since it was last drawn.
    void PaintDirty(int cx, int cy);
    // Draws the face within the DC's clip region.
    void PaintAll(HDC hdc, int cx, int cy);
    void PaintControl(HDC hdc, CDUIControl& ctrl);
    // A title control shows the window's text, else its own.
    std::wstring TitleText(const CCtrlTemplate& state) const;
    // The opaque colour a control stands on: the window's ground under what
    // the controls drawn before it lay there.
    DUI_ARGB GroundUnder(const CDUIControl& ctrl) const;
    // The quick ways below draw what PaintControl draws at 96 DPI in the
    // skin's own colours; elsewhere they decline.
    bool CanDrawQuickly() const { return m_nDpi == 96 && !m_bHighContrast; }
    // Kept pictures are right only where the control stands alone on the
    // window's flat ground (forms that draw nothing aside).
    bool StandsAlone(const CDUIControl& ctrl) const;
    // Copies the spinner's current step from the frames kept aside, drawing
    // that frame first if needed; false where a kept frame would be wrong.
    bool PaintSpinnerFrame(HDC hdc, const CDUIControl& ctrl, DUI_ARGB argbGround);
    // Puts the bar together from three pictures kept aside (empty, full,
    // half full); false where that would not give the drawn bar's pixels.
    bool PaintBarFromParts(HDC hdc, const CDUIControl& ctrl, DUI_ARGB argbGround);

    const CLayout& m_layout;
    HWND m_hWnd = nullptr;
    std::vector<std::unique_ptr<CDUIControl>> m_vecCtrls;
    std::vector<std::unique_ptr<CDUIRect>> m_vecRects;
    CDUIControl* m_pHover = nullptr;
    CDUIControl* m_pPressed = nullptr;
    bool m_bTrackingLeave = false;
    bool m_bHasSpinner = false;
    bool m_bSpinTimerOn = false;
    int m_nSpinAngle = 0;
    // What the window shows, drawn once and copied out for every paint.
    CPictureStrip m_back;
    // The part of the back buffer that no longer matches the controls.
    CRegionHandle m_rgnDirty;
    bool m_bAllDirty = true;
    // The spinner's steps, and the bar's three pictures, each drawn once: a
    // tick or a progress report then costs copies instead of smoothing
    // curves again.
    CPictureStrip m_spinFrames;
    CPictureStrip m_barParts;
    int m_nDpi = 96;
    CDpiFonts m_fonts;  // the skin's fonts at m_nDpi
    CDUIControl* m_pFocus = nullptr;
    bool m_bFocusCues = false;  // shown once the keyboard is used, as Windows does
    // Decided once at the start of each painting.
    bool m_bHighContrast = false;
    DUI_ARGB m_argbGround = 0xFFFFFFFF;
    const CDUIControl* m_pFocusDrawn = nullptr;
    CIconHandle m_iconBig;
    CIconHandle m_iconSmall;
    HWND m_hTip = nullptr;
    // Controls with a tooltip tool: the rectangle and text it was made with.
    std::map<const CDUIControl*, std::pair<RECT, std::wstring>> m_mapTipped;
    CDUIAccessible* m_pAccessible = nullptr;  // one reference held while attached
    // The thread whose hooks tell the window's real lifecycle messages from
    // forged ones; 0 when they could not be set.
    DWORD m_dwWatchThread = 0;
    bool m_bInitSeen = false;  // the dialog's one WM_INITDIALOG went by
    // The clicks posted and not yet delivered, by control record: only
    // those reach the window as WM_DUI_CLICK.
    std::map<WPARAM, int> m_mapClicksInFlight;
};
