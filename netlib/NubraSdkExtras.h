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

// The library's own records for the program's log (retries and their
// reasons, refused answers): the program hands it a sink, which the library
// may call from any of its threads. nSeverity is 2 (information), 3
// (warning) or 4 (error); pszFunction names the library's function
// ("Nubra_SDK::Transfer"); pszText is one line, without a severity word.
// Texts from the network are the program's to escape.
#define NUBRA_SET_LOG_SINK_NAME "NubraSetLogSink"
typedef void (*PFN_NUBRA_LOG_SINK)(int nSeverity, LPCWSTR pszFunction, LPCWSTR pszText);
typedef void (*PFN_NUBRA_SET_LOG_SINK)(PFN_NUBRA_LOG_SINK pfnSink);
