// The sink of the library's records (see LibraryLog.h).
#include "NubraSdk/LibraryLog.h"

#include <atomic>
#include <cstdarg>
#include <cwchar>

namespace nubra {

namespace {

std::atomic<PFN_NUBRA_LOG_SINK> g_pfnSink{nullptr};

}  // namespace

void SetLogSink(PFN_NUBRA_LOG_SINK pfnSink)
{
    g_pfnSink.store(pfnSink);
}

void LibraryLog(int nSeverity, LPCWSTR pszFunction, LPCWSTR pszFormat, ...)
{
    const PFN_NUBRA_LOG_SINK pfnSink = g_pfnSink.load();
    if (!pfnSink)
        return;
    wchar_t szText[1024];
    va_list args;
    va_start(args, pszFormat);
    const int n = _vsnwprintf(szText, ARRAYSIZE(szText) - 1, pszFormat, args);
    va_end(args);
    // A cut text is still one terminated line.
    szText[n < 0 ? ARRAYSIZE(szText) - 1 : n] = L'\0';
    try {
        pfnSink(nSeverity, pszFunction, szText);
    } catch (...) {
        // The program's sink must not take a transfer down.
    }
}

}  // namespace nubra
