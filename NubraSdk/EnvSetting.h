// Limits that administrators and tests may change through the environment
// (the stall time-out, the cap on a transfer of unknown size).
#pragma once

#include <windows.h>

namespace nubra {

// The decimal number in the variable when it lies within [ullMin, ullMax];
// otherwise, or when the variable is unset or too long, ullDefault.
ULONGLONG EnvironmentNumber(LPCWSTR pszName, ULONGLONG ullMin, ULONGLONG ullMax, ULONGLONG ullDefault);

}  // namespace nubra
