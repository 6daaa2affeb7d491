// The setup file held open from its digest until it has been started, so that
// what runs is what was verified. No window involved.
//
// The hold is a read handle that shares reading only: while it is open,
// nothing can open the file for writing, replace it, rename it or delete it,
// yet the shell can still open it to start it, and so can a network library
// that opens it by path to digest it. The shell finds the file by its path
// again, so the folder is held too, without delete or rename sharing, and a
// path that a link or junction redirects anywhere below the trusted root
// (the application-data folder) is not held at all.
//
// Its digest is taken through the held handle by the platform's hash: the
// network library's digest by path comes first, while nothing of ours has
// the file open (a library may open it without sharing), and this one then
// proves that the held file is the one the library read.
#pragma once

#include <windows.h>

#include <bcrypt.h>

#include <string>

#include "win/FileIdentity.h"
#include "win/Handles.h"

class CSetupFileLock {
public:
    CSetupFileLock() = default;
    CSetupFileLock(const CSetupFileLock&) = delete;
    CSetupFileLock& operator=(const CSetupFileLock&) = delete;

    // The folder below which no link may redirect the setup's path; empty:
    // only the setup's own folder and the file are checked.
    void SetTrustedRoot(const std::wstring& strRoot) { m_strTrustedRoot = strRoot; }

    // Holds the file (releasing whatever was held before) and returns its
    // digest by pszAlgorithm (see DigestOfOpenFile) in lower-case hex; empty,
    // and nothing held, when the file cannot be held or read. A writer that
    // is still closing the file is given a moment.
    std::wstring HoldAndDigest(const std::wstring& strPath, LPCWSTR pszAlgorithm = BCRYPT_MD5_ALGORITHM);
    // Holds the file (releasing whatever was held before) for a check made
    // through Handle(); false, and nothing held, when it cannot be held.
    bool HoldOnly(const std::wstring& strPath);

    bool IsHeld() const { return m_file.IsValid(); }
    // Held, and still the file it was when its digest was taken (volume,
    // index, size, last write). Costs no read of the contents; it catches
    // writers that the sharing rules do not stop (another system writing to
    // the same disk), which then call for a new digest.
    bool IsUnchanged() const;
    // Held, and its path still leads to the held file, with no link on the
    // way: what the shell will open by that path is what was verified. Where
    // the system lets a held folder be renamed (Wine does), a file planted at
    // the old path is caught here.
    bool IsAtItsPath() const;
    // The path the held file was opened under; empty when nothing is held.
    const std::wstring& Path() const { return m_strPath; }
    // The held file, for checks that must read exactly the verified bytes.
    HANDLE Handle() const { return m_file.Get(); }
    // The held file's volume and index: what a process started from it runs.
    FILE_IDENTITY Identity() const
    {
        return {m_info.dwVolumeSerialNumber, m_info.nFileIndexHigh, m_info.nFileIndexLow};
    }
    void Release();

private:
    bool Hold(const std::wstring& strPath);
    // Whether the held file, reached through its held folder, is where its
    // path says, with no link or junction on the way.
    bool IsWhereItsPathSays(const std::wstring& strPath) const;
    std::wstring m_strTrustedRoot;
    CKernelHandle m_folder;
    CKernelHandle m_file;
    std::wstring m_strPath;
    BY_HANDLE_FILE_INFORMATION m_info = {};
};
