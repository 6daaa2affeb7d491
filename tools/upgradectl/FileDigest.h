// Size and MD5 text of a local setup file, in the forms the order carries.
#pragma once

#include <windows.h>

#include <string>

// Fills the decimal size and the MD5 as 32 lower-case hexadecimal digits
// (computed by the network library's rule, the form the companion compares
// case-sensitively). False with a message when the file cannot be read or is
// larger than the companion's 32-bit signed size.
bool DigestSetupFile(const std::wstring& strPath, std::wstring& strSize, std::wstring& strMD5, std::wstring& strError);
