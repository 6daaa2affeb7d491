// Whether the shared instance slot names a newer instance that must end this
// one. No window involved.
//
// The slot is shared by every process started from the executable, in every
// session of the machine: on a terminal server, or with fast user switching,
// another user's start would otherwise end this user's companion in the
// middle of its download.
#pragma once

#include <windows.h>

// The session a process runs in; false when it cannot be told.
typedef bool (*PFN_SESSION_OF)(DWORD dwPid, DWORD* pdwSession);
bool SessionOfProcess(DWORD dwPid, DWORD* pdwSession);

// True when dwSlotPid is another process of this session (or one whose
// session cannot be told, as every newer start counted before).
bool IsNewerInstance(DWORD dwSlotPid, DWORD dwOwnPid, DWORD dwOwnSession, PFN_SESSION_OF pfnSessionOf);
