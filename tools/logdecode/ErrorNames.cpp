#include "tools/logdecode/ErrorNames.h"

#include "tools/logdecode/LogPrint.h"

#include <cwchar>

namespace {

struct NamedNumber {
    unsigned long ulNumber;
    LPCWSTR pszName;
};

// The statuses a download can end on: the library follows redirects itself
// and takes only 200 and 206, so anything else is the server's refusal.
const NamedNumber kHttpStatuses[] = {
    {200, L"ok"},
    {206, L"partial content"},
    {301, L"moved permanently"},
    {302, L"found"},
    {303, L"see other"},
    {304, L"not modified"},
    {307, L"temporary redirect"},
    {308, L"permanent redirect"},
    {400, L"bad request"},
    {401, L"unauthorized"},
    {403, L"forbidden"},
    {404, L"not found"},
    {405, L"method not allowed"},
    {407, L"proxy authentication required"},
    {408, L"request timeout"},
    {410, L"gone"},
    {412, L"precondition failed"},
    {416, L"range not satisfiable"},
    {429, L"too many requests"},
    {500, L"internal server error"},
    {501, L"not implemented"},
    {502, L"bad gateway"},
    {503, L"service unavailable"},
    {504, L"gateway timeout"},
};

// What the library reports: the last error of a WinINet call, the codes it
// sets itself (12005, 12006, 12031, 12152, 12156), and the Windows errors of
// creating, writing and renaming the download.
const NamedNumber kErrorCodes[] = {
    {2, L"file not found"},
    {3, L"path not found"},
    {5, L"access denied"},
    {8, L"not enough memory"},
    {14, L"out of memory"},
    {19, L"write protected"},
    {21, L"device not ready"},
    {29, L"write fault"},
    {32, L"sharing violation"},
    {33, L"lock violation"},
    {39, L"disk full"},
    {80, L"file exists"},
    {87, L"invalid parameter"},
    {112, L"disk full"},
    {123, L"invalid file name"},
    {183, L"already exists"},
    {206, L"file name too long"},
    {995, L"operation aborted"},
    {1224, L"file in use by a mapped section"},
    {1450, L"insufficient system resources"},
    {1460, L"timed out"},
    {12001, L"out of handles"},
    {12002, L"timed out"},
    {12003, L"extended error"},
    {12004, L"internal error"},
    {12005, L"invalid URL"},
    {12006, L"unrecognized scheme"},
    {12007, L"name not resolved"},
    {12008, L"protocol not found"},
    {12009, L"invalid option"},
    {12012, L"shut down"},
    {12013, L"incorrect user name"},
    {12014, L"incorrect password"},
    {12015, L"login failure"},
    {12016, L"invalid operation"},
    {12017, L"operation cancelled"},
    {12018, L"incorrect handle type"},
    {12019, L"incorrect handle state"},
    {12026, L"request pending"},
    {12028, L"item not found"},
    {12029, L"cannot connect"},
    {12030, L"connection aborted"},
    {12031, L"connection reset"},
    {12032, L"force retry"},
    {12033, L"invalid proxy request"},
    {12036, L"handle exists"},
    {12037, L"certificate date invalid"},
    {12038, L"certificate name invalid"},
    {12039, L"redirect from http to https"},
    {12040, L"redirect from https to http"},
    {12044, L"client certificate needed"},
    {12045, L"invalid certificate authority"},
    {12046, L"client authentication not set up"},
    {12047, L"async thread failed"},
    {12048, L"redirect scheme change"},
    {12055, L"certificate errors"},
    {12056, L"certificate revocation unknown"},
    {12057, L"certificate revocation check failed"},
    {12150, L"header not found"},
    {12151, L"downlevel server"},
    {12152, L"invalid server response"},
    {12153, L"invalid header"},
    {12154, L"invalid query request"},
    {12155, L"header already exists"},
    {12156, L"redirect failed"},
    {12157, L"secure channel error"},
    {12158, L"unable to cache file"},
    {12159, L"TCP/IP not installed"},
    {12160, L"not redirected"},
    {12163, L"disconnected"},
    {12164, L"server unreachable"},
    {12165, L"proxy server unreachable"},
    {12166, L"bad auto-proxy script"},
    {12167, L"unable to download the auto-proxy script"},
    {12169, L"invalid certificate"},
    {12170, L"certificate revoked"},
    {12171, L"failed due to a security check"},
    {12172, L"not initialized"},
    {12175, L"decoding failed"},
};

// The error bits of a certificate chain (CERT_TRUST_* of the system's
// chain engine), as the records about a setup's signature carry them.
const NamedNumber kChainStatusBits[] = {
    {0x00000001, L"IS_NOT_TIME_VALID"},
    {0x00000002, L"IS_NOT_TIME_NESTED"},
    {0x00000004, L"IS_REVOKED"},
    {0x00000008, L"IS_NOT_SIGNATURE_VALID"},
    {0x00000010, L"IS_NOT_VALID_FOR_USAGE"},
    {0x00000020, L"IS_UNTRUSTED_ROOT"},
    {0x00000040, L"REVOCATION_STATUS_UNKNOWN"},
    {0x00000080, L"IS_CYCLIC"},
    {0x00000100, L"INVALID_EXTENSION"},
    {0x00000200, L"INVALID_POLICY_CONSTRAINTS"},
    {0x00000400, L"INVALID_BASIC_CONSTRAINTS"},
    {0x00000800, L"INVALID_NAME_CONSTRAINTS"},
    {0x00001000, L"HAS_NOT_SUPPORTED_NAME_CONSTRAINT"},
    {0x00002000, L"HAS_NOT_DEFINED_NAME_CONSTRAINT"},
    {0x00004000, L"HAS_NOT_PERMITTED_NAME_CONSTRAINT"},
    {0x00008000, L"HAS_EXCLUDED_NAME_CONSTRAINT"},
    {0x00010000, L"IS_PARTIAL_CHAIN"},
    {0x00020000, L"CTL_IS_NOT_TIME_VALID"},
    {0x00040000, L"CTL_IS_NOT_SIGNATURE_VALID"},
    {0x00080000, L"CTL_IS_NOT_VALID_FOR_USAGE"},
    {0x00100000, L"HAS_WEAK_SIGNATURE"},
    {0x01000000, L"IS_OFFLINE_REVOCATION"},
    {0x02000000, L"NO_ISSUANCE_CHAIN_POLICY"},
    {0x04000000, L"IS_EXPLICIT_DISTRUST"},
    {0x08000000, L"HAS_NOT_SUPPORTED_CRITICAL_EXT"},
};
const wchar_t kChainWord[] = L"chain status 0x";
const size_t kMaxSignatureChars = 200;
// The answers the library takes; with any other status its error 12152 only
// says that the server refused, which the status already names.
const unsigned long kRefusedAnswerError = 12152;

bool IsAcceptedStatus(unsigned long ulStatus)
{
    return ulStatus == 200 || ulStatus == 206;
}

template <size_t N>
LPCWSTR Lookup(const NamedNumber (&table)[N], unsigned long ulNumber)
{
    for (const NamedNumber& named : table) {
        if (named.ulNumber == ulNumber)
            return named.pszName;
    }
    return NULL;
}

bool IsDigit(wchar_t ch)
{
    return ch >= L'0' && ch <= L'9';
}

// The digits right after the first "strWord" that is followed by a number
// of 1 to 10 digits; nAt is where that word starts. Empty when there is none.
std::wstring NumberAfter(const std::wstring& strText, const std::wstring& strWord, size_t& nAt)
{
    for (size_t nPos = strText.find(strWord); nPos != std::wstring::npos; nPos = strText.find(strWord, nPos + 1)) {
        size_t nEnd = nPos + strWord.size();
        while (nEnd < strText.size() && nEnd - nPos - strWord.size() <= 10 && IsDigit(strText[nEnd]))
            ++nEnd;
        const size_t nDigits = nEnd - nPos - strWord.size();
        if (nDigits >= 1 && nDigits <= 10) {
            nAt = nPos;
            return strText.substr(nPos + strWord.size(), nEnd - nPos - strWord.size());
        }
    }
    return std::wstring();
}

unsigned long NumberValue(const std::wstring& strDigits)
{
    unsigned long long ull = 0;
    for (wchar_t ch : strDigits)
        ull = ull * 10 + static_cast<unsigned>(ch - L'0');
    return ull > 0xFFFFFFFFull ? 0xFFFFFFFFul : static_cast<unsigned long>(ull);
}

std::wstring Named(const std::wstring& strLabel, const std::wstring& strDigits, LPCWSTR pszName)
{
    return strLabel + strDigits + (pszName ? std::wstring(L" (") + pszName + L")" : std::wstring());
}

}  // namespace

