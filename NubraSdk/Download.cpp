// The transfer's worker thread, its only one: it runs the transfer, sends
// its final record, and only then waits for WinINet to let go of it.
#include "NubraSdk/Download.h"

#include <memory>

#include "NubraSdk/LibraryThreads.h"
#include "NubraSdk/RecordPool.h"
#include "NubraSdk/Transfer.h"
#include "netlib/DownloadRecord.h"

namespace nubra {

namespace {

// How long a finished worker waits for the window to handle its last
// records before it gives up and leaves the few hundred bytes behind.
constexpr DWORD kReleaseWaitMs = 10 * 60 * 1000;

DWORD WINAPI DownloadThread(void* pParam)
{
    // Everything the thread owns goes before it ends, which returns nowhere.
    try {
        const std::unique_ptr<CDownloadRequest> req(static_cast<CDownloadRequest*>(pParam));
        auto pool = std::make_unique<CRecordPool>(req->hNotify, req->uMsg);
        DOWNLOAD_PROGRESS final = {};
        std::unique_ptr<CTransfer> transfer;
        try {
            transfer.reset(new CTransfer(*req, *pool));
            final = transfer->Run();
        } catch (...) {
            final.iState = DOWNLOAD_STATE_NET_FAILED;
        }
        pool->SendFinal(final);
        transfer.reset();  // only now: WinINet may take its time to let go
        // Records the window may still read must stay where they are.
        if (!pool->WaitAllReleased(kReleaseWaitMs))
            pool.release();
    } catch (...) {
        // Nothing leaves a thread of the library.
    }
    ExitLibraryThread(0);
}

}  // namespace

bool StartDownload(const CDownloadRequest& request)
{
    auto pCopy = std::make_unique<CDownloadRequest>(request);
    if (!StartLibraryThread(&DownloadThread, pCopy.get(), nullptr))
        return false;
    pCopy.release();  // the thread owns it now
    return true;
}

}  // namespace nubra
