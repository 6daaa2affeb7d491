// Which WM_MSG_DOWNLOAD records the window may read: whatever storage the
// library keeps them in, a pointer is read only when the whole record is
// readable memory of this process.
#include "upgrade/LibraryRecord.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

DOWNLOAD_PROGRESS Record(int32_t iState, uint32_t unFileSize, uint32_t unReceived)
{
    DOWNLOAD_PROGRESS record = {};
    record.iState = iState;
    record.unFileSize = unFileSize;
    record.unReceived = unReceived;
    return record;
}

TEST(LibraryRecord, OnlyWholeReadableRecordsAreCopied)
{
    SYSTEM_INFO si = {};
    ::GetSystemInfo(&si);
    const SIZE_T cbPage = si.dwPageSize;
    // Three pages: readable, guarded, reserved only.
    auto* pBase = static_cast<BYTE*>(::VirtualAlloc(nullptr, cbPage * 3, MEM_RESERVE, PAGE_NOACCESS));
    ASSERT_TRUE(pBase);
    ASSERT_TRUE(::VirtualAlloc(pBase, cbPage, MEM_COMMIT, PAGE_READWRITE));
    ASSERT_TRUE(::VirtualAlloc(pBase + cbPage, cbPage, MEM_COMMIT, PAGE_READWRITE | PAGE_GUARD));

    const DOWNLOAD_PROGRESS sent = Record(DOWNLOAD_STATE_PROGRESS, 1000, 10);
    BYTE* pLast = pBase + cbPage - sizeof(DOWNLOAD_PROGRESS);
    std::memcpy(pLast, &sent, sizeof(sent));
    DOWNLOAD_PROGRESS copy = {};
    ASSERT_TRUE(CopyProgressRecord(pLast, &copy)) << "a record at the end of a readable page";
    EXPECT_EQ(std::memcmp(&copy, &sent, sizeof(sent)), 0);

    // A record on the heap, as a library that posts its records keeps them.
    auto heap = std::make_unique<DOWNLOAD_PROGRESS>(sent);
    EXPECT_TRUE(CopyProgressRecord(heap.get(), &copy));

    const void* const refused[] = {
        nullptr,
        reinterpret_cast<const void*>(1),
        reinterpret_cast<const void*>(static_cast<UINT_PTR>(-1)),
        reinterpret_cast<const void*>(static_cast<UINT_PTR>(-static_cast<INT_PTR>(sizeof(DOWNLOAD_PROGRESS)))),
        pLast + 1,           // runs into the guarded page
        pBase + cbPage,      // the guarded page itself
        pBase + cbPage * 2,  // reserved, never committed
        pBase + cbPage * 3 - 8,
    };
    for (const void* p : refused)
        EXPECT_FALSE(CopyProgressRecord(p, &copy)) << p;

    ASSERT_TRUE(::VirtualFree(pBase, 0, MEM_RELEASE));
    EXPECT_FALSE(CopyProgressRecord(pLast, &copy)) << "freed memory";
}

}  // namespace