LPCWSTR HttpStatusName(unsigned long ulStatus)
{
    return Lookup(kHttpStatuses, ulStatus);
}

LPCWSTR ErrorCodeName(unsigned long ulError)
{
    return Lookup(kErrorCodes, ulError);
}

std::wstring ChainStatusNames(unsigned long ulStatus)
{
    std::wstring strNames;
    unsigned long ulKnown = 0;
    for (const NamedNumber& bit : kChainStatusBits) {
        ulKnown |= bit.ulNumber;
        if (ulStatus & bit.ulNumber)
            strNames += (strNames.empty() ? L"" : L", ") + std::wstring(bit.pszName);
    }
    if (ulStatus & ~ulKnown) {
        wchar_t szRest[16] = {};
        _snwprintf(szRest, 15, L"0x%08lX", ulStatus & ~ulKnown);
        strNames += (strNames.empty() ? L"" : L", ") + std::wstring(szRest);
    }
    return strNames;
}

std::wstring SignatureGist(const std::wstring& strText)
{
    const size_t nAt = strText.find(kChainWord);
    const size_t nDigits = nAt == std::wstring::npos ? 0 : nAt + wcslen(kChainWord);
    if (nAt == std::wstring::npos || strText.size() < nDigits + 8)
        return std::wstring();
    unsigned long ulStatus = 0;
    for (size_t i = nDigits; i < nDigits + 8; ++i) {
        const wchar_t ch = strText[i];
        const int nNibble = IsDigit(ch)                  ? ch - L'0'
                            : (ch >= L'a' && ch <= L'f') ? ch - L'a' + 10
                            : (ch >= L'A' && ch <= L'F') ? ch - L'A' + 10
                                                         : -1;
        if (nNibble < 0)
            return std::wstring();
        ulStatus = (ulStatus << 4) | static_cast<unsigned long>(nNibble);
    }
    const std::wstring strNames = ChainStatusNames(ulStatus);
    return OneLineText(strText.substr(0, nDigits + 8), kMaxSignatureChars) +
           (strNames.empty() ? std::wstring() : L" (" + strNames + L")");
}

