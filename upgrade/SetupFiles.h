// Rules for the setup program's place in the upgrade folder, and the sweep
// that empties the folder of setup programs. No window involved.
#pragma once

#include <windows.h>

#include <string>

// The file name that ends a download address: with its query ("?") and
// fragment ("#") cut off, the text after the last "/".
std::wstring SetupNameFromUrl(LPCWSTR pszUrl);

// Whether the name can stand for a setup program directly inside the folder:
// ends in ".exe" (any letter case); not the state file, nor a partial
// download's ".part" or ".part.meta"; no character Windows forbids in file
// names, no reserved device name, no trailing dot or blank, and the whole
// path within MAX_PATH - 1 characters.
bool IsAcceptableSetupName(const std::wstring& strDir, const std::wstring& strName);

// Whether a computed digest is the announced one: exactly, letter case
// included. A file that could not be read has no digest and never matches,
// not even an empty announcement.
bool SetupDigestMatches(LPCWSTR pszLocalMd5, LPCWSTR pszExpectedMd5);

// Whether the folder is an absolute path with its trailing backslash, so that
// nothing relative to the current folder or drive can be meant.
bool IsOwnFolderPath(const std::wstring& strDir);

// Deletes every file directly in the folder whose name contains ".exe"
// (letter case as written), read-only ones included. Stops at the first file
// that cannot be deleted and returns false; a folder that cannot be searched
// counts as swept (*pbSearched is then false). An empty or relative folder is
// refused (false, nothing searched). Sub-folders, and whatever links lead
// to, are never touched.
bool SweepSetupFiles(const std::wstring& strDir, bool* pbSearched = nullptr);
