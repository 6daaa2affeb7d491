// Formatted text output of the console tool, written the way of every
// support tool (tools/console/ToolConsole.h).
#pragma once

#include <windows.h>

#include <string>

#include "tools/console/ToolConsole.h"

void CtlPrintf(LPCWSTR pszFormat, ...);
// Prefixed with the tool's name, on standard error.
void CtlError(LPCWSTR pszFormat, ...);
