// Number formatting of the download face: speed, amount and bar position.
#include "upgrade/ProgressFormat.h"

#include <windows.h>

#include <climits>
#include <stdio.h>

namespace {

const float kKB = 1024.0f;
const float kMB = 1024.0f * 1024.0f;
const float kGB = 1024.0f * 1024.0f * 1024.0f;

// The x87 unit keeps intermediates in extended precision; storing through a
// volatile forces the single-precision rounding the displayed figures assume,
// so a quotient just above a threshold cannot flip the unit.
float ToSingle(float fValue)
{
    volatile float fStored = fValue;
    return fStored;
}

// _snwprintf leaves a result that fills the buffer unterminated; it is cut
// one character short and terminated here instead.
void FormatInto(wchar_t* pszBuffer, size_t nChars, const wchar_t* pszFormat, double dValue)
{
    _snwprintf(pszBuffer, nChars - 1, pszFormat, dValue);
    pszBuffer[nChars - 1] = L'\0';
}

// Strict thresholds: exactly 1 MB still reads in KB, exactly 1 GB in MB.
std::wstring FormatAmount(float fBytes, const wchar_t* pszGB, const wchar_t* pszMB, const wchar_t* pszKB)
{
    wchar_t szBuffer[100] = {};
    const size_t nChars = sizeof(szBuffer) / sizeof(szBuffer[0]);
    const float fInGB = ToSingle(fBytes / kGB);
    const float fInMB = ToSingle(fBytes / kMB);
    if (fInGB > 1.0f)
        FormatInto(szBuffer, nChars, pszGB, static_cast<double>(fInGB));
    else if (fInMB > 1.0f)
        FormatInto(szBuffer, nChars, pszMB, static_cast<double>(fInMB));
    else
        FormatInto(szBuffer, nChars, pszKB, static_cast<double>(ToSingle(fBytes / kKB)));
    return szBuffer;
}

}  // namespace

std::wstring FormatSpeedText(float fKBps)
{
    wchar_t szBuffer[50] = {};
    FormatInto(szBuffer, sizeof(szBuffer) / sizeof(szBuffer[0]), L"%.2fKB/S", static_cast<double>(fKBps));
    return szBuffer;
}

std::wstring FormatAmountText(int nTotalSize, float fFraction)
{
    const float fTotal = ToSingle(static_cast<float>(nTotalSize));
    const float fDownloaded = ToSingle(fTotal * fFraction);
    return FormatAmount(fDownloaded, L"%.2fGB/", L"%.2fMB/", L"%.2fKB/") +
           FormatAmount(fTotal, L"%.2fGB", L"%.2fMB", L"%.2fKB");
}

int ProgressBarPosition(float fFraction)
{
    const double dPercent = static_cast<double>(fFraction) * 100.0;
    // Also catches a NaN fraction, which no comparison accepts.
    if (!(dPercent >= 3.0))
        return 3;
    // A fraction far above 1 must not overflow the conversion to int.
    if (dPercent >= static_cast<double>(INT_MAX))
        return INT_MAX;
    return static_cast<int>(dPercent);
}

long long DownloadedOfTotal(int nTotalSize, uint32_t unFileSize, uint32_t unReceived)
{
    if (nTotalSize <= 0)
        return 0;
    const long long llTotal = nTotalSize;
    long long llDone;
    if (unFileSize <= static_cast<uint32_t>(nTotalSize))
        llDone = llTotal - unFileSize + unReceived;
    else if (unFileSize != 0xFFFFFFFFu)
        llDone = static_cast<long long>(unReceived) * llTotal / unFileSize;
    else
        llDone = unReceived;
    return llDone > llTotal ? llTotal : (llDone > 0 ? llDone : 0);
}

float DownloadFraction(int nTotalSize, uint32_t unFileSize, uint32_t unReceived)
{
    if (nTotalSize <= 0)
        return 0.0f;
    return static_cast<float>(static_cast<double>(DownloadedOfTotal(nTotalSize, unFileSize, unReceived)) /
                              nTotalSize);
}
