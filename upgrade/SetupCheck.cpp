#include "upgrade/SetupCheck.h"

#include "win/AwakeClock.h"
#include "win/EnvLimit.h"

#include <cwchar>
#include <cwctype>

namespace {

const wchar_t kEmptyMd5[] = L"d41d8cd98f00b204e9800998ecf8427e";
const size_t kMd5Digits = 32;
const ULONGLONG kCheckPatienceMs = 90 * 1000;
const ULONGLONG kCheckPatienceFloorMs = 5 * 1000;
const wchar_t kCheckPatienceEnv[] = L"DAZUVUVEV_CHECK_PATIENCE_MS";

bool IsMd5Text(LPCWSTR psz)
{
    if (!psz || std::wcslen(psz) != kMd5Digits)
        return false;
    for (const wchar_t* p = psz; *p; ++p) {
        if (!std::iswxdigit(*p))
            return false;
    }
    return true;
}

}  // namespace

CheckAnswer JudgeLibraryDigest(LPCWSTR pszLibrary, LPCWSTR pszOrdered, ULONGLONG ullFileSize)
{
    if (!IsMd5Text(pszLibrary) || (ullFileSize > 0 && _wcsicmp(pszLibrary, kEmptyMd5) == 0))
        return CheckAnswer::CouldNot;
    return pszOrdered && _wcsicmp(pszLibrary, pszOrdered) == 0 ? CheckAnswer::Passed : CheckAnswer::Against;
}

bool CCheckPatience::IsSpent(ULONGLONG ullNowMs) const
{
    return WaitedMs(ullNowMs) >= m_ullLimitMs;
}

ULONGLONG CCheckPatience::WaitedMs(ULONGLONG ullNowMs) const
{
    return AwakeMsSince(m_ullStartMs, ullNowMs);
}

ULONGLONG SetupCheckPatienceMs()
{
    return EnvironmentLimit(kCheckPatienceEnv, kCheckPatienceFloorMs, kCheckPatienceMs);
}
