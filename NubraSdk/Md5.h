// MD5 digest of a file as lower-case hexadecimal text.
#pragma once

#include <windows.h>

#include <string>

namespace nubra {

// False (and szHex empty) when the file cannot be opened or read.
bool Md5OfFile(const std::wstring& strPath, wchar_t (&szHex)[33]);
// The same for a file the caller holds open with read access; reads it from
// its start.
bool Md5OfOpenFile(HANDLE hFile, wchar_t (&szHex)[33]);

}  // namespace nubra
