// Whether a WM_MSG_DOWNLOAD message carries a progress record the window may
// read. No window involved.
//
// Any network library may post or send its records, from storage of its
// own (a reused buffer, its stack, memory it frees right after sending); and
// any process of the session can post the same message with a made-up
// pointer. So the record is copied in one step that cannot fault: memory
// that is not readable, or is freed meanwhile by another thread, makes the
// copy fail instead. What the record says is not checked against the order:
// its counts are the library's, and the file's digest decides what runs.
#pragma once

#include <windows.h>

#include "netlib/DownloadRecord.h"

// Copies the record at p into *pRecord; false when p does not point at
// sizeof(DOWNLOAD_PROGRESS) readable bytes of this process.
bool CopyProgressRecord(const void* p, DOWNLOAD_PROGRESS* pRecord);
