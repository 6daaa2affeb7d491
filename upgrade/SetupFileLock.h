// The setup file held open from its digest until it has been started, so that
// what runs is what was verified. No window involved.
//
// The hold is a read handle that shares reading only: while it is open,
// nothing can open the file for writing, replace it, rename it or delete it,
// yet the shell can still open it to start it, and so can a network library
// that opens it by path to digest it.
//
// The digest text is the network library's (the client compares in its
// form), so it comes from the library: through the held handle where our
// own library offers that, else by path while the file is held. A library
// that cannot read a held file digests it first; the file is then held and
// its identity (volume, file index, size, last write) must be the one it had
// before the digest.
#pragma once

#include <windows.h>

#include <string>

#include "netlib/NubraSdkExtras.h"
#include "win/Handles.h"

// The network library's ways to digest a file.
struct SETUP_DIGESTER {
    PFN_NUBRA_MD5_CAL_HANDLE pfnByHandle;  // null when the library has no such extra
    BOOL (*pfnByPath)(LPCWSTR pszFile, LPWSTR pszMd5);
};
// Those of the loaded NubraSdk.dll.
SETUP_DIGESTER LibraryDigester();

class CSetupFileLock {
public:
    explicit CSetupFileLock(const SETUP_DIGESTER& digester = LibraryDigester()) : m_digester(digester) {}
    CSetupFileLock(const CSetupFileLock&) = delete;
    CSetupFileLock& operator=(const CSetupFileLock&) = delete;

    // Holds the file (releasing whatever was held before) and returns its MD5
    // as the network library writes it; empty, and nothing held, when the
    // file cannot be held or read, or changed while it was digested. A writer
    // that is still closing the file is given a moment.
    std::wstring HoldAndDigest(const std::wstring& strPath);

    bool IsHeld() const { return m_file.IsValid(); }
    // Held, and still the file it was when its digest was taken (volume,
    // index, size, last write). Costs no read of the contents; it catches
    // writers that the sharing rules do not stop (another system writing to
    // the same disk), which then call for a new digest.
    bool IsUnchanged() const;
    // The path the held file was opened under; empty when nothing is held.
    const std::wstring& Path() const { return m_strPath; }
    // The held file, for checks that must read exactly the verified bytes.
    HANDLE Handle() const { return m_file.Get(); }
    void Release();

private:
    bool Hold(const std::wstring& strPath);
    std::wstring DigestHeld(const std::wstring& strPath);
    std::wstring DigestByPath(const std::wstring& strPath) const;

    SETUP_DIGESTER m_digester;
    CKernelHandle m_file;
    std::wstring m_strPath;
    BY_HANDLE_FILE_INFORMATION m_info = {};
};
