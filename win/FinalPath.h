// Where a path really leads once every link and junction on the way is
// followed: the test for a path that someone has redirected.
#pragma once

#include <windows.h>

#include <string>

#include "win/Handles.h"

// The open file's or folder's path with every link resolved, in the form
// "C:\dir\name" (the "\\?\" prefix dropped); empty when it cannot be told.
inline std::wstring FinalPathOf(HANDLE hFile)
{
    wchar_t szPath[MAX_PATH * 2] = {};
    const DWORD n = ::GetFinalPathNameByHandleW(hFile, szPath, MAX_PATH * 2, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= MAX_PATH * 2)
        return std::wstring();
    std::wstring strPath(szPath, n);
    if (strPath.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        return L"\\\\" + strPath.substr(8);
    if (strPath.compare(0, 4, L"\\\\?\\") == 0)
        return strPath.substr(4);
    return strPath;
}

// The same for a path, opened without data access and sharing everything,
// folders too; empty when it cannot be opened.
inline std::wstring FinalPathOf(const std::wstring& strPath)
{
    const CKernelHandle h(::CreateFileW(strPath.c_str(), 0 /* no data access */,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS /* folders too */, nullptr));
    return h.IsValid() ? FinalPathOf(h.Get()) : std::wstring();
}

// Where a file of that path must really be: inside its folder as that folder
// really is (every link on the way followed), whatever stands at the name
// itself. Empty when the folder cannot be told.
inline std::wstring ExpectedFinalPath(const std::wstring& strPath)
{
    const size_t nSlash = strPath.find_last_of(L"\\/");
    if (nSlash == std::wstring::npos)
        return std::wstring();
    const std::wstring strFolder = FinalPathOf(strPath.substr(0, nSlash));
    return strFolder.empty() ? std::wstring() : strFolder + L"\\" + strPath.substr(nSlash + 1);
}
