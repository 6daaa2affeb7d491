#include "upgrade/UpgradeResult.h"

#include "log/Log.h"

#include <atomic>
#include <cwchar>

namespace {

std::atomic<bool> g_bRunEndClaimed(false);
std::atomic<const wchar_t*> g_pszRunStateFile(nullptr);

}  // namespace

LPCWSTR UpgradeResultWord(UpgradeResult result)
{
    switch (result) {
    case UpgradeResult::SetupStarted:
        return L"setup-started";
    case UpgradeResult::UserDeclined:
        return L"user-declined";
    case UpgradeResult::Hidden:
        return L"hidden";
    case UpgradeResult::ReadyWaiting:
        return L"ready-waiting";
    case UpgradeResult::HeldWaiting:
        return L"held-waiting";
    case UpgradeResult::DownloadFailed:
        return L"download-failed";
    case UpgradeResult::DigestMismatch:
        return L"digest-mismatch";
    case UpgradeResult::NetworkLost:
        return L"network-lost";
    case UpgradeResult::Refused:
        return L"refused";
    case UpgradeResult::Superseded:
        return L"superseded";
    case UpgradeResult::SignatureRefused:
        return L"signature-refused";
    case UpgradeResult::CouldNotCheck:
        return L"could-not-check";
    case UpgradeResult::StartFailed:
        return L"start-failed";
    }
    return L"unknown";
}

int UpgradeResultSeverity(UpgradeResult result)
{
    switch (result) {
    case UpgradeResult::DownloadFailed:
    case UpgradeResult::DigestMismatch:
    case UpgradeResult::NetworkLost:
    case UpgradeResult::SignatureRefused:
    case UpgradeResult::StartFailed:
        return LOGLEVEL_ERROR;
    case UpgradeResult::CouldNotCheck:
    case UpgradeResult::Refused:
        return LOGLEVEL_WARN;
    default:
        return LOGLEVEL_INFO;
    }
}

std::wstring ResultTimeText(const SYSTEMTIME& st)
{
    wchar_t sz[32] = {};
    _snwprintf(sz, 31, L"%04u-%02u-%02uT%02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
               st.wSecond);
    return sz;
}

bool ClaimRunEnd()
{
    return !g_bRunEndClaimed.exchange(true);
}

void SetRunStateFile(LPCWSTR pszIniPath)
{
    // Copied once and never freed: the watch may read it until the process ends.
    if (pszIniPath && !g_pszRunStateFile)
        g_pszRunStateFile = _wcsdup(pszIniPath);
}

LPCWSTR RunStateFile()
{
    return g_pszRunStateFile;
}
