// How the support tools write UTF-16 text to their standard streams: wide
// text straight to a console window, UTF-8 bytes when the stream is
// redirected to a pipe or a file, so that scripts read Chinese texts the same
// way whatever the system's code page.
#pragma once

#include <windows.h>

#include <string>

#include "win/Utf8.h"

// Writes the text to STD_OUTPUT_HANDLE or STD_ERROR_HANDLE; nothing when
// that stream is closed.
void ToolWriteText(DWORD nStdHandle, const std::wstring& strText);

// Writes the bytes unchanged to a pipe or a file.
void ToolWriteBytes(HANDLE hOut, const std::string& strBytes);
