// The record that the network library hands to the window with each
// WM_MSG_DOWNLOAD message (wParam). Little-endian, fixed layout.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

enum DownloadState : int32_t {
    DOWNLOAD_STATE_PROGRESS = 1,
    DOWNLOAD_STATE_FINISHED = 2,
    DOWNLOAD_STATE_NET_FAILED = 3,   // server or connection failed
    DOWNLOAD_STATE_FILE_FAILED = 4,  // the local file could not be written
};

struct DOWNLOAD_PROGRESS {
    int32_t iState;
    uint8_t abLibrary[524];  // the library's own
    uint32_t unFileSize;     // bytes this transfer fetches (total less what was on disk)
    uint32_t unPosition;     // where this transfer started
    uint32_t unReceived;     // bytes fetched so far in this transfer
    uint32_t unExtra;        // logged only
    double dSpeed;           // KB/s
};
static_assert(offsetof(DOWNLOAD_PROGRESS, unFileSize) == 528, "record layout");
static_assert(offsetof(DOWNLOAD_PROGRESS, unPosition) == 532, "record layout");
static_assert(offsetof(DOWNLOAD_PROGRESS, unReceived) == 536, "record layout");
static_assert(offsetof(DOWNLOAD_PROGRESS, unExtra) == 540, "record layout");
static_assert(offsetof(DOWNLOAD_PROGRESS, dSpeed) == 544, "record layout");
static_assert(sizeof(DOWNLOAD_PROGRESS) == 552, "record layout");

// Inside the library's part of the record, its last four bytes carry the
// library's error code (a Windows or WinINet code, 0 when none); the HTTP
// status of the last answer travels in unExtra. The program reads them only
// to log how a transfer ended.
enum { DOWNLOAD_RECORD_ERROR_OFFSET = sizeof(((DOWNLOAD_PROGRESS*)0)->abLibrary) - sizeof(uint32_t) };

inline uint32_t DownloadRecordError(const DOWNLOAD_PROGRESS& record)
{
    uint32_t dwError = 0;
    memcpy(&dwError, record.abLibrary + DOWNLOAD_RECORD_ERROR_OFFSET, sizeof(dwError));
    return dwError;
}

inline uint32_t DownloadRecordHttpStatus(const DOWNLOAD_PROGRESS& record)
{
    return record.unExtra;
}

// The size an order names is a hint; the file's digest decides. A server's
// file may be longer than ordered by this much (1 MiB or 1 %, whichever is
// larger) before a transfer, or a record, that claims more is refused.
inline uint64_t OrderedSizeMargin(uint64_t ullOrdered)
{
    const uint64_t ullPercent = ullOrdered / 100;
    return ullPercent > (1u << 20) ? ullPercent : (1u << 20);
}

// Every record our library sends lies in one array of this many records, the
// only thing in the section of this name of NubraSdk.dll's image. The program
// does not rely on it (the client's own library keeps its records elsewhere);
// it keeps our records apart from the library's other data.
#define DOWNLOAD_RECORD_SECTION ".nbrec"
enum { DOWNLOAD_RECORD_POOL_SIZE = 64 };
