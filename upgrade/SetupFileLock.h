// The setup file held open from its digest until it has been started, so that
// what runs is what was verified. No window involved.
//
// The hold is a read handle that shares reading only: while it is open,
// nothing can open the file for writing, replace it, rename it or delete it,
// yet the shell can still open it to start it. Its digest is taken through
// the same handle, so the file is read once and the verified bytes are the
// held ones.
#pragma once

#include <windows.h>

#include <string>

#include "win/Handles.h"

class CSetupFileLock {
public:
    CSetupFileLock() = default;
    CSetupFileLock(const CSetupFileLock&) = delete;
    CSetupFileLock& operator=(const CSetupFileLock&) = delete;

    // Holds the file (releasing whatever was held before) and returns its MD5
    // as the network library writes it; empty, and nothing held, when the
    // file cannot be held or read. A writer that is still closing the file
    // is given a moment.
    std::wstring HoldAndDigest(const std::wstring& strPath);

    bool IsHeld() const { return m_file.IsValid(); }
    // Held, and its size and last write time are still those it had when
    // its digest was taken. Costs no read of the contents; it catches
    // writers that the sharing rules do not stop (another system writing to
    // the same disk), which then call for a new digest.
    bool IsUnchanged() const;
    // The path the held file was opened under; empty when nothing is held.
    const std::wstring& Path() const { return m_strPath; }
    void Release();

private:
    CKernelHandle m_file;
    std::wstring m_strPath;
    BY_HANDLE_FILE_INFORMATION m_info = {};
};
