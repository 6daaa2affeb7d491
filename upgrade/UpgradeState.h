// The state file Upgrade.ini: one section, five keys, read and written only
// through the system's profile functions.
#pragma once

#include <windows.h>

#include <string>

extern const wchar_t kUpgradeSection[];
extern const wchar_t kKeyVersion[];
extern const wchar_t kKeyPath[];
extern const wchar_t kKeyOverFlags[];
extern const wchar_t kKeyClearFlags[];
extern const wchar_t kKeyVersionNoTips[];

extern const wchar_t kOverFlagsDone[];   // "over"
extern const wchar_t kFlagTrue[];        // "true"
extern const wchar_t kFlagFalse[];       // "false"

// A value as the program sees it: at most 259 characters, "" when the file,
// section or key is missing.
std::wstring ReadUpgradeValue(LPCWSTR pszIniPath, LPCWSTR pszKey);
void WriteUpgradeValue(LPCWSTR pszIniPath, LPCWSTR pszKey, LPCWSTR pszValue);
