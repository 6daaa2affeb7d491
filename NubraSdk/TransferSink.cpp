// A transfer's sink: the partial file, the body read into it as it arrives
// under the floor or in blocks when fast, and the rename of a finished file
// (see Transfer.h).
#include "NubraSdk/Transfer.h"

#include <wininet.h>

#include "NubraSdk/BackgroundWriter.h"
#include "NubraSdk/LibraryLog.h"
#include "NubraSdk/PartFileAccess.h"
#include "NubraSdk/PartialFile.h"
#include "NubraSdk/TransferFloor.h"

namespace nubra {

namespace {

// Disk writes in large blocks; memory stays this size whatever the file.
constexpr DWORD kBufferBytes = 1024 * 1024;
// Bytes of a slow link wait in memory no longer than this before they go
// to disk, so that a program that quits keeps them for a resume.
constexpr ULONGLONG kFlushPeriodMs = 1000;
// A block the helper reads is waited for in turns of this length, with a
// record after each, so that the window hears from a slowed body at least
// once a second.
constexpr DWORD kBlockPatienceMs = 1000;
// The pace from which a body is read in blocks: half a mebibyte within
// 25 ms (20 MB/s and more). A slow server's burst (a few hundred kB) stays
// below it, and a block then takes half the patience above even at a tenth
// of that pace.
constexpr ULONGLONG kFastPaceBytes = 512 * 1024;
constexpr ULONGLONG kFastPaceMs = 25;

}  // namespace

// The sink's start: the partial file positioned where the answer's bytes
// belong, and the note of the validator they came with.
bool CTransfer::OpenSink(HINTERNET hRequest, CKernelHandle& hFile, CAttemptFailure& failure)
{
    failure.kind = FailureKind::Local;
    const std::wstring strMeta = MetaPathOf(m_req.strTarget);
    hFile = ClaimPartFile(PartialPathOf(m_req.strTarget), m_ullOffset == 0);
    LARGE_INTEGER li, liSize;
    li.QuadPart = static_cast<LONGLONG>(m_ullOffset);
    if (!hFile || !::GetFileSizeEx(hFile.Get(), &liSize) || !::SetFilePointerEx(hFile.Get(), li, nullptr, FILE_BEGIN)) {
        failure.dwError = ::GetLastError();
        return false;
    }
    // The bytes the range continues are gone (replaced since, being no
    // longer ours): the answer cannot be stitched onto anything.
    if (liSize.QuadPart < li.QuadPart) {
        failure.dwError = ERROR_HANDLE_EOF;
        return false;
    }
    // Cut only when there is something to cut: some file systems hold the
    // close of a truncated file up until its new contents are on disk.
    if (liSize.QuadPart != li.QuadPart && !::SetEndOfFile(hFile.Get())) {
        failure.dwError = ::GetLastError();
        return false;
    }
    // The note goes down before any byte of the new body, so a later run never
    // pairs these bytes with an older validator.
    m_strValidator =
        ChooseValidator(QueryHeader(hRequest, HTTP_QUERY_ETAG), QueryHeader(hRequest, HTTP_QUERY_LAST_MODIFIED));
    if (m_strValidator.empty()) {
        DiscardPartFile(strMeta);
    } else if (!WritePartMeta(strMeta, CPartMeta{m_req.strUrl, m_strValidator, m_req.llExpectedSize})) {
        failure.dwError = ::GetLastError();
        return false;
    }
    return true;
}

// The body into the file. Each read returns what has arrived, so progress
// flows on a slow link, and the floor and the deadline are judged after
// every one. A body that proves fast is read in large blocks instead
// (RequestHelper.h); once one of them was held up, the rest is read as it
// arrives again.
bool CTransfer::Receive(CInetHandle& hConnect, CInetHandle& hRequest, HANDLE hFile, CAttemptFailure& failure)
{
    // Reads as bytes arrive fill one buffer, written in place when full. A
    // second buffer handed to a writer thread was measured slower than this
    // on a busy two-core machine: the thread competes with the reader, the
    // server and the system for the cores, and each hand-over is a wait;
    // while this thread writes, the socket's own buffer keeps receiving
    // anyway. Blocks of a fast body are written by the helper that read them.
    std::vector<BYTE> buffer(kBufferBytes);
    BYTE* const pBuffer = buffer.data();
    DWORD dwFill = 0;
    bool bFirstBytes = true;
    CBackgroundWriter writer(hFile);  // not started: it writes in place
    ULONGLONG ullLastWrite = AwakeTickMs();
    CTransferFloor floor(ullLastWrite, 0, FloorPeriodMs(), kFloorBytes);
    // A block abandoned at a stall or the deadline takes its bytes along:
    // only bytes that a resume can vouch for may be read that way.
    const bool bMayGoFast = !m_strValidator.empty();
    bool bFast = false;
    ULONGLONG ullPaceStart = ullLastWrite, ullPaceBytes = 0;
    Report(true);
    for (;;) {
        const ULONGLONG ullLeft = m_ullMaxBody - m_ullReceived;
        DWORD dwGot = 0;
        DWORD dwError = ERROR_SUCCESS;
        bool bHeldUp = false;
        if (bFast) {
            // Ask for one byte more than may still come: receiving it proves
            // an overrun without reading on. The reader writes the block.
            const DWORD dwWant =
                ullLeft < CRequestHelper::kBlockBytes ? static_cast<DWORD>(ullLeft) + 1 : CRequestHelper::kBlockBytes;
            CRequestHelper::CBlock block;
            if (!m_helper.StartBlock(hRequest.Get(), dwWant, ullLeft, hFile)) {
                failure.kind = FailureKind::Local;
                failure.dwError = ERROR_NOT_ENOUGH_MEMORY;
                return false;
            }
            while (!m_helper.WaitBlock(kBlockPatienceMs, block)) {
                if (!bHeldUp)
                    LibraryLog(kLogInformation, kTransferLogFunction,
                               L"the body slowed down: waiting for the block from byte %llu, then reading as it "
                               L"arrives",
                               m_ullOffset + m_ullReceived);
                bHeldUp = true;
                Report(true);
                const ULONGLONG ullNow = AwakeTickMs();
                // The block's bytes are not counted until it comes: a floor
                // that fails meanwhile has seen fewer than a block in a period.
                const bool bStall = !floor.Check(ullNow, m_ullReceived);
                if ((bStall || !MsLeft()) && m_helper.AbandonBlock(hConnect, hRequest, block))
                    return bStall ? FailStall(floor, failure) : FailDeadline(failure);
                if (bStall || !MsLeft())
                    break;  // the block came just now
            }
            dwError = block.dwReadError;
            dwGot = block.cbGot;
            if (block.dwWriteError != ERROR_SUCCESS) {
                failure.kind = FailureKind::Local;
                failure.dwError = block.dwWriteError;
                return false;
            }
        } else {
            // Waits until something arrives (or the receive time-out); 0
            // only at the end of the body.
            DWORD dwAvailable = 0;
            BOOL bRead = ::InternetQueryDataAvailable(hRequest.Get(), &dwAvailable, 0, 0);
            if (bRead && dwAvailable) {
                DWORD dwWant = dwAvailable < kBufferBytes - dwFill ? dwAvailable : kBufferBytes - dwFill;
                if (ullLeft < dwWant)
                    dwWant = static_cast<DWORD>(ullLeft) + 1;
                bRead = ::InternetReadFile(hRequest.Get(), pBuffer + dwFill, dwWant, &dwGot);
            }
            if (!bRead)
                dwError = ::GetLastError();
        }
        if (dwError != ERROR_SUCCESS) {
            failure.dwError = InternetErrorOf(dwError);
            failure.kind = KindOfError(failure.dwError);
            // Keep what arrived for a resume.
            writer.Write(pBuffer, dwFill);
            writer.Finish();
            return false;
        }
        if (dwGot > ullLeft) {
            m_bOverrun = true;
            writer.Finish();
            if (m_bExact)
                return Refuse(failure, ERROR_HTTP_INVALID_SERVER_RESPONSE, L"a body beyond its announced %llu bytes",
                              m_ullMaxBody);
            return Refuse(failure, ERROR_HTTP_INVALID_SERVER_RESPONSE,
                          L"a body of unannounced size beyond the %llu bytes the order allows",
                          m_ullOffset + m_ullMaxBody);
        }
        m_ullReceived += dwGot;
        const ULONGLONG ullNow = AwakeTickMs();
        bool bWritten = true;
        if (!bFast) {
            dwFill += dwGot;
            if (dwGot == 0 || dwFill == kBufferBytes || (dwFill && ullNow - ullLastWrite >= kFlushPeriodMs)) {
                bWritten = writer.Write(pBuffer, dwFill);
                dwFill = 0;
                ullLastWrite = ullNow;
            }
        }
        if (!bWritten) {
            failure.kind = FailureKind::Local;
            failure.dwError = writer.Error();
            return false;
        }
        // Only after the block is counted: its bytes are on disk already.
        if (bHeldUp) {
            bFast = false;
            m_bSlowReadsOnly = true;
        }
        if (dwGot == 0)
            break;
        Report(bFirstBytes);
        bFirstBytes = false;
        const bool bStall = !floor.Check(ullNow, m_ullReceived);
        if (bStall || !MsLeft()) {
            writer.Write(pBuffer, dwFill);
            writer.Finish();
            return bStall ? FailStall(floor, failure) : FailDeadline(failure);
        }
        // Fast: counted from the first bytes.
        if (ullPaceBytes == 0 && m_ullReceived == dwGot)
            ullPaceStart = ullNow;
        ullPaceBytes += dwGot;
        if (!bFast && bMayGoFast && !m_bSlowReadsOnly && ullPaceBytes >= kFastPaceBytes) {
            if (ullNow - ullPaceStart <= kFastPaceMs && writer.Write(pBuffer, dwFill)) {
                // The blocks follow what is on disk.
                dwFill = 0;
                bFast = true;
            }
            ullPaceStart = ullNow;
            ullPaceBytes = 0;
        }
    }
    if (!writer.Finish()) {
        failure.kind = FailureKind::Local;
        failure.dwError = writer.Error();
        return false;
    }
    // A connection that closed early looks like a normal end to the reader.
    if (m_bExact && m_ullReceived < m_ullMaxBody) {
        failure.kind = FailureKind::Reset;
        failure.dwError = ERROR_INTERNET_CONNECTION_RESET;
        return false;
    }
    return true;
}

bool CTransfer::FailStall(const CTransferFloor& floor, CAttemptFailure& failure)
{
    LibraryLog(kLogWarning, kTransferLogFunction, L"stall: %llu bytes in %llu ms, below the floor of %llu bytes in %lu ms",
               floor.PeriodBytes(), floor.PeriodMs(), floor.FloorBytes(), floor.FloorMs());
    failure.kind = FailureKind::Stall;
    failure.dwError = ERROR_INTERNET_TIMEOUT;
    return false;
}

ULONGLONG CTransfer::BytesOnDisk() const
{
    return OwnPartBytes(PartialPathOf(m_req.strTarget));
}

// The sink's end: a finished file takes the target's name; the bytes of a
// failed one stay for a resume unless they cannot be the file's.
DOWNLOAD_PROGRESS CTransfer::CloseSink(const DOWNLOAD_PROGRESS& final)
{
    const std::wstring strPart = PartialPathOf(m_req.strTarget);
    const std::wstring strMeta = MetaPathOf(m_req.strTarget);
    if (final.iState != DOWNLOAD_STATE_FINISHED) {
        // Bytes beyond what the server may send are not the file's: nothing
        // of such an answer is worth resuming.
        if (m_bOverrun) {
            DiscardPartFile(strMeta);
            DiscardPartFile(strPart);
        }
        return final;
    }
    // No write-through: it can make the rename wait for the whole file to
    // reach the disk, and the caller's digest check of the finished file
    // already catches one that a crash left incomplete.
    if (!MoveOwnPartFile(strPart, m_req.strTarget)) {
        m_dwError = ::GetLastError();
        return Record(DOWNLOAD_STATE_FILE_FAILED);
    }
    // The note belongs to the partial file, which is gone now.
    DiscardPartFile(strMeta);
    return final;
}

}  // namespace nubra
