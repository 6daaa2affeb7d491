// One HTTP transfer into a local file on a worker thread of its own.
//
// What a transfer promises its caller, whatever the network and the server
// do (the figures are TransferRules.h's):
// - It ends, with one final record, within bounded time: the answer's
//   headers within the connect time-out (15 s), a body that brings nothing
//   within the receive time-out (30 s), fewer than 1024 bytes in 60 s is a
//   stall, and the whole call, retries included, ends within max(2 h, the
//   ordered size at 4 KB/s) of time the machine was awake.
// - Reads return what has arrived, on disk before the next read; a progress
//   record follows at least once a second (at most four). One request at a
//   time, so that the server sends each byte about once.
// - A reset connection, a time-out, a stall, HTTP 5xx and 408, and 429 with
//   a Retry-After of at most 60 s are tried again within the call, up to 3
//   times after pauses of 1, 2 and 4 s (or the Retry-After, when longer),
//   each resuming from the bytes on disk with If-Range. The records count on
//   across a retry as if nothing happened.
// - The disk holds no more than the server announced, or without that the
//   ordered size plus its margin; an answer beyond, a length of 19 digits or
//   more, and a redirect from https to http end the transfer at once.
// - A failed transfer's bytes stay for a later resume, unless they cannot be
//   the file's: beyond what the server may send, or not vouched for by a
//   range answer with the validator sent, which starts the file over.
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
