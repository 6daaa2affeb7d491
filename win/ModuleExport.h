// A function looked up by name in a module this process has loaded: how the
// program reaches what only some versions of a library offer.
#pragma once

#include <windows.h>

// Null when the module is not loaded or has no such export.
template <class TFunction>
TFunction ModuleExport(LPCWSTR pszModule, const char* pszName)
{
    const HMODULE hModule = ::GetModuleHandleW(pszModule);
    if (!hModule)
        return nullptr;
    // Through the generic function type, which any function pointer converts to and back.
    return reinterpret_cast<TFunction>(reinterpret_cast<void (*)()>(::GetProcAddress(hModule, pszName)));
}
