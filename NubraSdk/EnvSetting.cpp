// Limits from the environment (see EnvSetting.h).
#include "NubraSdk/EnvSetting.h"

namespace nubra {

ULONGLONG ClampedLimit(LPCWSTR pszText, ULONGLONG ullFloor, ULONGLONG ullDefault)
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

ULONGLONG EnvironmentLimit(LPCWSTR pszName, ULONGLONG ullFloor, ULONGLONG ullDefault)
{
    wchar_t sz[32] = {};
    const DWORD n = ::GetEnvironmentVariableW(pszName, sz, 32);
    return ClampedLimit(n > 0 && n < 32 ? sz : nullptr, ullFloor, ullDefault);
}

}  // namespace nubra
