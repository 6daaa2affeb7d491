// The library's own records (retries and their reasons, refused answers,
// stalls) for the program's log.
//
// The program hands a sink over through NubraSetLogSink
// (netlib/NubraSdkExtras.h); a transfer's worker calls it. The sink is kept
// in one atomic pointer, so handing it over, replacing it or taking it away
// (null) is safe while transfers run. Without a sink the library is silent.
#pragma once

#include <windows.h>

#include <cstdarg>

#include "netlib/NubraSdkExtras.h"

namespace nubra {

enum LogSeverity { kLogInformation = 2, kLogWarning = 3, kLogError = 4 };

void SetLogSink(PFN_NUBRA_LOG_SINK pfnSink);

// Formats one line (printf rules, wide) and hands it to the sink, if any.
// Long lines are cut, never overrun.
void LibraryLog(int nSeverity, LPCWSTR pszFunction, LPCWSTR pszFormat, ...);
// The same, with pszLead written before the formatted text.
void LibraryLogV(int nSeverity, LPCWSTR pszFunction, LPCWSTR pszLead, LPCWSTR pszFormat, va_list args);

}  // namespace nubra
