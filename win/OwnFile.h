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
//
// Not every reparse point is a link, though. A cloud-sync client keeps the
// files of a synced Documents folder as placeholders whose data its filter
// brings in when the file is opened normally; refusing them would refuse
// the log for every run there. Only the kinds that stand for another name,
// or for no data at all, are refused; any other is opened again normally,
// and must then still be the very same file.
#pragma once

#include <windows.h>

#include <cwchar>
#include <string>

#include "win/FileIdentity.h"
#include "win/FinalPath.h"
#include "win/Handles.h"

// Whether a reparse point of this tag is foreign to a file of ours: every
// tag that stands for another name (links, junctions, mount points, and any
// later kind that says so in its name-surrogate bit), and the few that are
// no file of data (an application alias, a socket, the special files of a
// Linux subsystem) although their bit is clear. Any other tag (a cloud-sync
// placeholder, deduplicated or compressed data, a container's files, a
// kind not known yet) is accepted: its filter serves the file's own data.
inline bool IsForeignReparseTag(DWORD dwTag)
{
    if (IsReparseTagNameSurrogate(dwTag))
        return true;
    switch (dwTag) {
    case static_cast<DWORD>(IO_REPARSE_TAG_APPEXECLINK):
    case static_cast<DWORD>(IO_REPARSE_TAG_AF_UNIX):
    case 0x80000024:  // a Linux subsystem's FIFO
    case 0x80000025:  // ... character device
    case 0x80000026:  // ... block device
        return true;
    default:
        return false;
    }
}

// Whether an open failed only because another program has the file open
// (a scanner, a sync client, the client reading it): worth trying again a
// moment later, and no evidence about the file.
inline bool IsFileInUseError(DWORD dwError)
{
    return dwError == ERROR_SHARING_VIOLATION || dwError == ERROR_LOCK_VIOLATION;
}

// Why the open file is not this program's own to write; nullptr when it is.
// strExpected is its final path as it must be; empty: not compared.
inline LPCWSTR ForeignFileReason(HANDLE hFile, const std::wstring& strExpected)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!::GetFileInformationByHandle(hFile, &info))
        return L"its kind cannot be told";
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        FILE_ATTRIBUTE_TAG_INFO tag = {};
        if (!::GetFileInformationByHandleEx(hFile, FileAttributeTagInfo, &tag, sizeof(tag)))
            return L"a reparse point of a kind that cannot be told";
        if (IsForeignReparseTag(tag.ReparseTag))
            return L"a link or junction";
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return L"a folder";
    if (info.nNumberOfLinks != 1)
        return L"a file with more than one name";
    if (!strExpected.empty() && _wcsicmp(FinalPathOf(hFile).c_str(), strExpected.c_str()) != 0)
        return L"a path that leads outside its folder";
    return nullptr;
}

inline bool IsReparsePoint(HANDLE hFile)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    return ::GetFileInformationByHandle(hFile, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// An accepted reparse point (see above), opened again normally so that its
// filter can bring the data in. Foreign when what opens is not the file that
// was examined (unfollowed): a link put in its place meanwhile, or a filter
// that leads elsewhere. Invalid without *ppszForeign when it cannot be
// opened; GetLastError() then says why.
inline CKernelHandle OpenFollowingOwnFile(const std::wstring& strPath, const FILE_IDENTITY& unfollowed, DWORD dwAccess,
                                          DWORD dwShare, const std::wstring& strExpected, LPCWSTR* ppszForeign)
{
    *ppszForeign = nullptr;
    CKernelHandle file(
        ::CreateFileW(strPath.c_str(), dwAccess, dwShare, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return CKernelHandle();
    FILE_IDENTITY followed = {};
    if (!IdentityOfFile(file.Get(), &followed) || !SameFile(followed, unfollowed))
        *ppszForeign = L"a reparse point that leads to another file";
    else
        *ppszForeign = ForeignFileReason(file.Get(), strExpected);
    return *ppszForeign ? CKernelHandle() : std::move(file);
}

// What kind of foreign thing stands at a path that refused to open as a
// file; nullptr when it may well be a file of ours that is closed to us.
inline LPCWSTR ForeignKindAt(const std::wstring& strPath)
{
    WIN32_FIND_DATAW found = {};
    const CFindHandle find(
        ::FindFirstFileExW(strPath.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
    if (!find.IsValid()) {
        const DWORD dwAttributes = ::GetFileAttributesW(strPath.c_str());
        if (dwAttributes != INVALID_FILE_ATTRIBUTES &&
            (dwAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
            return L"a folder, link or junction";
        return nullptr;
    }
    // For a reparse point, the search names its tag here.
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsForeignReparseTag(found.dwReserved0))
        return L"a link or junction";
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return L"a folder";
    return nullptr;
}

// The file at strPath, opened or created as described above. An invalid
// handle with *ppszForeign set when something foreign is there; with it
// null when the file cannot be opened for another reason (sharing, rights),
// which GetLastError() then tells.
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
                if (*ppszForeign)
                    return CKernelHandle();
                if (!IsReparsePoint(file.Get()))
                    return file;
                FILE_IDENTITY unfollowed = {};
                if (!IdentityOfFile(file.Get(), &unfollowed)) {
                    *ppszForeign = L"its kind cannot be told";
                    return CKernelHandle();
                }
                // Closed first: the second open asks for the same access and
                // sharing, which this handle would deny.
                file.Reset();
                return OpenFollowingOwnFile(strPath, unfollowed, dwAccess, dwShare, strExpected, ppszForeign);
            }
            const DWORD dwError = ::GetLastError();
            if (dwError == ERROR_ACCESS_DENIED) {
                // A folder, or a junction to one, cannot be opened as a file.
                *ppszForeign = ForeignKindAt(strPath);
                ::SetLastError(dwError);
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
    const DWORD dwShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const CKernelHandle file(::CreateFileW(strPath.c_str(), FILE_READ_ATTRIBUTES, dwShareAll, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.IsValid() || ForeignFileReason(file.Get(), strExpected))
        return false;
    if (!IsReparsePoint(file.Get()))
        return true;
    FILE_IDENTITY unfollowed = {};
    LPCWSTR pszForeign = nullptr;
    return IdentityOfFile(file.Get(), &unfollowed) &&
           OpenFollowingOwnFile(strPath, unfollowed, FILE_READ_ATTRIBUTES, dwShareAll, strExpected, &pszForeign)
               .IsValid();
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

// Deletes the file open as hFile (opened with DELETE access) through that
// handle, never by its name, which another program may have turned into a
// link since the handle was checked.
inline bool DeleteOpenFile(HANDLE hFile)
{
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return ::SetFileInformationByHandle(hFile, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

// Deletes the file at strPath only when it is this program's own (see
// ForeignFileReason): a link or a second name is left as it is, and so is
// what it leads to.
inline bool DeleteOwnFile(const std::wstring& strPath, const std::wstring& strExpected)
{
    const CKernelHandle file(::CreateFileW(strPath.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return file.IsValid() && !ForeignFileReason(file.Get(), strExpected) && DeleteOpenFile(file.Get());
}
