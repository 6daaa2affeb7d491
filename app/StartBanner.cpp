#include "app/StartBanner.h"

#include "app/DazuvuVevUpgrade.h"

#include <cwchar>

namespace {

const wchar_t kPasswordMask[] = L"***";

}  // namespace

std::wstring MaskedCommandLine(LPCWSTR pszCommandLine)
{
    if (!pszCommandLine)
        return std::wstring();
    std::wstring strLine = pszCommandLine;
    std::wstring strUser, strPassword;
    if (!ParseUpgradeCommandLine(pszCommandLine, strUser, strPassword) || strPassword.empty())
        return strLine;
    // The password is the whole tail of the line, so its length says where it starts.
    if (strPassword.size() <= strLine.size() &&
        strLine.compare(strLine.size() - strPassword.size(), strPassword.size(), strPassword) == 0)
        return strLine.substr(0, strLine.size() - strPassword.size()) + kPasswordMask;
    // Should the rule ever take the password from elsewhere, hide everything
    // after the last colon rather than risk showing it.
    const size_t nColon = strLine.rfind(L':');
    return strLine.substr(0, nColon + 1) + kPasswordMask;
}

std::wstring WindowsVersionText()
{
    typedef LONG(WINAPI * RtlGetVersionFn)(OSVERSIONINFOW*);
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    HMODULE hNtdll = ::GetModuleHandleW(L"ntdll.dll");
    auto pfnGetVersion =
        hNtdll ? reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(::GetProcAddress(hNtdll, "RtlGetVersion")))
               : nullptr;
    if (!pfnGetVersion || pfnGetVersion(&info) != 0)
        return L"unknown";
    wchar_t sz[64] = {};
    _snwprintf(sz, 63, L"%lu.%lu.%lu", info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber);
    return sz;
}

std::wstring StartBannerText(const std::wstring& strVersion, const std::wstring& strMaskedCommandLine,
                             const std::wstring& strWindowsVersion, UINT uAnsiCodePage)
{
    std::wstring strText = L"DazuvuVevUpgrade ";
    strText += strVersion.empty() ? L"(no version)" : strVersion;
    strText += L" started, command line: ";
    strText += strMaskedCommandLine;
    strText += L", Windows ";
    strText += strWindowsVersion;
    strText += L", ANSI code page ";
    strText += std::to_wstring(uAnsiCodePage);
    return strText;
}
