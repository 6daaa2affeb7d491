#include "upgrade/UpgradeState.h"

const wchar_t kUpgradeSection[] = L"UPGRADE";
const wchar_t kKeyVersion[] = L"version";
const wchar_t kKeyPath[] = L"path";
const wchar_t kKeyOverFlags[] = L"overflags";
const wchar_t kKeyClearFlags[] = L"clearflags";
const wchar_t kKeyVersionNoTips[] = L"version_no_tips";

const wchar_t kOverFlagsDone[] = L"over";
const wchar_t kFlagTrue[] = L"true";
const wchar_t kFlagFalse[] = L"false";

std::wstring ReadUpgradeValue(LPCWSTR pszIniPath, LPCWSTR pszKey)
{
    wchar_t szValue[MAX_PATH] = {};
    ::GetPrivateProfileStringW(kUpgradeSection, pszKey, L"", szValue, MAX_PATH, pszIniPath);
    return szValue;
}

void WriteUpgradeValue(LPCWSTR pszIniPath, LPCWSTR pszKey, LPCWSTR pszValue)
{
    ::WritePrivateProfileStringW(kUpgradeSection, pszKey, pszValue, pszIniPath);
}
