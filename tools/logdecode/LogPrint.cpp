#include "tools/logdecode/LogPrint.h"

namespace {

std::wstring Ascii(const std::string& str)
{
    return std::wstring(str.begin(), str.end());
}

std::wstring Escaped(const std::string& strText, UINT nCodePage)
{
    return EscapeControls(LogTextToWide(strText, nCodePage));
}

}  // namespace

std::wstring EscapeControls(const std::wstring& strText)
{
    static const wchar_t kHex[] = L"0123456789abcdef";
    std::wstring strOut;
    strOut.reserve(strText.size());
    for (wchar_t ch : strText) {
        if (ch >= 0x20 && (ch < 0x7F || ch > 0x9F)) {
            strOut += ch;
        } else if (ch == L'\r') {
            strOut += L"\\r";
        } else if (ch == L'\n') {
            strOut += L"\\n";
        } else if (ch == L'\t') {
            strOut += L"\\t";
        } else {
            strOut += L"\\x";
            strOut += kHex[(ch >> 4) & 15];
            strOut += kHex[ch & 15];
        }
    }
    return strOut;
}

std::wstring PrintedLogEntry(const LogEntry& entry, UINT nCodePage)
{
    if (!entry.bRecord)
        return L"damaged: " + Escaped(entry.strDamaged, nCodePage) + L"\r\n";
    const std::wstring strHead = Ascii(entry.strTime) + L" " + Ascii(LogSeverityName(entry)) + L"\t";
    if (entry.bFallback) {
        return strHead + Ascii(entry.strThread) + L" " + Escaped(entry.strSource, nCodePage) + L":" +
               Ascii(entry.strLine) + L" \t" + Escaped(entry.strFunction, nCodePage) + L":\t" +
               Escaped(entry.strMessage, nCodePage) + L"\r\n";
    }
    return strHead + L"Thread[" + Ascii(entry.strThread) + L"]\t" + Escaped(entry.strSource, nCodePage) + L"\t" +
           Escaped(entry.strFunction, nCodePage) + L": " + Ascii(entry.strLine) + L" :\r\n" +
           Escaped(entry.strMessage, nCodePage) + L"\r\n\r\n\r\n";
}

std::wstring OneLineText(const std::wstring& strText, size_t nMax)
{
    std::wstring strLine;
    strLine.reserve(strText.size());
    for (size_t i = 0; i < strText.size(); ++i) {
        if (strText[i] == L'\r' && i + 1 < strText.size() && strText[i + 1] == L'\n')
            continue;
        strLine += (strText[i] == L'\r' || strText[i] == L'\n') ? L' ' : strText[i];
    }
    const size_t nFirst = strLine.find_first_not_of(L" \t");
    const size_t nLast = strLine.find_last_not_of(L" \t");
    strLine =
        nFirst == std::wstring::npos ? std::wstring() : EscapeControls(strLine.substr(nFirst, nLast - nFirst + 1));
    if (strLine.size() <= nMax)
        return strLine;
    size_t nCut = nMax;
    if (nCut > 0 && strLine[nCut - 1] >= 0xD800 && strLine[nCut - 1] <= 0xDBFF)
        --nCut;  // keep the pair whole
    return strLine.substr(0, nCut) + L"...";
}
