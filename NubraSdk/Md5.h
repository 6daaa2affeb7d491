// MD5 digest of a file as lower-case hexadecimal text.
#pragma once

#include <windows.h>

#include <string>

#include "win/Handles.h"

namespace nubra {

// One MD5 computation, fed in pieces.
class CMd5 {
public:
    CMd5();

    // False when the system's MD5 provider is not available.
    bool IsValid() const { return m_hHash.IsValid(); }
    bool Add(const void* pData, DWORD cbData);
    // The digest as 32 lower-case hexadecimal digits; false (and szHex
    // empty) when the computation failed. Ends the computation.
    bool Finish(wchar_t (&szHex)[33]);

private:
    CBCryptAlgorithm m_hAlg;
    CBCryptHash m_hHash;  // after its provider, so that it goes first
};

// False (and szHex empty) when the file cannot be opened or read.
bool Md5OfFile(const std::wstring& strPath, wchar_t (&szHex)[33]);
// The same for a file the caller holds open with read access; reads it from
// its start.
bool Md5OfOpenFile(HANDLE hFile, wchar_t (&szHex)[33]);
// The MD5 of a byte buffer in the same form; empty on failure.
std::wstring Md5Text(const void* pData, size_t cbData);

}  // namespace nubra
