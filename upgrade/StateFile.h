// The state file Upgrade.ini: one section, five keys, read and written only
// through the system's profile functions.
#pragma once

#include <windows.h>

#include <string>

#include "upgrade/UpgradeResult.h"

extern const wchar_t kUpgradeFolderName[];  // "DazuvuvevUpgrade", in the application-data folder
extern const wchar_t kStateFileName[];      // "Upgrade.ini", in the upgrade folder
extern const wchar_t kUpgradeSection[];
extern const wchar_t kKeyVersion[];
extern const wchar_t kKeyPath[];
extern const wchar_t kKeyOverFlags[];
extern const wchar_t kKeyClearFlags[];
extern const wchar_t kKeyVersionNoTips[];
// How the last run ended (see UpgradeResult.h), when, and which process it
// was: read by the client and support, ignored by older readers.
extern const wchar_t kKeyResult[];
extern const wchar_t kKeyResultTime[];
extern const wchar_t kKeyResultPid[];

extern const wchar_t kOverFlagsDone[];  // "over"
extern const wchar_t kFlagTrue[];       // "true"
extern const wchar_t kFlagFalse[];      // "false"

// The upgrade folder "%APPDATA%\DazuvuvevUpgrade\", with its trailing
// backslash; the application-data folder is created when missing, the upgrade
// folder is not. Empty when there is no application-data folder (the path
// would then be relative to the current drive, outside anything this program
// owns) or the state file's path would not fit MAX_PATH.
std::wstring UpgradeFolderPath();
// The same folder inside a given application-data folder, without checks;
// the console tool reads the state file there without creating anything.
std::wstring UpgradeFolderUnder(const std::wstring& strAppData);

// Creates the state file, empty, when it is absent and proves it can be
// written; an existing file keeps its content and encoding. A state file
// that is not the program's own (a link or junction, a file with a second
// name, a path leading outside the upgrade folder) is removed, whatever it
// leads to left untouched, and replaced by a new, empty one; every write
// checks the same first. A file that another program has open (a scanner,
// the client reading it) is tried again briefly; still in use, it counts as
// prepared with *pbInUse set, and each order waits until it can be read.
bool PrepareStateFile(LPCWSTR pszIniPath, bool* pbInUse = nullptr);
// Whether another program has the state file open so that it cannot be read
// now: its values would read as empty, which looks like a new version.
bool IsStateFileInUse(LPCWSTR pszIniPath);
// Told of every state file refused that way, with the reason; set once at
// start-up by the part of the program that keeps the log.
typedef void (*PFN_STATE_FILE_REFUSED)(LPCWSTR pszIniPath, LPCWSTR pszWhy);
void SetStateFileRefusalSink(PFN_STATE_FILE_REFUSED pfnRefused);

// A value as the program sees it: at most 259 characters, "" when the file,
// section or key is missing.
// Without a state file path nothing is read or written: the profile
// functions would take a bare name from the system folder.
std::wstring ReadUpgradeValue(LPCWSTR pszIniPath, LPCWSTR pszKey);
// The file stays in the ANSI code page, the form older companions and other
// readers know, while every value fits it. The first value that does not is
// written after the whole file has been rewritten as UTF-16LE with its
// byte-order mark, every key kept, so that the text survives. A file in use
// is tried again briefly; false when the value could not be written.
bool WriteUpgradeValue(LPCWSTR pszIniPath, LPCWSTR pszKey, LPCWSTR pszValue);

// Records how this run ends: "result", in local time "resulttime", and
// "resultpid", this process's id, which tells runs within one second apart.
void WriteUpgradeResult(LPCWSTR pszIniPath, UpgradeResult result);

// Whether the text survives a trip through the ANSI code page unchanged.
bool FitsAnsiCodePage(LPCWSTR pszText);
// Rewrites an ANSI (or UTF-8 with its mark) state file as UTF-16LE with its
// mark, through a new file that replaces it; true when it is UTF-16 now. A
// file that cannot be read or replaced stays as it was.
bool ConvertStateFileToUtf16(LPCWSTR pszIniPath);
