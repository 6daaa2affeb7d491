// The blocking calls of a request that a server can draw out, each waited
// for within a deadline: the send (until the answer's headers are in) and
// the read of a short answer that is not the file.
//
// A blocking WinINet call cannot be cut short everywhere: closing its handle
// from another thread ends it on Windows, but not under Wine, where a server
// that sends its headers or a short body a byte at a time holds the call for
// as long as it likes. So the call runs on a helper thread of its own, and
// the transfer waits for it no longer than the deadline. A helper that
// outlives its deadline is left the request, its connection and a share of
// the session, and closes them itself when its call returns; until then it
// costs one blocked thread and one socket, never the transfer's time.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "win/Handles.h"

namespace nubra {

// A session handle that a transfer shares with the helpers it stopped
// waiting for: its children must stay valid for them, so the last owner
// closes it.
using CSharedSession = std::shared_ptr<CInetHandle>;

// Sends hRequest with these extra headers (empty: none). ERROR_SUCCESS once
// the answer's headers are in; the call's error when it failed;
// ERROR_INTERNET_TIMEOUT when the deadline passed first, and hRequest and
// hConnect are then empty: the helper has them.
DWORD SendWithinDeadline(const CSharedSession& session, CInetHandle& hConnect, CInetHandle& hRequest,
                         const std::wstring& strHeaders, DWORD dwDeadlineMs);

// Reads and drops the cbBody bytes of an answer's body. ERROR_SUCCESS when
// all of them came; an error when the body broke or ended short; and
// ERROR_INTERNET_TIMEOUT when the deadline passed first, with hRequest and
// hConnect handed to the helper as above.
DWORD ReadBodyWithinDeadline(const CSharedSession& session, CInetHandle& hConnect, CInetHandle& hRequest, DWORD cbBody,
                             DWORD dwDeadlineMs);

}  // namespace nubra
