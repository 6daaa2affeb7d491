// Exports layer: additions of our skin library beyond the fixed interface of
// ui/DUIDefs.h. The client's own skin library has none of them, so the program
// never imports them: it looks them up by these names and does without.
#pragma once

#include "ui/DUIDefs.h"

#define VEXUI_LIBRARY_NAME L"VEXUI32.dll"
#define VEXUI_SKIN_LAST_ERROR_NAME "GetSkinLastErrorW@8"
typedef DWORD(DUIAPI* PFN_VEXUI_GET_SKIN_LAST_ERROR)(LPWSTR pszBuf, DWORD cchBuf);

// Why the last OpenSkinW, CreateDirectUI or GetResource call failed, for the
// program's log: the file, the line and what is wrong. Copies at most cchBuf
// characters including the terminator and returns the full length of the
// text (0 when nothing failed yet).
VEXUI_API DWORD DUIAPI GetSkinLastErrorW(LPWSTR pszBuf, DWORD cchBuf);
