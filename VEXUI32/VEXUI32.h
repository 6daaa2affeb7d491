// Exports layer: additions of our skin library beyond the fixed interface of ui/DUIDefs.h.
#pragma once

#include "ui/DUIDefs.h"

// Why the last OpenSkinW, CreateDirectUI or GetResource call failed, for the
// program's log: the file, the line and what is wrong. Copies at most cchBuf
// characters including the terminator and returns the full length of the
// text (0 when nothing failed yet).
VEXUI_API DWORD DUIAPI GetSkinLastErrorW(LPWSTR pszBuf, DWORD cchBuf);
