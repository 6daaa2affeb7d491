// Limits from the environment (see EnvSetting.h).
#include "NubraSdk/EnvSetting.h"

#include <cwchar>

namespace nubra {

ULONGLONG EnvironmentNumber(LPCWSTR pszName, ULONGLONG ullMin, ULONGLONG ullMax, ULONGLONG ullDefault)
{
    wchar_t sz[32] = {};
    const DWORD n = ::GetEnvironmentVariableW(pszName, sz, 32);
    if (n == 0 || n >= 32)
        return ullDefault;
    // A negative or malformed text reads as a number outside any range here.
    const ULONGLONG v = std::wcstoull(sz, nullptr, 10);
    return v >= ullMin && v <= ullMax ? v : ullDefault;
}

}  // namespace nubra
