// Which name the setup program gets in the upgrade folder, and when it counts
// as verified. No window involved; the console tool takes its setup names from
// here too.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The file name that ends a download address: with its query ("?") and
// fragment ("#") cut off, the text after the last "/".
std::wstring SetupNameFromUrl(LPCWSTR pszUrl);

// Whether the name can stand for a setup program directly inside the folder:
// ends in ".exe" (any letter case); not the state file, nor a partial
// download's ".part" or ".part.meta"; no character Windows forbids in file
// names, no reserved device name, no trailing dot or blank, and the whole
// path, with the longest name of its companion files (".part.meta"), within
// MAX_PATH - 1 characters.
bool IsAcceptableSetupName(const std::wstring& strDir, const std::wstring& strName);

// The files a setup of that path brings into the folder: the setup itself
// and the partial download with its note, whatever the letter case of the
// setup's name.
std::vector<std::wstring> OwnSetupFiles(const std::wstring& strSetupPath);
// Whether a file (not a folder) is at strPath now.
bool IsFilePresent(const std::wstring& strPath);
// Whether any of a setup's own files is still there.
bool IsAnyOwnSetupFileLeft(const std::wstring& strSetupPath);

// Whether the folder is an absolute path with its trailing backslash, so that
// nothing relative to the current folder or drive can be meant.
bool IsOwnFolderPath(const std::wstring& strDir);
