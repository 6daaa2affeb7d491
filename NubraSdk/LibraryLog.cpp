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

void LibraryLogV(int nSeverity, LPCWSTR pszFunction, LPCWSTR pszLead, LPCWSTR pszFormat, va_list args)
{
    const PFN_NUBRA_LOG_SINK pfnSink = g_pfnSink.load();
    if (!pfnSink)
        return;
    wchar_t szText[1024];
    const int nLead = _snwprintf(szText, ARRAYSIZE(szText) - 1, L"%s", pszLead ? pszLead : L"");
    const int nStart = nLead < 0 ? 0 : nLead;
    const int n = _vsnwprintf(szText + nStart, ARRAYSIZE(szText) - 1 - nStart, pszFormat, args);
    // A cut text is still one terminated line.
    szText[n < 0 ? ARRAYSIZE(szText) - 1 : nStart + n] = L'\0';
    try {
        pfnSink(nSeverity, pszFunction, szText);
    } catch (...) {
        // The program's sink must not take a transfer down.
    }
}

void LibraryLog(int nSeverity, LPCWSTR pszFunction, LPCWSTR pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    LibraryLogV(nSeverity, pszFunction, nullptr, pszFormat, args);
    va_end(args);
}

}  // namespace nubra
