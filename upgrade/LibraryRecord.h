// Whether a WM_MSG_DOWNLOAD message carries a progress record the window may
// act on. No window involved.
//
// Any network library may post or send its records, from storage of its
// own; and any process of the session can post the same message with a
// made-up pointer. So the record is first copied, only if the whole of it
// lies in committed, readable memory of this process (a bad pointer must
// never fault), and the copy is then checked against the order before the
// window acts on it. What a forged record can still do is end the transfer
// early: the digest of the file then decides, so nothing unverified starts.
#pragma once

#include <windows.h>

#include "netlib/DownloadRecord.h"

// Copies the record at p into *pRecord; false when p does not point at
// sizeof(DOWNLOAD_PROGRESS) readable bytes of this process.
bool CopyProgressRecord(const void* p, DOWNLOAD_PROGRESS* pRecord);

// Whether a copied record can belong to the transfer of an order of
// llOrderedSize bytes (0 or less: none named): a known state, and byte
// counts no larger than the ordered size may grow by.
bool IsRecordConsistentWithOrder(const DOWNLOAD_PROGRESS& record, LONGLONG llOrderedSize);
