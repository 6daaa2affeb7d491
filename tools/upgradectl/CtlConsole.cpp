#include "tools/upgradectl/CtlConsole.h"

#include <stdarg.h>
#include <stdio.h>

namespace {

std::wstring FormatV(LPCWSTR pszFormat, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int nLength = _vscwprintf(pszFormat, copy);
    va_end(copy);
    if (nLength <= 0) return std::wstring();
    std::wstring strText(static_cast<size_t>(nLength) + 1, L'\0');
    _vsnwprintf(&strText[0], strText.size(), pszFormat, args);
    strText.resize(nLength);
    return strText;
}

}  // namespace

void CtlWrite(DWORD nStdHandle, const std::wstring& strText) {
    HANDLE hOut = GetStdHandle(nStdHandle);
    if (hOut == nullptr || hOut == INVALID_HANDLE_VALUE || strText.empty()) return;
    DWORD dwMode = 0;
    DWORD dwWritten = 0;
    if (GetConsoleMode(hOut, &dwMode)) {
        WriteConsoleW(hOut, strText.data(), static_cast<DWORD>(strText.size()), &dwWritten, nullptr);
        return;
    }
    const int cbUtf8 = WideCharToMultiByte(CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()), nullptr,
                                           0, nullptr, nullptr);
    if (cbUtf8 <= 0) return;
    std::string strUtf8(cbUtf8, '\0');
    WideCharToMultiByte(CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()), &strUtf8[0], cbUtf8,
                        nullptr, nullptr);
    WriteFile(hOut, strUtf8.data(), static_cast<DWORD>(strUtf8.size()), &dwWritten, nullptr);
}

void CtlPrintf(LPCWSTR pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    CtlWrite(STD_OUTPUT_HANDLE, FormatV(pszFormat, args));
    va_end(args);
}

void CtlError(LPCWSTR pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    CtlWrite(STD_ERROR_HANDLE, L"DazuvuVevUpgradeCtl: " + FormatV(pszFormat, args) + L"\n");
    va_end(args);
}
