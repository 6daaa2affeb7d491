// The record that closes a transfer: the figures come from where the network
// library puts them, and the time and speed stay sane at the edges. What the
// client's window hears of a transfer's records, and which records keep a
// transfer alive.
#include "upgrade/TransferSummary.h"

#include "upgrade/ClientNotices.h"
#include "upgrade/RecordSilence.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

DOWNLOAD_PROGRESS FinalRecord(int32_t iState, uint32_t unStatus, uint32_t unError, uint32_t unReceived,
                              uint32_t unOnDisk)
{
    DOWNLOAD_PROGRESS rec = {};
    rec.iState = iState;
    rec.unExtra = unStatus;
    rec.unReceived = unReceived;
    rec.unPosition = unOnDisk;
    // Filled like the library fills it: the target path first, the error last.
    std::memset(rec.abLibrary, 0x41, sizeof(rec.abLibrary));
    std::memcpy(rec.abLibrary + sizeof(rec.abLibrary) - sizeof(unError), &unError, sizeof(unError));
    return rec;
}

bool Contains(const std::wstring& strText, LPCWSTR pszPart)
{
    return strText.find(pszPart) != std::wstring::npos;
}

TEST(TransferSummary, CarriesStatusErrorBytesTimeAndSpeed)
{
    const TRANSFER_FIGURES failed =
        TransferFiguresOf(FinalRecord(DOWNLOAD_STATE_NET_FAILED, 404, 12152, 0, 0), 5000, 5250);
    EXPECT_FALSE(IsTransferSuccess(failed));
    std::wstring strText = TransferSummaryText(failed);
    EXPECT_TRUE(Contains(strText, L"transfer failed on the server or the connection: ")) << strText;
    EXPECT_TRUE(Contains(strText, L"HTTP status 404, network error 12152, 0 bytes received")) << strText;
    EXPECT_TRUE(Contains(strText, L"0.250 s, mean speed 0.0 KB/s")) << strText;

    // A resumed transfer: one MiB fetched in two seconds after 300 on disk.
    const TRANSFER_FIGURES done =
        TransferFiguresOf(FinalRecord(DOWNLOAD_STATE_FINISHED, 206, 0, 1048576, 300), 1000, 3000);
    EXPECT_TRUE(IsTransferSuccess(done));
    strText = TransferSummaryText(done);
    EXPECT_TRUE(Contains(strText,
                         L"transfer finished: HTTP status 206, 1048576 bytes received "
                         L"(300 already on disk), 2.000 s, mean speed 512.0 KB/s"))
        << strText;

    const TRANSFER_FIGURES local = TransferFiguresOf(FinalRecord(DOWNLOAD_STATE_FILE_FAILED, 200, 5, 10, 0), 1, 2);
    EXPECT_FALSE(IsTransferSuccess(local));
    EXPECT_TRUE(
        Contains(TransferSummaryText(local), L"failed writing the local file: HTTP status 200, network error 5"));
}

TEST(TransferSummary, NoInventedTimeOrSpeed)
{
    // Never started (tick 0), a clock that went back, and an instant end:
    // no age of the machine as the duration, no division by zero.
    const DOWNLOAD_PROGRESS rec = FinalRecord(DOWNLOAD_STATE_FINISHED, 200, 0, 4096, 0);
    for (auto ticks :
         {std::make_pair(0ull, 123456789ull), std::make_pair(5000ull, 4000ull), std::make_pair(7000ull, 7000ull)}) {
        const TRANSFER_FIGURES figures = TransferFiguresOf(rec, ticks.first, ticks.second);
        EXPECT_EQ(figures.ullElapsedMs, 0u);
        const std::wstring strText = TransferSummaryText(figures);
        EXPECT_TRUE(Contains(strText, L"0.000 s, mean speed unknown")) << strText;
    }
    const DOWNLOAD_PROGRESS odd = FinalRecord(99, 0, 0, 0, 0);
    EXPECT_TRUE(Contains(TransferSummaryText(TransferFiguresOf(odd, 1, 2)), L"ended in an unknown state"));
}

