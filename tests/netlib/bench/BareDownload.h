// The reference every download figure is measured against: the plainest
// WinINet read loop that writes a file. The network benchmark and the end-to-end
// benchmark use this one loop, so their "bare" figures mean the same thing.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <vector>

#include "win/Handles.h"

inline bool BareDownload(const wchar_t* pszUrl, const wchar_t* pszFile, ULONGLONG* pullBytes = nullptr)
{
    // The owners only close at the end; the loop below works on the plain
    // handles, so the reference costs what it did.
    CInetHandle session(::InternetOpenW(L"bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    CInetHandle url(session ? ::InternetOpenUrlW(session.Get(), pszUrl, nullptr, 0,
                                                 INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
                            : nullptr);
    CKernelHandle file(::CreateFileW(pszFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    const HINTERNET hUrl = url.Get();
    const HANDLE hFile = file.Get();
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
    return bOk;
}
