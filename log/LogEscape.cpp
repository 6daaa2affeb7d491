#include "log/LogEscape.h"

#include <cwchar>

std::wstring LogEscaped(LPCWSTR pszText)
{
    std::wstring strOut;
    if (!pszText)
        return strOut;
    for (const wchar_t* p = pszText; *p; ++p) {
        const wchar_t ch = *p;
        if (ch == L'\r') {
            strOut += L"\\r";
        } else if (ch == L'\n') {
            strOut += L"\\n";
        } else if (ch < 0x20 || (ch >= 0x7F && ch <= 0x9F)) {
            wchar_t sz[8];
            _snwprintf(sz, 8, L"\\x%02X", static_cast<unsigned>(ch));
            strOut += sz;
        } else if (ch == 0x2028 || ch == 0x2029) {
            strOut += ch == 0x2028 ? L"\\u2028" : L"\\u2029";
        } else {
            strOut += ch;
        }
    }
    return strOut;
}
