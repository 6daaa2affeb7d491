// The texts and bar position of the download face, as pure functions so the
// number formatting can be checked without a window.
#pragma once

#include <cstdint>
#include <string>

// The speed as the network library reports it, always in KB/S: "1536.50KB/S".
std::wstring FormatSpeedText(float fKBps);

// Downloaded amount over total, each part in its own unit: "12.65MB/25.30MB".
// The downloaded amount is derived from the fraction, not from a byte count.
std::wstring FormatAmountText(int nTotalSize, float fFraction);

// The bar's position in percent, never below 3 so the bar is visible at the
// start; a fraction above 1 gives a position above 100.
int ProgressBarPosition(float fFraction);

// The bytes of the ordered total that a progress record shows as done,
// clamped to [0, total]. A resumed transfer fetches only the rest, so what
// was on disk counts too: total - unFileSize + unReceived. A library may
// count the real file instead of the ordered one, or report an unknown
// length as 0xFFFFFFFF: when its count exceeds the total, its own measure is
// taken (received over its count, or received alone when the length is
// unknown). The window's bar and the client's progress notice both use it.
long long DownloadedOfTotal(int nTotalSize, uint32_t unFileSize, uint32_t unReceived);
// The same as a share of the total, 0 when there is none.
float DownloadFraction(int nTotalSize, uint32_t unFileSize, uint32_t unReceived);
