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
// therefore read in blocks, each of which returns only when it is full. A
// block is never left behind while the transfer asks again: its request
// could go on receiving beside the new one, and the server would send the
// same bytes twice. So the transfer waits for a block that a slowing link
// holds up (reporting meanwhile), and abandons one only when it ends the
// attempt (a stall, the deadline); its next request then waits until the
// abandoned read has returned, which the request's receive time-out bounds
// once the link goes quiet, and the call's deadline in any case. The helper writes each block it read in time
// itself: the bytes are still in its processor's cache, which measured a
// good part of a fast link's speed.
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

    // Send and ReadBody return ERROR_INTERNET_TIMEOUT when the deadline
    // passed first, with hRequest and hConnect then empty: the helper has them.

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
    // Starts reading up to cb bytes (at most kBlockBytes) of hRequest's body,
    // to be appended to hFile unless more came than cbMayWrite; false when
    // no helper could be started.
    bool StartBlock(HINTERNET hRequest, DWORD cb, ULONGLONG cbMayWrite, HANDLE hFile);
    // True once the block has come (and was written), within dwWaitMs.
    bool WaitBlock(DWORD dwWaitMs, CBlock& result);
    // Leaves a block that has not come to the helper, with the request and
    // its connection, which it closes when its read returns; true then. False
    // when the block came just now after all: result holds it, and the
    // handles stay.
    bool AbandonBlock(CInetHandle& hConnect, CInetHandle& hRequest, CBlock& result);
    // True once no abandoned block is being read any more, within dwWaitMs.
    bool WaitAbandoned(DWORD dwWaitMs);

    // Large enough that handing a block over costs little beside reading
    // it, small enough to stay in the processor's cache for its write:
    // blocks of 4 MiB measured at half the speed.
    static constexpr DWORD kBlockBytes = 1024 * 1024;

private:
    struct CState;
    static DWORD WINAPI ThreadProc(void* pParam);
    static void RunCall(CState& state);
    bool Start();
    void Begin(HINTERNET hRequest);
    bool Abandon(CInetHandle& hConnect, CInetHandle& hRequest);
    void Call(CInetHandle& hConnect, CInetHandle& hRequest, DWORD dwDeadlineMs);

    CSharedSession m_session;
    CState* m_pState = nullptr;  // with the running helper; null when there is none
    CKernelHandle m_hThread;
    // The helper left with a block: the file is not asked for again until
    // it has ended.
    CKernelHandle m_hAbandoned;
};

}  // namespace nubra
