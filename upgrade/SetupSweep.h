// The sweep that empties the upgrade folder of setup programs. No window
// involved.
#pragma once

#include <string>

// Deletes every file directly in the folder whose name contains ".exe"
// (letter case as written), read-only ones included. Stops at the first file
// that cannot be deleted and returns false; a folder that cannot be searched
// counts as swept (*pbSearched is then false). An empty or relative folder is
// refused (false, nothing searched). Sub-folders, and whatever links lead
// to, are never touched. The files of strKeepSetup (see OwnSetupFiles), when
// given, stay.
bool SweepSetupFiles(const std::wstring& strDir, bool* pbSearched = nullptr, const std::wstring& strKeepSetup = {});

// Deletes, by exact path, the files of one setup (see OwnSetupFiles) when
// its path names a setup directly inside the folder: the ".exe" rule above
// misses a name such as "Setup.EXE". Missing files are fine; false at the
// first one that cannot be deleted. Any other path is left alone.
bool SweepOwnSetupFiles(const std::wstring& strDir, const std::wstring& strSetupPath);
