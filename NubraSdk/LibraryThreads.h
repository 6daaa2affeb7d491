// The library's own threads and the module reference each of them holds, so
// that a caller who unloads the library while a transfer or the watch still
// runs does not pull the code out from under them.
#pragma once

#include <windows.h>

namespace nubra {

// Starts a thread that owns a module reference; false when the thread could
// not be created (the reference is dropped again then).
bool StartLibraryThread(LPTHREAD_START_ROUTINE pfn, void* pArg, HANDLE* phThread);

// Ends a thread started by StartLibraryThread, dropping its reference.
[[noreturn]] void ExitLibraryThread(DWORD dwCode);

}  // namespace nubra
