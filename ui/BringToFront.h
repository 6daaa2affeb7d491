// The bring-to-front rule that both skinned windows follow while they wait
// for the user: lift the window above the others without taking the focus,
// about every 100 ms, at most eleven times, and stop as soon as it is in front.
#pragma once

#include <windows.h>

const UINT kBringToFrontPeriodMs = 100;

// One timer tick. bWanted is false when the window should not be pushed (it
// is hidden). Returns false when the timer is to stop; nCount is then 0.
bool BringToFrontTick(HWND hWnd, bool bWanted, int& nCount);
