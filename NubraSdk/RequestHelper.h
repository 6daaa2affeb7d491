// The blocking calls of a request that a server can draw out, each run on a
// helper thread and waited for within a deadline: the send (until the
// answer's headers are in), the read of a short answer that is not the file,
// and the large reads of a fast body.
//
// A blocking WinINet call cannot be cut short everywhere: closing its handle
// from another thread ends it on Windows, but not under Wine, where a server
// that sends its headers or a body a byte at a time holds the call for as
// long as it likes. So the call runs on the helper, and the transfer waits
// for it no longer than the deadline. A helper that misses it is left the
// request, its connection, a share of the session and its block, and closes
// them, and ends, when its call returns, writing nothing; until then it
// costs one blocked thread and one socket, never the transfer's time. The
// next call starts a new helper.
//
// Large reads: reads that return what has arrived keep a slow link's
// progress flowing, but under Wine they bring at most 8 KiB each (its read
// buffer), which costs a fast link most of its speed. A fast body is
// therefore read in blocks, each of which returns only when it is full, so
// that a link slowing down in the middle would hold it for as long as the
// block takes at the new pace: the deadline is what makes that safe. The
// helper writes each block it read in time itself: the bytes are still in
// its processor's cache, which measured a good part of a fast link's speed.
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

class CRequestHelper {
public:
    CRequestHelper() = default;
    ~CRequestHelper();
    CRequestHelper(const CRequestHelper&) = delete;
    CRequestHelper& operator=(const CRequestHelper&) = delete;

    // The session the requests belong to; set before the first call.
    void SetSession(const CSharedSession& session) { m_session = session; }

    // Every call returns ERROR_INTERNET_TIMEOUT when the deadline passed
    // first, with hRequest and hConnect then empty: the helper has them.

    // Sends hRequest with these extra headers (empty: none); ERROR_SUCCESS
    // once the answer's headers are in, or the call's error.
    DWORD Send(CInetHandle& hConnect, CInetHandle& hRequest, const std::wstring& strHeaders, DWORD dwDeadlineMs);

    // Reads and drops the cbBody bytes of an answer's body (at most
    // kBlockBytes); ERROR_SUCCESS when all of them came.
    DWORD ReadBody(CInetHandle& hConnect, CInetHandle& hRequest, DWORD cbBody, DWORD dwDeadlineMs);

    struct CBlock {
        DWORD dwReadError = ERROR_SUCCESS;
        DWORD cbGot = 0;  // fewer than asked for only at the body's end
        DWORD dwWriteError = ERROR_SUCCESS;
    };
    // Reads up to cb bytes (at most kBlockBytes) of the body and appends them
    // to hFile, unless more came than cbMayWrite.
    CBlock ReadBlock(CInetHandle& hConnect, CInetHandle& hRequest, DWORD cb, ULONGLONG cbMayWrite, HANDLE hFile,
                     DWORD dwDeadlineMs);

    // Large enough that handing a block over costs little beside reading
    // it, small enough to stay in the processor's cache for its write:
    // blocks of 4 MiB measured at half the speed.
    static constexpr DWORD kBlockBytes = 1024 * 1024;

private:
    struct CState;
    static DWORD WINAPI ThreadProc(void* pParam);
    static void RunCall(CState& state);
    bool Start();
    void Call(CInetHandle& hConnect, CInetHandle& hRequest, DWORD dwDeadlineMs);

    CSharedSession m_session;
    CState* m_pState = nullptr;  // with the running helper; null when there is none
    CKernelHandle m_hThread;
};

}  // namespace nubra
