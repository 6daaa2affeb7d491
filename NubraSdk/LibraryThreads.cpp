// Module references for the library's own threads.
#include "NubraSdk/LibraryThreads.h"

#include "win/Handles.h"

namespace nubra {

bool StartLibraryThread(LPTHREAD_START_ROUTINE pfn, void* pArg, HANDLE* phThread)
{
    // The reference is dropped here only if no thread was started; a started
    // thread owns it and gives it back in ExitLibraryThread.
    HMODULE hModule = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&StartLibraryThread),
                         &hModule);
    CModule module(hModule);
    CKernelHandle thread(::CreateThread(nullptr, 0, pfn, pArg, 0, nullptr));
    if (!thread)
        return false;
    module.Release();
    if (phThread)
        *phThread = thread.Release();
    return true;
}

void ExitLibraryThread(DWORD dwCode)
{
    HMODULE hModule = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&ExitLibraryThread), &hModule);
    if (hModule)
        ::FreeLibraryAndExitThread(hModule, dwCode);
    ::ExitThread(dwCode);
}

}  // namespace nubra
