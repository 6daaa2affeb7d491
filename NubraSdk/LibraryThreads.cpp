// Module references for the library's own threads.
#include "NubraSdk/LibraryThreads.h"

namespace nubra {

HMODULE AddRefThisModule()
{
    HMODULE hModule = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                         reinterpret_cast<LPCWSTR>(&AddRefThisModule), &hModule);
    return hModule;
}

bool StartLibraryThread(LPTHREAD_START_ROUTINE pfn, void* pArg, HANDLE* phThread)
{
    HMODULE hModule = AddRefThisModule();
    HANDLE hThread = ::CreateThread(nullptr, 0, pfn, pArg, 0, nullptr);
    if (!hThread) {
        if (hModule) ::FreeLibrary(hModule);
        return false;
    }
    if (phThread)
        *phThread = hThread;
    else
        ::CloseHandle(hThread);
    return true;
}

void ExitLibraryThread(DWORD dwCode)
{
    HMODULE hModule = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&ExitLibraryThread), &hModule);
    if (hModule) ::FreeLibraryAndExitThread(hModule, dwCode);
    ::ExitThread(dwCode);
}

}  // namespace nubra
