// The reference every download figure is measured against: the plainest
// WinINet read loop that writes a file. The network benchmark and the end-to-end
// benchmark use this one loop, so their "bare" figures mean the same thing.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <vector>

inline bool BareDownload(const wchar_t* pszUrl, const wchar_t* pszFile, ULONGLONG* pullBytes = nullptr)
{
    HINTERNET hSession = ::InternetOpenW(L"bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET hUrl = hSession ? ::InternetOpenUrlW(hSession, pszUrl, nullptr, 0,
                                                   INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
                              : nullptr;
    HANDLE hFile = ::CreateFileW(pszFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    bool bOk = hUrl && hFile != INVALID_HANDLE_VALUE;
    std::vector<BYTE> buf(1024 * 1024);
    while (bOk) {
        DWORD n = 0, w = 0;
        if (!::InternetReadFile(hUrl, buf.data(), static_cast<DWORD>(buf.size()), &n))
            bOk = false;
        if (!bOk || n == 0)
            break;
        bOk = ::WriteFile(hFile, buf.data(), n, &w, nullptr) && w == n;
        if (pullBytes)
            *pullBytes += n;
    }
    if (hFile != INVALID_HANDLE_VALUE)
        ::CloseHandle(hFile);
    if (hUrl)
        ::InternetCloseHandle(hUrl);
    if (hSession)
        ::InternetCloseHandle(hSession);
    return bOk;
}
