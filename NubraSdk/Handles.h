// Move-only owners for the handle kinds the library uses, so that functions
// with many exits never clean up by hand.
#pragma once

#include <windows.h>
#include <wininet.h>

namespace nubra {

template <typename Traits>
class CUniqueHandle {
public:
    using T = typename Traits::Type;
    CUniqueHandle() = default;
    explicit CUniqueHandle(T h) : m_h(h) {}
    ~CUniqueHandle() { Reset(); }
    CUniqueHandle(CUniqueHandle&& o) noexcept : m_h(o.Release()) {}
    CUniqueHandle& operator=(CUniqueHandle&& o) noexcept
    {
        if (this != &o) Reset(o.Release());
        return *this;
    }
    CUniqueHandle(const CUniqueHandle&) = delete;
    CUniqueHandle& operator=(const CUniqueHandle&) = delete;

    T Get() const { return m_h; }
    explicit operator bool() const { return Traits::Valid(m_h); }
    T Release()
    {
        T h = m_h;
        m_h = Traits::Invalid();
        return h;
    }
    void Reset(T h = Traits::Invalid())
    {
        if (Traits::Valid(m_h)) Traits::Close(m_h);
        m_h = h;
    }

private:
    T m_h = Traits::Invalid();
};

struct KernelTraits {
    using Type = HANDLE;
    static HANDLE Invalid() { return nullptr; }
    static bool Valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { ::CloseHandle(h); }
};

struct InetTraits {
    using Type = HINTERNET;
    static HINTERNET Invalid() { return nullptr; }
    static bool Valid(HINTERNET h) { return h != nullptr; }
    static void Close(HINTERNET h) { ::InternetCloseHandle(h); }
};

using CHandle = CUniqueHandle<KernelTraits>;
using CInetHandle = CUniqueHandle<InetTraits>;

// Threads of this DLL hold a reference on it so that a caller who unloads the
// library while a transfer or the watch still runs does not pull the code out
// from under them; the thread drops it with FreeLibraryAndExitThread.
HMODULE AddRefThisModule();

// Starts a thread that owns a module reference; returns false when the
// thread could not be created (the reference is dropped again then).
bool StartLibraryThread(LPTHREAD_START_ROUTINE pfn, void* pArg, HANDLE* phThread);

// Ends a thread started by StartLibraryThread, dropping its reference.
[[noreturn]] void ExitLibraryThread(DWORD dwCode);

}  // namespace nubra
