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
// Held first, then digested: the network library's digest by path, taken
// beside the hold, reads exactly the held bytes, since nobody can write them
// meanwhile. Where a library cannot read beside the hold (it opens the file
// unshared), the platform's hash reads it through the held handle instead.
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

    // Holds the file (releasing whatever was held before). Anything but Held
    // leaves nothing held. Busy is not evidence against the file: someone
    // (a scanner, a library still closing it) has it open in a way the hold
    // cannot share, and it is worth asking again a moment later.
    enum class HoldResult {
        Held,
        Busy,       // a sharing violation or a lock
        Missing,    // no such file
        Elsewhere,  // its path leads elsewhere through a link or junction (logged)
        Failed,     // another error; LastError() tells which
    };
    HoldResult Hold(const std::wstring& strPath);
    // The held file's digest by pszAlgorithm (see DigestOfOpenFile) in
    // lower-case hex, read from its start; empty when it cannot be read.
    std::wstring DigestHeld(LPCWSTR pszAlgorithm) const;
    // Hold, then DigestHeld; empty, and nothing held, when either fails.
    std::wstring HoldAndDigest(const std::wstring& strPath, LPCWSTR pszAlgorithm = BCRYPT_MD5_ALGORITHM);
    // The held file's size as it was when it was held.
    ULONGLONG Size() const { return (static_cast<ULONGLONG>(m_info.nFileSizeHigh) << 32) | m_info.nFileSizeLow; }
    // The system's error of the last Hold that failed.
    DWORD LastError() const { return m_dwLastError; }

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
    // Whether the held file, reached through its held folder, is where its
    // path says, with no link or junction on the way.
    bool IsWhereItsPathSays(const std::wstring& strPath) const;
    HoldResult Failing(DWORD dwError);
    std::wstring m_strTrustedRoot;
    CKernelHandle m_folder;
    CKernelHandle m_file;
    std::wstring m_strPath;
    BY_HANDLE_FILE_INFORMATION m_info = {};
    DWORD m_dwLastError = 0;
};
