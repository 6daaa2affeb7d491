// What an unhandled fault in any thread of the companion leaves for
// support: a small minidump beside the log and one log record that names
// it. Then the process ends, whatever the dump did.
//
// The dump holds the threads' stacks (filtered to what a stack trace needs),
// the module list and the fault, never the heap or data sections: the log
// folder may be synced to the cloud, and memory holds the proxy password.
// It is written only where the log writes, as a file of the log's own
// (win/OwnFile.h), so that a link placed in the folder cannot send it
// elsewhere; a log that is refused or not confined to its folder gets no
// dump. At most kKeptCrashDumps stay: older ones go, and only files whose
// names the companion writes, and only when they are its own.
//
// The fault may have hit while a thread held the log's lock; the record is
// written only when that lock can be had at once, so the last words never
// hang the process. dbghelp.dll is loaded from the system folder at the
// fault, never from the client's folder, which anyone may put a DLL into.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

const size_t kKeptCrashDumps = 3;

// From now on an unhandled fault in any thread ends in the crash record.
void InstallCrashRecord();

// "Upgrade-YYYYMMDD-HHMMSS-PID.dmp": names sort by time.
std::wstring CrashDumpName(const SYSTEMTIME& st, DWORD dwProcessId);
// Exactly a name CrashDumpName gives (letter case included).
bool IsCrashDumpName(const std::wstring& strName);