TEST(RecordSilence, OnlyATransferThatMovesOnAwakeTimeStaysAlive)
{
    const int kTotal = 1000;
    DOWNLOAD_PROGRESS record = {};
    record.iState = DOWNLOAD_STATE_PROGRESS;
    record.unFileSize = kTotal;

    CRecordSilence silence;
    silence.Start(0, 10000);
    EXPECT_FALSE(silence.IsSilent(9999));
    EXPECT_TRUE(silence.IsSilent(10000));

    record.unReceived = 100;
    EXPECT_TRUE(silence.OnRecord(record, kTotal, 9000));
    EXPECT_FALSE(silence.IsSilent(18999));
    // The same counts again, from a stuck library or from anyone posting a
    // record, keep nothing alive.
    EXPECT_FALSE(silence.OnRecord(record, kTotal, 15000));
    EXPECT_TRUE(silence.IsSilent(19000));
    record.unReceived = 50;
    EXPECT_FALSE(silence.OnRecord(record, kTotal, 16000)) << "counts that go back are no progress";
    record.unReceived = 200;
    EXPECT_TRUE(silence.OnRecord(record, kTotal, 17000));
    // A resumed attempt counts from what is on disk: no progress until it receives.
    record.unFileSize = 800;
    record.unPosition = 200;
    record.unReceived = 0;
    EXPECT_FALSE(silence.OnRecord(record, kTotal, 18000));
    record.unReceived = 1;
    EXPECT_TRUE(silence.OnRecord(record, kTotal, 19000));
    // A final record always counts.
    record.iState = DOWNLOAD_STATE_FINISHED;
    EXPECT_TRUE(silence.OnRecord(record, kTotal, 25000));
    EXPECT_FALSE(silence.IsSilent(34999));
    // Time the machine slept is not on the awake clock; one that went back
    // is no silence at all.
    EXPECT_FALSE(silence.IsSilent(100));

    // A library that counts an unknown length as 0xFFFFFFFF still moves.
    CRecordSilence unknown;
    unknown.Start(0, 1000);
    DOWNLOAD_PROGRESS any = {};
    any.iState = DOWNLOAD_STATE_PROGRESS;
    any.unFileSize = 0xFFFFFFFF;
    EXPECT_FALSE(unknown.OnRecord(any, 0, 10));
    any.unReceived = 4096;
    EXPECT_TRUE(unknown.OnRecord(any, 0, 900));
    EXPECT_FALSE(unknown.IsSilent(1899));
}

}  // namespace

TEST(ClientNotices, PercentOfTheWholeSetupAtMostFourTimesASecondButEveryStateChangeAtOnce)
{
    // 100 bytes in all, 40 of them on disk before this transfer.
    DOWNLOAD_PROGRESS rec = FinalRecord(DOWNLOAD_STATE_PROGRESS, 0, 0, 20, 40);
    rec.unFileSize = 60;
    EXPECT_EQ(TransferPercent(rec, 100, -1), 60);
    rec.unFileSize = rec.unPosition = 0;
    EXPECT_EQ(TransferPercent(rec, 100, 37), 37) << "a record without amounts keeps the last";
    rec.iState = DOWNLOAD_STATE_FINISHED;
    EXPECT_EQ(TransferPercent(rec, 0, 37), 100);

    EXPECT_TRUE(IsProgressNoticeDue(1, 0, 0, -1, 1000, 0)) << "the transfer's first record";
    EXPECT_FALSE(IsProgressNoticeDue(1, 5, 1, 0, 1000 + kProgressNoticeGapMs - 1, 1000)) << "too soon";
    EXPECT_TRUE(IsProgressNoticeDue(1, 5, 1, 0, 1000 + kProgressNoticeGapMs, 1000));
    EXPECT_FALSE(IsProgressNoticeDue(1, 5, 1, 5, 9000, 1000)) << "nothing new";
    EXPECT_TRUE(IsProgressNoticeDue(3, 99, 1, 99, 1001, 1000)) << "failed: at once";

    EXPECT_FALSE(IsNoticeWindow(nullptr, 0));
    const HWND hWnd = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hWnd, nullptr);
    EXPECT_FALSE(IsNoticeWindow(hWnd, GetCurrentProcessId())) << "the companion's own window";
    EXPECT_TRUE(IsNoticeWindow(hWnd, GetCurrentProcessId() + 4)) << "another process's window of our session";
    DestroyWindow(hWnd);
}
