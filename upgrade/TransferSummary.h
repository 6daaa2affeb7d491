// The record that closes a transfer in the log: what the server answered,
// what the network reported, and how much arrived how fast. The progress
// records keep their fixed text; this one is what support reads first.
#pragma once

#include <windows.h>

#include <string>

#include "netlib/DownloadRecord.h"

struct TRANSFER_FIGURES {
    int32_t iState;          // the final record's state
    DWORD dwHttpStatus;      // 0 when no answer came
    DWORD dwNetError;        // the library's error code, 0 when none
    ULONGLONG ullReceived;   // bytes fetched by this transfer
    ULONGLONG ullOnDisk;     // bytes already on disk when it started
    ULONGLONG ullElapsedMs;  // from the start of the transfer to its last record
};

// The figures of a final record, timed from the transfer's start.
TRANSFER_FIGURES TransferFiguresOf(const DOWNLOAD_PROGRESS& record, ULONGLONG ullStartTick, ULONGLONG ullEndTick);

// Only a finished transfer is a success; anything else is an error record.
bool IsTransferSuccess(const TRANSFER_FIGURES& figures);

std::wstring TransferSummaryText(const TRANSFER_FIGURES& figures);
