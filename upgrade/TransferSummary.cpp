#include "upgrade/TransferSummary.h"

#include <cstdio>

namespace {

LPCWSTR OutcomeText(int32_t iState)
{
    switch (iState) {
    case DOWNLOAD_STATE_FINISHED:
        return L"finished";
    case DOWNLOAD_STATE_NET_FAILED:
        return L"failed on the server or the connection";
    case DOWNLOAD_STATE_FILE_FAILED:
        return L"failed writing the local file";
    default:
        return L"ended in an unknown state";
    }
}

}  // namespace

TRANSFER_FIGURES TransferFiguresOf(const DOWNLOAD_PROGRESS& record, ULONGLONG ullStartTick, ULONGLONG ullEndTick)
{
    TRANSFER_FIGURES figures = {};
    figures.iState = record.iState;
    figures.dwHttpStatus = DownloadRecordHttpStatus(record);
    figures.dwNetError = DownloadRecordError(record);
    figures.ullReceived = record.unReceived;
    figures.ullOnDisk = record.unPosition;
    // A start that was never stamped would give the age of the machine.
    figures.ullElapsedMs = ullStartTick && ullEndTick >= ullStartTick ? ullEndTick - ullStartTick : 0;
    return figures;
}

bool IsTransferSuccess(const TRANSFER_FIGURES& figures)
{
    return figures.iState == DOWNLOAD_STATE_FINISHED;
}

std::wstring TransferSummaryText(const TRANSFER_FIGURES& figures)
{
    wchar_t szSpeed[64] = L"mean speed unknown";
    if (figures.ullElapsedMs > 0) {
        const double dKBps =
            static_cast<double>(figures.ullReceived) / 1024.0 / (static_cast<double>(figures.ullElapsedMs) / 1000.0);
        _snwprintf(szSpeed, 63, L"mean speed %.1f KB/s", dKBps);
    }
    // "network error 0" would send a reader looking for an error that never was.
    wchar_t szError[48] = L"";
    if (figures.dwNetError)
        _snwprintf(szError, 47, L", network error %lu", figures.dwNetError);
    wchar_t szText[512] = {};
    _snwprintf(szText, 511,
               L"transfer %s: HTTP status %lu%s, %llu bytes received (%llu already on disk), %llu.%03llu s, %s",
               OutcomeText(figures.iState), figures.dwHttpStatus, szError, figures.ullReceived, figures.ullOnDisk,
               figures.ullElapsedMs / 1000, figures.ullElapsedMs % 1000, szSpeed);
    return szText;
}
