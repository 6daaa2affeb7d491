// Size and digest text of a local setup file, in the forms the order carries.
#pragma once

#include <windows.h>

#include <string>

// Fills the decimal size and the digest as lower-case hexadecimal digits:
// the MD5 (32 digits, computed by the network library's rule, the form the
// companion compares case-sensitively) or, with bSha256, the SHA-256 (64
// digits). False with a message when the file cannot be read or is larger
// than the companion's 32-bit signed size.
bool DigestSetupFile(const std::wstring& strPath, bool bSha256, std::wstring& strSize, std::wstring& strDigest,
                     std::wstring& strError);

// The SHA-256 of a byte buffer as 64 lower-case hexadecimal digits; empty on
// failure.
std::wstring Sha256Text(const void* pData, size_t cbData);
