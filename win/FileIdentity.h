// What a file is, whatever path leads to it: its volume and its index on
// that volume. A link and its target, or a file before and after a rename,
// compare equal; a file planted at the same path does not.
#pragma once

#include <windows.h>

#include <string>

#include "win/Handles.h"

struct FILE_IDENTITY {
    DWORD dwVolumeSerial;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
};

inline bool IdentityOfFile(HANDLE hFile, FILE_IDENTITY* pIdentity)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!::GetFileInformationByHandle(hFile, &info))
        return false;
    *pIdentity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return true;
}

// The file the path leads to now, links followed. Asks for attributes only,
// so that no sharing rule of another holder stands in the way.
inline bool IdentityOfPath(const std::wstring& strPath, FILE_IDENTITY* pIdentity)
{
    const CKernelHandle h(::CreateFileW(strPath.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS /* folders too */, nullptr));
    return h.IsValid() && IdentityOfFile(h.Get(), pIdentity);
}

inline bool SameFile(const FILE_IDENTITY& a, const FILE_IDENTITY& b)
{
    return a.dwVolumeSerial == b.dwVolumeSerial && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}
