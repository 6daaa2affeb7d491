#include "upgrade/LibraryRecord.h"

#include <cstring>

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
    std::memcpy(pRecord, p, sizeof(DOWNLOAD_PROGRESS));
    return true;
}

bool IsRecordConsistentWithOrder(const DOWNLOAD_PROGRESS& record, LONGLONG llOrderedSize)
{
    if (record.iState < DOWNLOAD_STATE_PROGRESS || record.iState > DOWNLOAD_STATE_FILE_FAILED)
        return false;
    if (llOrderedSize <= 0)
        return true;
    const uint64_t ullLimit =
        static_cast<uint64_t>(llOrderedSize) + OrderedSizeMargin(static_cast<uint64_t>(llOrderedSize));
    return record.unFileSize <= ullLimit && record.unReceived <= ullLimit && record.unPosition <= ullLimit;
}
