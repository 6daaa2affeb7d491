// Where the log lives: <Documents>\DazuvuVev\log\Upgrade\Upgrade.log. The
// companion creates the folders and writes there; the support tools only
// read from the same place, so both take it from here.
#pragma once

#include <windows.h>

#include <string>

// The application folder in the documents folder, "<Documents>\DazuvuVev",
// without creating anything; empty when the documents folder is unknown.
std::wstring DocumentsAppDirPath();
// The log's folder inside the application folder.
std::wstring LogFolderUnder(const std::wstring& strAppDir);
// The log file inside the application folder of the documents folder; empty
// when that folder is unknown, so that the log falls back to the file beside
// the executable instead of a folder at the root of the current drive.
std::wstring LogFilePathUnder(const std::wstring& strAppDir);
