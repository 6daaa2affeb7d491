#include "tools/upgradectl/UpgradeOrder.h"

#include <string.h>

namespace {

bool PutField(wchar_t (&field)[UPGRADE_TEXT_CCH], const std::wstring& strValue, LPCWSTR pszName,
              bool bAllowUnterminated, std::wstring& strError)
{
    const size_t nLimit = bAllowUnterminated ? UPGRADE_TEXT_CCH : UPGRADE_TEXT_CCH - 1;
    if (strValue.size() > nLimit) {
        strError = std::wstring(pszName) + L" is " + std::to_wstring(strValue.size()) +
                   L" characters long; the record holds at most " + std::to_wstring(nLimit);
        return false;
    }
    memset(field, 0, sizeof(field));
    memcpy(field, strValue.data(), strValue.size() * sizeof(wchar_t));
    return true;
}

}  // namespace

bool BuildUpgradeOrder(const UpgradeOrderFields& fields, bool bAllowUnterminated, UPGRADE_COMM& rec,
                       std::wstring& strError)
{
    UPGRADE_COMM built;
    memset(&built, 0, sizeof(built));
    if (!PutField(built.szFileName, fields.strFileName, L"the setup name", bAllowUnterminated, strError) ||
        !PutField(built.szVersion, fields.strVersion, L"--version", bAllowUnterminated, strError) ||
        !PutField(built.szURL, fields.strURL, L"--url", bAllowUnterminated, strError) ||
        !PutField(built.szSize, fields.strSize, L"--size", bAllowUnterminated, strError) ||
        !PutField(built.szMD5, fields.strMD5, L"--md5", bAllowUnterminated, strError) ||
        !PutField(built.szUpgradeType, fields.strUpgradeType, L"--type", bAllowUnterminated, strError)) {
        return false;
    }
    rec = built;
    return true;
}

std::vector<BYTE> MakeOrderPayload(const UPGRADE_COMM& rec, size_t cbData)
{
    std::vector<BYTE> payload(cbData, 0);
    memcpy(payload.data(), &rec, cbData < sizeof(rec) ? cbData : sizeof(rec));
    return payload;
}
