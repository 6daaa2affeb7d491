// Limits that tests may shorten through the environment.
//
// The environment is inherited: whoever starts the client decides what the
// programs find there. So a value can only shorten a limit, never lengthen
// it, and never below the limit's floor, the least at which a normal
// upgrade over a slow link still succeeds (CONTRIBUTING.md lists each one).
#pragma once

#include <windows.h>

// The limit that the text pszText asks for: a decimal number clamped to
// [ullFloor, ullDefault]; ullDefault for anything else (no text, a sign,
// a blank, more than 18 digits).
inline ULONGLONG ClampedLimit(LPCWSTR pszText, ULONGLONG ullFloor, ULONGLONG ullDefault)
{
    if (ullFloor > ullDefault)
        ullFloor = ullDefault;
    ULONGLONG v = 0;
    size_t n = 0;
    for (; pszText && pszText[n]; ++n) {
        if (n >= 18 || pszText[n] < L'0' || pszText[n] > L'9')
            return ullDefault;
        v = v * 10 + static_cast<ULONGLONG>(pszText[n] - L'0');
    }
    if (n == 0 || v >= ullDefault)
        return ullDefault;
    return v < ullFloor ? ullFloor : v;
}

// The same for the environment variable pszName.
inline ULONGLONG EnvironmentLimit(LPCWSTR pszName, ULONGLONG ullFloor, ULONGLONG ullDefault)
{
    wchar_t sz[32] = {};
    const DWORD n = ::GetEnvironmentVariableW(pszName, sz, 32);
    return ClampedLimit(n > 0 && n < 32 ? sz : nullptr, ullFloor, ullDefault);
}
