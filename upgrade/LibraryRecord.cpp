#include "upgrade/LibraryRecord.h"

namespace {

bool IsReadable(const MEMORY_BASIC_INFORMATION& mbi)
{
    const DWORD dwReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                             PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    return mbi.State == MEM_COMMIT && (mbi.Protect & dwReadable) && !(mbi.Protect & (PAGE_GUARD | PAGE_NOACCESS));
}

// Every page of [p, p + cb) is committed and readable; a record may span
// regions of different protection.
bool IsReadableRange(const void* p, size_t cb)
{
    UINT_PTR uAt = reinterpret_cast<UINT_PTR>(p);
    if (!p || uAt + cb < uAt)
        return false;
    const UINT_PTR uEnd = uAt + cb;
    while (uAt < uEnd) {
        MEMORY_BASIC_INFORMATION mbi = {};
        if (::VirtualQuery(reinterpret_cast<LPCVOID>(uAt), &mbi, sizeof(mbi)) != sizeof(mbi) || !IsReadable(mbi))
            return false;
        const UINT_PTR uRegionEnd = reinterpret_cast<UINT_PTR>(mbi.BaseAddress) + mbi.RegionSize;
        if (uRegionEnd <= uAt)
            return false;
        uAt = uRegionEnd;
    }
    return true;
}

}  // namespace

bool CopyProgressRecord(const void* p, DOWNLOAD_PROGRESS* pRecord)
{
    if (!pRecord || !IsReadableRange(p, sizeof(DOWNLOAD_PROGRESS)))
        return false;
    // The copy itself cannot fault: the system reads the memory for us and
    // reports a page freed meanwhile by another thread as an error (Wine
    // reads it regardless, hence the check above).
    SIZE_T cbRead = 0;
    return ::ReadProcessMemory(::GetCurrentProcess(), p, pRecord, sizeof(DOWNLOAD_PROGRESS), &cbRead) &&
           cbRead == sizeof(DOWNLOAD_PROGRESS);
}