std::wstring SignatureRest(const std::wstring& strText)
{
    if (SignatureGist(strText).empty())
        return std::wstring();
    return strText.substr(strText.find(kChainWord) + wcslen(kChainWord) + 8);
}

std::wstring ErrorGist(const std::wstring& strText)
{
    const std::wstring strSignature = SignatureGist(strText);
    if (!strSignature.empty())
        return strSignature;
    std::wstring strGist;
    size_t nAt = 0;
    const std::wstring strStatus = NumberAfter(strText, L"HTTP status ", nAt);
    const bool bRefused =
        !strStatus.empty() && NumberValue(strStatus) != 0 && !IsAcceptedStatus(NumberValue(strStatus));
    if (!strStatus.empty() && NumberValue(strStatus) != 0)
        strGist = Named(L"HTTP ", strStatus, HttpStatusName(NumberValue(strStatus)));
    const std::wstring strError = NumberAfter(strText, L"error ", nAt);
    if (!strError.empty() && NumberValue(strError) != 0 &&
        !(bRefused && NumberValue(strError) == kRefusedAnswerError)) {
        const bool bNetwork = nAt >= 8 && strText.compare(nAt - 8, 8, L"network ") == 0;
        if (!strGist.empty())
            strGist += L", ";
        strGist += Named(bNetwork ? L"network error " : L"error ", strError, ErrorCodeName(NumberValue(strError)));
    }
    return strGist;
}
