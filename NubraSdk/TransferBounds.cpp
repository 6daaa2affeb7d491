// Limits of one transfer (see TransferBounds.h).
#include "NubraSdk/TransferBounds.h"

#include "NubraSdk/EnvSetting.h"
#include "netlib/DownloadRecord.h"

#include <wininet.h>

#include <cwchar>
#include <vector>

namespace nubra {

ULONGLONG UnsizedCapBytes()
{
    return EnvironmentLimit(L"NUBRA_SIZE_CAP_BYTES", kUnsizedCapFloorBytes, kUnsizedCapBytes);
}

BoundsVerdict BodyBounds(LONGLONG llOrdered, ULONGLONG ullOffset, LONGLONG llLength, LONGLONG llRangeTotal,
                         ULONGLONG ullCap, ULONGLONG& ullMaxBody, bool& bExact)
{
    // The sizes a file of this order may have.
    ULONGLONG ullLow = 0, ullHigh = ullCap;
    if (llOrdered > 0) {
        const ULONGLONG ullOrdered = static_cast<ULONGLONG>(llOrdered);
        if (ullOrdered > ullCap)
            return BoundsVerdict::BeyondCap;
        const ULONGLONG ullMargin = OrderedSizeMargin(ullOrdered);
        ullLow = ullOrdered > ullMargin ? ullOrdered - ullMargin : 0;
        ullHigh = ullOrdered + ullMargin;
    }
    ULONGLONG ullTotal = 0;
    bExact = true;
    if (llRangeTotal >= 0) {
        ullTotal = static_cast<ULONGLONG>(llRangeTotal);
    } else if (llLength >= 0) {
        ullTotal = ullOffset + static_cast<ULONGLONG>(llLength);
    } else {
        // A body without any size ends when the server closes; it may run to
        // the largest file the order allows.
        ullTotal = ullHigh;
        bExact = false;
    }
    if (bExact && ullTotal > ullHigh)
        return llOrdered > 0 ? BoundsVerdict::BeyondOrder : BoundsVerdict::BeyondCap;
    if (bExact && ullTotal < ullLow)
        return BoundsVerdict::BelowOrder;
    if (ullOffset > ullTotal)
        return BoundsVerdict::OffsetBeyondFile;
    ullMaxBody = ullTotal - ullOffset;
    // The announced length must be exactly the rest of the file.
    if (llLength >= 0 && static_cast<ULONGLONG>(llLength) != ullMaxBody)
        return BoundsVerdict::Inconsistent;
    return BoundsVerdict::Accepted;
}

bool IsRedirectStatus(DWORD dwStatus)
{
    return dwStatus == 301 || dwStatus == 302 || dwStatus == 303 || dwStatus == 307 || dwStatus == 308;
}

namespace {

// The address's scheme, and whether it names a host.
bool CrackScheme(const std::wstring& strUrl, INTERNET_SCHEME& nScheme, bool& bHost)
{
    URL_COMPONENTSW uc = {};
    uc.dwStructSize = sizeof(uc);
    uc.dwHostNameLength = 1;
    if (!::InternetCrackUrlW(strUrl.c_str(), 0, 0, &uc))
        return false;
    nScheme = uc.nScheme;
    bHost = uc.lpszHostName && uc.dwHostNameLength;
    return true;
}

}  // namespace

RedirectVerdict RedirectTarget(const std::wstring& strFrom, const std::wstring& strLocation, std::wstring& strTo)
{
    if (strLocation.empty() || strLocation.find_first_of(L"\r\n") != std::wstring::npos)
        return RedirectVerdict::Malformed;
    DWORD cch = 0;
    ::InternetCombineUrlW(strFrom.c_str(), strLocation.c_str(), nullptr, &cch, ICU_NO_ENCODE);
    if (cch == 0 || cch > 64 * 1024)
        return RedirectVerdict::Malformed;
    std::vector<wchar_t> buffer(cch + 1);
    cch = static_cast<DWORD>(buffer.size());
    if (!::InternetCombineUrlW(strFrom.c_str(), strLocation.c_str(), buffer.data(), &cch, ICU_NO_ENCODE))
        return RedirectVerdict::Malformed;
    const std::wstring strCombined(buffer.data());

    INTERNET_SCHEME nScheme = INTERNET_SCHEME_UNKNOWN, nFromScheme = INTERNET_SCHEME_UNKNOWN;
    bool bHost = false, bFromHost = false;
    if (!CrackScheme(strCombined, nScheme, bHost))
        return RedirectVerdict::Malformed;
    if (nScheme != INTERNET_SCHEME_HTTP && nScheme != INTERNET_SCHEME_HTTPS)
        return RedirectVerdict::NotWeb;
    if (!bHost)
        return RedirectVerdict::Malformed;
    if (CrackScheme(strFrom, nFromScheme, bFromHost) && nFromScheme == INTERNET_SCHEME_HTTPS &&
        nScheme != INTERNET_SCHEME_HTTPS)
        return RedirectVerdict::LeavesHttps;
    strTo = strCombined;
    return RedirectVerdict::Follow;
}

}  // namespace nubra
