// One HTTP transfer into a local file on a worker thread of its own.
//
// What a transfer promises its caller, whatever the network and the server
// do (the figures are TransferRules.h's):
// - It ends, with one final record, within bounded time: the answer's
//   headers within the connect time-out (15 s), a body that brings nothing
//   within the receive time-out (30 s), fewer than 1024 bytes in 60 s is a
//   stall, and the whole call, retries included, ends within max(2 h, the
//   ordered size at 4 KB/s) of time the machine was awake.
// - Reads return what has arrived, and it is on disk before the next read;
//   a progress record follows at least once a second while bytes arrive or
//   the body is held up (at most four a second). One request at a time:
//   before the file is asked for again, WinINet has let go of the request
//   before, so that the server sends each byte about once.
// - A reset connection, a time-out, a stall, HTTP 5xx and 408, and 429 with
//   a Retry-After of at most 60 s are tried again within the call, up to 3
//   times after pauses of 1, 2 and 4 s (or the Retry-After, when longer),
//   each resuming from the bytes on disk with If-Range. The records count on
//   across a retry as if nothing happened.
// - The disk holds no more than the server announced, or without an
//   announcement the ordered size plus its margin; an answer beyond that, a
//   length or range of 19 or more digits, and a redirect from https to plain
//   http end the transfer at once. The body of a redirect or of an error is
//   not read.
// - A failed transfer's bytes stay beside the target for a later resume,
//   unless they cannot be the file's: beyond what the server may send, or
//   not vouched for by a range answer with the validator sent (a cache that
//   ignored If-Range), which makes the file be asked for again from byte 0.
// - The partial file and its note are the library's own files: whatever
//   another program puts at their names is replaced, never written or
//   deleted through (PartFileAccess.h).
// Retries, refusals and stalls are told to the program's log sink
// (LibraryLog.h), when it handed one over.
#pragma once

#include <windows.h>

#include <string>

#include "NubraSdk/Proxy.h"

namespace nubra {

struct CDownloadRequest {
    std::wstring strUrl;
    std::wstring strTarget;
    HWND hNotify = nullptr;
    UINT uMsg = 0;
    LONGLONG llExpectedSize = 0;  // the ordered size; a hint the answer may differ from within the margin
    CProxyConfig proxy;
};

// Starts the worker; false when no thread could be started.
bool StartDownload(const CDownloadRequest& request);

}  // namespace nubra
