// Which WM_MSG_DOWNLOAD records the window may act on: whatever storage the
// library keeps them in, a pointer is read only when the whole record is
// readable memory of this process, and the copy must fit the order.
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

TEST(LibraryRecord, RecordsMustFitTheOrder)
{
    const LONGLONG llOrdered = 5 * 1024 * 1024;
    const uint32_t unMargin = 1024 * 1024;  // 1 MiB beats 1 % of 5 MiB
    for (int32_t iState : {0, 5, -1, 0x7fffffff})
        EXPECT_FALSE(IsRecordConsistentWithOrder(Record(iState, 0, 0), llOrdered)) << iState;
    for (int32_t iState : {1, 2, 3, 4})
        EXPECT_TRUE(IsRecordConsistentWithOrder(Record(iState, 0, 0), llOrdered)) << iState;

    // The ordered size is a hint: a file a little longer is still this transfer.
    EXPECT_TRUE(IsRecordConsistentWithOrder(Record(2, llOrdered + 1, llOrdered + 1), llOrdered));
    EXPECT_TRUE(IsRecordConsistentWithOrder(Record(1, llOrdered + unMargin, 0), llOrdered));
    EXPECT_FALSE(IsRecordConsistentWithOrder(Record(1, llOrdered + unMargin + 1, 0), llOrdered));
    EXPECT_FALSE(IsRecordConsistentWithOrder(Record(2, 100, 0xFFFFFFFFu), llOrdered));
    DOWNLOAD_PROGRESS distant = Record(1, 100, 0);
    distant.unPosition = 0x80000000u;
    EXPECT_FALSE(IsRecordConsistentWithOrder(distant, llOrdered));

    // For a big order the margin is 1 %.
    const LONGLONG llBig = 1000LL * 1024 * 1024;
    EXPECT_TRUE(IsRecordConsistentWithOrder(Record(1, static_cast<uint32_t>(llBig + llBig / 100), 0), llBig));
    EXPECT_FALSE(IsRecordConsistentWithOrder(Record(1, static_cast<uint32_t>(llBig + llBig / 100 + 1), 0), llBig));

    // Without an ordered size only the state is checked.
    EXPECT_TRUE(IsRecordConsistentWithOrder(Record(1, 0xFFFFFFFFu, 0xFFFFFFFFu), 0));
}

}  // namespace
