// The texts and bar position of the download face, as pure functions so the
// number formatting can be checked without a window.
#pragma once

#include <string>

// The speed as the network library reports it, always in KB/S: "1536.50KB/S".
std::wstring FormatSpeedText(float fKBps);

// Downloaded amount over total, each part in its own unit: "12.65MB/25.30MB".
// The downloaded amount is derived from the fraction, not from a byte count.
std::wstring FormatAmountText(int nTotalSize, float fFraction);

// The bar's position in percent, never below 3 so the bar is visible at the
// start; a fraction above 1 gives a position above 100.
int ProgressBarPosition(float fFraction);
