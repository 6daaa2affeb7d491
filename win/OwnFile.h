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

// Whether the file at strPath, as it is now, is this program's own (see
// ForeignFileReason); false when there is none.
inline bool IsOwnFileAt(const std::wstring& strPath, const std::wstring& strExpected)
{
    const CKernelHandle file(::CreateFileW(strPath.c_str(), FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return file.IsValid() && !ForeignFileReason(file.Get(), strExpected);
}

// Puts a new, empty file in the place of whatever name strPath is: a link,
// or one of several names of a file, goes; what it leads to stays as it
// was. Deleting the name would not do: some systems (Wine among them)
// delete a link's target instead. So a new file is made under a fresh name
// beside it and moved over the name.
inline bool ReplaceWithEmptyFile(const std::wstring& strPath)
{
    const size_t nSlash = strPath.find_last_of(L"\\/");
    wchar_t szNew[MAX_PATH] = {};
    if (nSlash == std::wstring::npos ||
        !::GetTempFileNameW(strPath.substr(0, nSlash).c_str(), L"new", 0 /* a fresh, unused name */, szNew))
        return false;
    // A new file that cannot be moved stays: deleting a name that someone
    // else may have replaced meanwhile is the very thing avoided here.
    return ::MoveFileExW(szNew, strPath.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}
