// Runs one message box through MsgBoxCal::ShowMsgBox and acts on it while its
// modal loop runs: a thread timer of the test (served by that very loop)
// finds the box, then performs the test's steps one after another with real
// mouse and keyboard input.
#pragma once

#include "ui/MsgBoxCal.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

class CBoxDriver {
public:
    using Step = std::function<void(CBoxDriver&)>;

    // Shows the box and runs the steps, one every nStepTicks timer ticks of
    // 20 ms once the box is up. A box still up 5 s after the last step is
    // cancelled and the run is marked stuck.
    int Run(const std::wstring& strText, const std::wstring& strCaption, int nStyle, std::vector<Step> vecSteps,
            int nStepTicks = 5);

    // Called on the first tick that sees the box, before any step; runs
    // ahead of the box's own first timer tick.
    std::function<void(CBoxDriver&)> m_fnOnFound;

    bool m_bFound = false;
    bool m_bStuck = false;
    // Times each window was asked to become topmost while the run lasted.
    std::map<HWND, int> m_mapTopMostRequests;

    HWND Box() const { return m_hBox; }
    MsgBoxCal::CDlgMessageBoxCal* Dlg() const { return m_pDlg; }

    // The controls of the box by their skin names.
    DUI_CTRLBASE* Ctrl(const std::wstring& strName) const;
    RECT CtrlRect(const std::wstring& strName) const;  // window pixels
    bool Visible(const std::wstring& strName) const;
    LONG Check(const std::wstring& strName) const;

    // A left click at the control's centre, through the system's input queue.
    void Click(const std::wstring& strName) const;
    void PressKey(WORD wVirtualKey) const;
    // The box as it stands on the screen, as a PNG file; false on failure.
    bool SaveScreenshot(const std::wstring& strPath) const;

private:
    static void CALLBACK TimerProc(HWND, UINT, UINT_PTR, DWORD);
    static LRESULT CALLBACK CallWndProc(int nCode, WPARAM wParam, LPARAM lParam);
    void OnTick();

    std::wstring m_strCaption;
    std::vector<Step> m_vecSteps;
    size_t m_nNextStep = 0;
    int m_nStepTicks = 5;
    int m_nTicks = 0;
    int m_nTicksAfterSteps = 0;
    HWND m_hBox = nullptr;
    MsgBoxCal::CDlgMessageBoxCal* m_pDlg = nullptr;
};
