// Closes a kernel handle (file, process, snapshot, mutex…) on every way out of
// a function. Both failure values of the system's calls, null and
// INVALID_HANDLE_VALUE, count as no handle.
#pragma once

#include <windows.h>

class CKernelHandle {
public:
    explicit CKernelHandle(HANDLE h = nullptr) : m_h(h) {}
    ~CKernelHandle()
    {
        if (IsValid())
            ::CloseHandle(m_h);
    }
    CKernelHandle(const CKernelHandle&) = delete;
    CKernelHandle& operator=(const CKernelHandle&) = delete;
    bool IsValid() const { return m_h && m_h != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_h; }

private:
    HANDLE m_h;
};
