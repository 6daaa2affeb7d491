#include "upgrade/OrderRules.h"

#include <cwchar>

namespace {

bool IsControlCharacter(wchar_t ch)
{
    return ch < 0x20 || (ch >= 0x7F && ch <= 0x9F);
}

bool HasControlCharacter(const wchar_t* pszField)
{
    for (const wchar_t* p = pszField; *p; ++p) {
        if (IsControlCharacter(*p))
            return true;
    }
    return false;
}

}  // namespace

void TerminateOrderFields(UPGRADE_COMM& stComm)
{
    wchar_t* const fields[] = {stComm.szFileName, stComm.szReserved, stComm.szVersion,    stComm.szURL,
                               stComm.szSize,     stComm.szMD5,      stComm.szUpgradeType};
    for (wchar_t* pszField : fields)
        pszField[UPGRADE_TEXT_CCH - 1] = L'\0';
}

LPCWSTR FindControlCharacterField(const UPGRADE_COMM& stComm)
{
    const struct {
        const wchar_t* pszField;
        LPCWSTR pszName;
    } fields[] = {{stComm.szVersion, L"szVersion"},
                  {stComm.szURL, L"szURL"},
                  {stComm.szSize, L"szSize"},
                  {stComm.szMD5, L"szMD5"},
                  {stComm.szUpgradeType, L"szUpgradeType"}};
    for (const auto& field : fields) {
        if (HasControlCharacter(field.pszField))
            return field.pszName;
    }
    return nullptr;
}

bool IsSameOrder(const UPGRADE_COMM& stA, int nModeA, const UPGRADE_COMM& stB, int nModeB)
{
    return nModeA == nModeB && std::wcscmp(stA.szVersion, stB.szVersion) == 0 &&
           std::wcscmp(stA.szURL, stB.szURL) == 0 && std::wcscmp(stA.szSize, stB.szSize) == 0 &&
           std::wcscmp(stA.szMD5, stB.szMD5) == 0 && std::wcscmp(stA.szUpgradeType, stB.szUpgradeType) == 0;
}
