// Limits of one transfer (see TransferBounds.h).
#include "NubraSdk/TransferBounds.h"

#include "NubraSdk/EnvSetting.h"

#include <wininet.h>

#include <cwchar>
#include <vector>

namespace nubra {

ULONGLONG UnsizedCapBytes()
{
    return EnvironmentNumber(L"NUBRA_SIZE_CAP_BYTES", 1, kUnsizedCapBytes - 1, kUnsizedCapBytes);
}

bool BodyBounds(LONGLONG llOrdered, ULONGLONG ullOffset, LONGLONG llLength, LONGLONG llRangeTotal, ULONGLONG ullCap,
                ULONGLONG& ullMaxBody, bool& bExact)
{
    ULONGLONG ullTotal = 0;
    bExact = true;
    if (llOrdered > 0) {
        ullTotal = static_cast<ULONGLONG>(llOrdered);
        if (llRangeTotal >= 0 && static_cast<ULONGLONG>(llRangeTotal) != ullTotal)
            return false;
    } else if (llRangeTotal >= 0) {
        ullTotal = static_cast<ULONGLONG>(llRangeTotal);
    } else if (llLength >= 0) {
        ullTotal = ullOffset + static_cast<ULONGLONG>(llLength);
    } else {
        ullTotal = ullCap;
        bExact = false;  // a body without any size ends when the server closes
    }
    if (ullTotal > ullCap || ullOffset > ullTotal)
        return false;
    ullMaxBody = ullTotal - ullOffset;
    // The announced length must be exactly the rest of the file.
    return llLength < 0 || static_cast<ULONGLONG>(llLength) == ullMaxBody;
}

bool IsRedirectStatus(DWORD dwStatus)
{
    return dwStatus == 301 || dwStatus == 302 || dwStatus == 303 || dwStatus == 307 || dwStatus == 308;
}

bool RedirectTarget(const std::wstring& strFrom, const std::wstring& strLocation, std::wstring& strTo)
{
    if (strLocation.empty() || strLocation.find_first_of(L"\r\n") != std::wstring::npos)
        return false;
    DWORD cch = 0;
    ::InternetCombineUrlW(strFrom.c_str(), strLocation.c_str(), nullptr, &cch, ICU_NO_ENCODE);
    if (cch == 0 || cch > 64 * 1024)
        return false;
    std::vector<wchar_t> buffer(cch + 1);
    cch = static_cast<DWORD>(buffer.size());
    if (!::InternetCombineUrlW(strFrom.c_str(), strLocation.c_str(), buffer.data(), &cch, ICU_NO_ENCODE))
        return false;
    const std::wstring strCombined(buffer.data());

    URL_COMPONENTSW uc = {};
    uc.dwStructSize = sizeof(uc);
    uc.dwHostNameLength = 1;
    if (!::InternetCrackUrlW(strCombined.c_str(), 0, 0, &uc) || !uc.lpszHostName || uc.dwHostNameLength == 0)
        return false;
    if (uc.nScheme != INTERNET_SCHEME_HTTP && uc.nScheme != INTERNET_SCHEME_HTTPS)
        return false;
    strTo = strCombined;
    return true;
}

}  // namespace nubra
