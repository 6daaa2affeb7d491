// What the first records of a run say about it, so that a log sent in by a
// user explains itself: which companion ran, how it was started, and on what.
#pragma once

#include <windows.h>

#include <string>

// The command line with the password (everything after its second ":") shown
// as "***"; an empty password stays empty, so support can see that none was
// given. A line that is not an upgrade command comes back unchanged.
std::wstring MaskedCommandLine(LPCWSTR pszCommandLine);

// "major.minor.build" of the running Windows as the kernel reports it (the
// compatibility layer would otherwise report the version in our manifest).
std::wstring WindowsVersionText();

// The banner's message: version, masked command line, Windows version and
// ANSI code page, which decides how the log's own text is stored.
std::wstring StartBannerText(const std::wstring& strVersion, const std::wstring& strMaskedCommandLine,
                             const std::wstring& strWindowsVersion, UINT uAnsiCodePage);
