#include "ui/BringToFront.h"

namespace {
const int kLastRaise = 10;  // raises 0 to 10: eleven in all
}

bool BringToFrontTick(HWND hWnd, bool bWanted, int& nCount)
{
    if (bWanted && ::GetForegroundWindow() != hWnd) {
        const int nTaken = nCount++;
        if (nTaken <= kLastRaise) {
            // Topmost and back again lifts the window above the others
            // without keeping it above them or activating it.
            const UINT uFlags = SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_SHOWWINDOW;
            ::SetWindowPos(hWnd, HWND_TOPMOST, 0, 0, 0, 0, uFlags);
            ::SetWindowPos(hWnd, HWND_NOTOPMOST, 0, 0, 0, 0, uFlags);
            return true;
        }
    }
    nCount = 0;
    return false;
}
