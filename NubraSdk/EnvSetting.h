// Limits that tests may shorten through the environment.
//
// The environment is inherited: whoever starts the client decides what the
// library finds there. So a value can only shorten a limit, never lengthen
// it, and never below the limit's floor, the least at which a normal
// download over a slow link still succeeds (CONTRIBUTING.md lists each one).
#pragma once

#include <windows.h>

namespace nubra {

// The limit that the text pszText asks for: a decimal number clamped to
// [ullFloor, ullDefault]; ullDefault for anything else (no text, a sign,
// a blank, more than 18 digits).
ULONGLONG ClampedLimit(LPCWSTR pszText, ULONGLONG ullFloor, ULONGLONG ullDefault);

// The same for the environment variable pszName.
ULONGLONG EnvironmentLimit(LPCWSTR pszName, ULONGLONG ullFloor, ULONGLONG ullDefault);

}  // namespace nubra
