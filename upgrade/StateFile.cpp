#include "upgrade/StateFile.h"

#include "win/Handles.h"

#include <shlobj.h>

const wchar_t kUpgradeFolderName[] = L"DazuvuvevUpgrade";
const wchar_t kStateFileName[] = L"Upgrade.ini";
const wchar_t kUpgradeSection[] = L"UPGRADE";
const wchar_t kKeyVersion[] = L"version";
const wchar_t kKeyPath[] = L"path";
const wchar_t kKeyOverFlags[] = L"overflags";
const wchar_t kKeyClearFlags[] = L"clearflags";
const wchar_t kKeyVersionNoTips[] = L"version_no_tips";

const wchar_t kOverFlagsDone[] = L"over";
const wchar_t kFlagTrue[] = L"true";
const wchar_t kFlagFalse[] = L"false";

std::wstring UpgradeFolderUnder(const std::wstring& strAppData)
{
    return strAppData + L"\\" + kUpgradeFolderName + L"\\";
}

std::wstring UpgradeFolderPath()
{
    wchar_t szAppData[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, szAppData, CSIDL_APPDATA, TRUE /* create */) || !szAppData[0])
        return std::wstring();
    const std::wstring strDir = UpgradeFolderUnder(szAppData);
    if (strDir.size() + (sizeof(kStateFileName) / sizeof(kStateFileName[0]) - 1) >= MAX_PATH)
        return std::wstring();
    return strDir;
}

bool PrepareStateFile(LPCWSTR pszIniPath)
{
    if (!pszIniPath || !pszIniPath[0])
        return false;
    CKernelHandle hIni(::CreateFileW(pszIniPath, GENERIC_READ | GENERIC_WRITE, 0 /* no sharing */, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hIni.IsValid())
        return false;
    LARGE_INTEGER size = {};
    if (::GetFileSizeEx(hIni.Get(), &size) && size.QuadPart == 0) {
        static const BYTE kUtf16Mark[] = {0xFF, 0xFE};
        DWORD dwWritten = 0;
        // Without the mark the profile functions still work, in the ANSI code page.
        ::WriteFile(hIni.Get(), kUtf16Mark, sizeof(kUtf16Mark), &dwWritten, nullptr);
    }
    return true;
}

std::wstring ReadUpgradeValue(LPCWSTR pszIniPath, LPCWSTR pszKey)
{
    wchar_t szValue[MAX_PATH] = {};
    if (!pszIniPath || !pszIniPath[0])
        return szValue;
    ::GetPrivateProfileStringW(kUpgradeSection, pszKey, L"", szValue, MAX_PATH, pszIniPath);
    return szValue;
}

void WriteUpgradeValue(LPCWSTR pszIniPath, LPCWSTR pszKey, LPCWSTR pszValue)
{
    if (!pszIniPath || !pszIniPath[0])
        return;
    // PrepareStateFile proved the file writable; a later failure shows as the
    // value missing at the next read.
    ::WritePrivateProfileStringW(kUpgradeSection, pszKey, pszValue, pszIniPath);
}
