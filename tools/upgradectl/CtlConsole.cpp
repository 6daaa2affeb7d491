#include "tools/upgradectl/CtlConsole.h"

#include <stdarg.h>
#include <stdio.h>

namespace {

std::wstring FormatV(LPCWSTR pszFormat, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    const int nLength = _vscwprintf(pszFormat, copy);
    va_end(copy);
    if (nLength <= 0)
        return std::wstring();
    std::wstring strText(static_cast<size_t>(nLength) + 1, L'\0');
    _vsnwprintf(&strText[0], strText.size(), pszFormat, args);
    strText.resize(nLength);
    return strText;
}

}  // namespace

void CtlPrintf(LPCWSTR pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    ToolWriteText(STD_OUTPUT_HANDLE, FormatV(pszFormat, args));
    va_end(args);
}

void CtlError(LPCWSTR pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    ToolWriteText(STD_ERROR_HANDLE, L"DazuvuVevUpgradeCtl: " + FormatV(pszFormat, args) + L"\n");
    va_end(args);
}
