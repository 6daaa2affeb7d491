// A file that the program writes inside a folder of its own (the state
// file, the log), opened so that nothing placed there can send the writes
// elsewhere.
//
// Any program of the user may put a link where such a file belongs, and a
// hard link needs no privilege at all: every write would then change a file
// outside the program's folders. So the file is opened without following a
// link at its end, created only where nothing is (never through a link that
// leads nowhere), and the open handle is checked before a byte goes through
// it: no link or junction, no second name, and its final path inside the
// folder it belongs to.
#pragma once

#include <windows.h>

#include <cwchar>
#include <string>

#include "win/FinalPath.h"
#include "win/Handles.h"

// Why the open file is not this program's own to write; nullptr when it is.
// strExpected is its final path as it must be; empty: not compared.
inline LPCWSTR ForeignFileReason(HANDLE hFile, const std::wstring& strExpected)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!::GetFileInformationByHandle(hFile, &info))
        return L"its kind cannot be told";
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return L"a link or junction";
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return L"a folder";
    if (info.nNumberOfLinks != 1)
        return L"a file with more than one name";
    if (!strExpected.empty() && _wcsicmp(FinalPathOf(hFile).c_str(), strExpected.c_str()) != 0)
        return L"a path that leads outside its folder";
    return nullptr;
}

// The file at strPath, opened or created as described above. An invalid
// handle with *ppszForeign set when something foreign is there; with it
// null when the file cannot be opened for another reason (sharing, rights).
inline CKernelHandle OpenOwnFile(const std::wstring& strPath, DWORD dwAccess, DWORD dwShare,
                                 const std::wstring& strExpected, LPCWSTR* ppszForeign)
{
    *ppszForeign = nullptr;
    // Twice: a file that appears between the two calls of the first round is
    // opened in the second.
    for (int nRound = 0; nRound < 2; ++nRound) {
        for (const DWORD dwDisposition : {static_cast<DWORD>(OPEN_EXISTING), static_cast<DWORD>(CREATE_NEW)}) {
            CKernelHandle file(::CreateFileW(strPath.c_str(), dwAccess, dwShare, nullptr, dwDisposition,
                                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
            if (file.IsValid()) {
                *ppszForeign = ForeignFileReason(file.Get(), strExpected);
                return *ppszForeign ? CKernelHandle() : std::move(file);
            }
            const DWORD dwError = ::GetLastError();
            if (dwError == ERROR_ACCESS_DENIED) {
                // A folder, or a junction to one, cannot be opened as a file.
                const DWORD dwAttributes = ::GetFileAttributesW(strPath.c_str());
                if (dwAttributes != INVALID_FILE_ATTRIBUTES &&
                    (dwAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
                    *ppszForeign = L"a folder, link or junction";
                return CKernelHandle();
            }
            if (dwError != ERROR_FILE_NOT_FOUND && dwError != ERROR_FILE_EXISTS && dwError != ERROR_ALREADY_EXISTS)
                return CKernelHandle();
        }
    }
    // Missing when opened, present when created: a link that leads nowhere.
    *ppszForeign = L"a link that leads nowhere";
    return CKernelHandle();
}

// Removes the name strPath refers to, never what a link there leads to: a
// link or a hard link goes, its target stays as it was.
inline bool RemoveForeignName(const std::wstring& strPath)
{
    const DWORD dwAttributes = ::GetFileAttributesW(strPath.c_str());
    // A junction goes, its folder stays.
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        ::RemoveDirectoryW(strPath.c_str()))
        return true;
    return ::DeleteFileW(strPath.c_str()) != FALSE;
}
