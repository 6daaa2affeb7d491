// UTF-8 <-> UTF-16 for every module: the partial file's note, the log's
// source names, the tools' redirected output and the demonstration's record
// all store or print UTF-8 while the program works in UTF-16.
#pragma once

#include <windows.h>

#include <string>

// Empty for an empty text or one the system cannot convert.
inline std::string WideToUtf8(const std::wstring& strText)
{
    if (strText.empty())
        return std::string();
    const int nText = static_cast<int>(strText.size());
    const int nBytes = ::WideCharToMultiByte(CP_UTF8, 0, strText.data(), nText, nullptr, 0, nullptr, nullptr);
    if (nBytes <= 0)
        return std::string();
    std::string strUtf8(static_cast<size_t>(nBytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, strText.data(), nText, &strUtf8[0], nBytes, nullptr, nullptr);
    return strUtf8;
}

inline std::wstring Utf8ToWide(const std::string& strUtf8)
{
    if (strUtf8.empty())
        return std::wstring();
    const int nBytes = static_cast<int>(strUtf8.size());
    const int nChars = ::MultiByteToWideChar(CP_UTF8, 0, strUtf8.data(), nBytes, nullptr, 0);
    if (nChars <= 0)
        return std::wstring();
    std::wstring strText(static_cast<size_t>(nChars), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, strUtf8.data(), nBytes, &strText[0], nChars);
    return strText;
}
