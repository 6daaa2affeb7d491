// The rules that decide whether the program was started for an upgrade.
#include "app/DazuvuVevUpgrade.h"

#include "include/DazuvuVevUpgradeClient.h"

#include <cwchar>

const wchar_t kUpgradeCommandWord[] = UPGRADE_COMMAND_WORD;

LPCWSTR SkipProgramName(LPCWSTR pszCommandLine)
{
    if (!pszCommandLine)
        return L"";
    LPCWSTR p = pszCommandLine;
    // Windows ends a quoted program name at the next quote, with no escapes,
    // and an unquoted one at the first blank or tab.
    if (*p == L'"') {
        ++p;
        while (*p && *p != L'"')
            ++p;
        if (*p == L'"')
            ++p;
    } else {
        while (*p && *p != L' ' && *p != L'\t')
            ++p;
    }
    while (*p == L' ' || *p == L'\t')
        ++p;
    return p;
}

LPCWSTR UpgradeArguments(LPCWSTR pszCommandLine)
{
    if (!pszCommandLine)
        return L"";
    // A launcher may pass the arguments alone, with the program named only in
    // its own first parameter. A first token that starts with the word and a
    // colon cannot be a program's path (no file name holds a colon there), so
    // it is the first argument.
    LPCWSTR p = pszCommandLine;
    while (*p == L' ' || *p == L'\t')
        ++p;
    const size_t nWord = std::wcslen(kUpgradeCommandWord);
    if (std::wcsncmp(p, kUpgradeCommandWord, nWord) == 0 && p[nWord] == L':')
        return p;
    return SkipProgramName(pszCommandLine);
}

bool ParseUpgradeCommandLine(LPCWSTR pszCommandLine, std::wstring& strUser, std::wstring& strPassword)
{
    const std::wstring strArgs = UpgradeArguments(pszCommandLine);
    if (strArgs.find(kUpgradeCommandWord) == std::wstring::npos)
        return false;
    // A Basic user name cannot hold a colon, a password can: the user runs to
    // the second colon and the password is everything after it.
    const size_t nFirst = strArgs.find(L':');
    const size_t nSecond = nFirst == std::wstring::npos ? std::wstring::npos : strArgs.find(L':', nFirst + 1);
    if (nSecond == std::wstring::npos)
        return false;
    strUser = strArgs.substr(nFirst + 1, nSecond - nFirst - 1);
    strPassword = strArgs.substr(nSecond + 1);
    return true;
}
