// Test bench for the skin library: dialog windows subclassed the way the
// program's framework does it, a message pump, real mouse input and files.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "VEXUI32/VEXUI32.h"
#include "ui/SkinLayer.h"

struct CTestWindow {
    HWND hWnd = nullptr;
    IDirectUI* pDirectUI = nullptr;
    std::wstring strLayout;
    IDUIRes* pRes = nullptr;
    WNDPROC pfnPrev = nullptr;
    std::vector<WPARAM> vecClicks;      // wParam of every WM_DUI_CLICK
    std::vector<UINT_PTR> vecTimerIds;  // WM_TIMER that reached the framework procedure
    int nAppMessages = 0;               // WM_APP that reached the framework procedure
    bool bChainRestored = false;        // at WM_NCDESTROY our procedure was on top again
    int nInitDialogs = 0;               // WM_INITDIALOG that reached the framework procedure
    int nDestroys = 0;                  // WM_DESTROY that reached the framework procedure
    int nNcDestroys = 0;                // WM_NCDESTROY that reached the framework procedure

    ~CTestWindow();
    DUI_CTRLBASE* Ctrl(const wchar_t* pszName) const { return FindSkinCtrl(pDirectUI, pszName, true); }
};

// A hidden "#32770" window; the layout is attached from its WM_CREATE.
std::unique_ptr<CTestWindow> CreateSkinnedWindow(IDUIRes* pRes, const wchar_t* pszLayout);

void PumpFor(DWORD dwMs);
bool PumpUntil(const std::function<bool()>& pred, DWORD dwTimeoutMs);

// Shows the window in front and waits until it is painted.
void ShowInFront(HWND hWnd);

// The window's pixels as they are on the screen, 0x00RRGGBB, top row first.
std::vector<DWORD> ScreenPixels(HWND hWnd, int* pcx = nullptr, int* pcy = nullptr);

// The control's rectangle in window pixels, and its centre on the screen.
RECT CtrlRect(DUI_CTRLBASE* pCtrl);
POINT CtrlCenterOnScreen(HWND hWnd, DUI_CTRLBASE* pCtrl);
// Moves both horizontal edges, as the program moves the message box buttons.
void MoveCtrlBy(DUI_CTRLBASE* pCtrl, LONG dx);

// A real left click (synthesised hardware input) at a screen point.
void ClickAt(POINT pt);
// Press at one point, move to another, release there.
void DragFromTo(POINT ptFrom, POINT ptTo);

std::wstring ExeFolder();
// A fresh, empty folder of this process under the temp folder.
std::wstring MakeTempFolder(const wchar_t* pszTag);
void CopySkinFolder(const std::wstring& strTo);
std::string ReadFileBytes(const std::wstring& strPath);
void WriteFileBytes(const std::wstring& strPath, const std::string& strBytes);
std::string Narrow(const std::wstring& str);
