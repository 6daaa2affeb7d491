// The hostile peer's commands that reach the companion through the system
// rather than its window (see HostilePeer.cpp for their command lines).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

int ForgeSlot(const std::wstring& strExe, const std::vector<DWORD>& pids);
int DecoyWindow(DWORD dwSeconds);
int RunAsImpostor();
