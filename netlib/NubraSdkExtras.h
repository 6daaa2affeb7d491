// What our stand-in network library offers beyond the client's own. The
// program never imports these: it looks each one up in the loaded library
// and keeps the plain interface's behaviour when it is missing.
#pragma once

#include <windows.h>

// The file's MD5, as Md5CalFile writes it, for a file the caller holds open
// with read access, read from its start: the caller can keep others from
// changing the file between the digest and its use. cchMd5 counts the buffer.
#define NUBRA_MD5_CAL_HANDLE_NAME "Md5CalHandle"
typedef BOOL (*PFN_NUBRA_MD5_CAL_HANDLE)(HANDLE hFile, LPWSTR pszMd5, DWORD cchMd5);

// The library's module name, for the lookups.
#define NUBRA_LIBRARY_NAME L"NubraSdk.dll"
