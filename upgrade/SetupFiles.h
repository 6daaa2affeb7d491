// Rules for the setup program's place in the upgrade folder, and the sweep
// that empties the folder of setup programs. No window involved.
#pragma once

#include <windows.h>

#include <string>

// The file name that ends a download address: the text after its last "/",
// stopping before a query ("?") or fragment ("#").
std::wstring SetupNameFromUrl(LPCWSTR pszUrl);

// Whether the name can stand for a file directly inside the folder: not
// empty, "." or "..", no character Windows forbids in file names, no
// reserved device name, no trailing dot or blank, and the whole path within
// MAX_PATH - 1 characters.
bool IsAcceptableSetupName(const std::wstring& strDir, const std::wstring& strName);

// Whether a computed digest is the announced one: exactly, letter case
// included. A file that could not be read has no digest and never matches,
// not even an empty announcement.
bool SetupDigestMatches(LPCWSTR pszLocalMd5, LPCWSTR pszExpectedMd5);

// Deletes every file directly in the folder whose name contains ".exe"
// (letter case as written). Stops at the first file that cannot be deleted
// and returns false; a folder that cannot be searched counts as swept
// (*pbSearched is then false). Sub-folders, and whatever links lead to, are
// never touched.
bool SweepSetupFiles(const std::wstring& strDir, bool* pbSearched = nullptr);
