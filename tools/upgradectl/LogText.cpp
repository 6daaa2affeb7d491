#include "tools/upgradectl/LogText.h"

#include "tools/logdecode/LogDecode.h"

std::wstring LogFileText(const std::string& strRaw, UINT nCodePage)
{
    // The zero bytes go before the conversion: a zero would cut a multi-byte
    // sequence short.
    const std::string strText = ReadableLogText(DecodeLogBytes(strRaw));
    std::wstring strWide;
    if (!strText.empty()) {
        const int nLength =
            MultiByteToWideChar(nCodePage, 0, strText.data(), static_cast<int>(strText.size()), nullptr, 0);
        if (nLength > 0) {
            strWide.resize(nLength);
            MultiByteToWideChar(nCodePage, 0, strText.data(), static_cast<int>(strText.size()), &strWide[0], nLength);
        }
    }
    std::wstring strOut;
    strOut.reserve(strWide.size());
    for (size_t i = 0; i < strWide.size(); ++i) {
        if (strWide[i] == L'\r' && i + 1 < strWide.size() && strWide[i + 1] == L'\n')
            continue;
        strOut += strWide[i];
    }
    return strOut;
}
