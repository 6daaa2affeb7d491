// Partial files and their validator notes (see PartialFile.h).
#include "NubraSdk/PartialFile.h"

#include "NubraSdk/PartFileAccess.h"
#include "NubraSdk/TransferRules.h"
#include "win/Handles.h"
#include "win/Utf8.h"

namespace nubra {

namespace {

// The note is tiny; anything larger is not ours.
constexpr DWORD kMaxMetaBytes = 16 * 1024;
const char kUrlKey[] = "url=";
const char kValidatorKey[] = "validator=";
const char kSizeKey[] = "size=";

}  // namespace

std::wstring PartialPathOf(const std::wstring& strTarget)
{
    return strTarget + L".part";
}

std::wstring MetaPathOf(const std::wstring& strTarget)
{
    return strTarget + L".part.meta";
}

bool ReadPartMeta(const std::wstring& strMetaPath, CPartMeta& meta)
{
    // A note that is not ours (a link to a file elsewhere) vouches for nothing.
    const CKernelHandle hFile = OpenOwnPartForRead(strMetaPath);
    if (!hFile)
        return false;
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(hFile.Get(), &size) || size.QuadPart <= 0 || size.QuadPart > kMaxMetaBytes)
        return false;
    std::string text(static_cast<size_t>(size.QuadPart), '\0');
    DWORD dwRead = 0;
    if (!::ReadFile(hFile.Get(), &text[0], static_cast<DWORD>(text.size()), &dwRead, nullptr) || dwRead != text.size())
        return false;

    // Line by line; a last line without its end is a torn write. Notes of
    // older versions have no size: they resume by address only.
    CPartMeta parsed;
    bool bUrl = false, bValidator = false;
    for (size_t nPos = 0, nEnd = 0; nPos < text.size(); nPos = nEnd + 1) {
        if ((nEnd = text.find('\n', nPos)) == std::string::npos)
            return false;
        const std::string line = text.substr(nPos, nEnd - nPos);
        const std::wstring strValue = Utf8ToWide(line.substr(line.find('=') + 1));
        auto Is = [&line](const char* pszKey) { return line.compare(0, strlen(pszKey), pszKey) == 0; };
        if (Is(kUrlKey)) {
            parsed.strUrl = strValue;
            bUrl = true;
        } else if (Is(kValidatorKey)) {
            parsed.strValidator = strValue;
            bValidator = true;
        } else if (Is(kSizeKey) && !ParseLength(strValue, parsed.llSize)) {
            return false;
        }
    }
    if (!bUrl || !bValidator)
        return false;
    meta = parsed;
    return true;
}

bool WritePartMeta(const std::wstring& strMetaPath, const CPartMeta& meta)
{
    // Line breaks inside a value would forge another key.
    for (const std::wstring* p : {&meta.strUrl, &meta.strValidator})
        if (p->find_first_of(L"\r\n") != std::wstring::npos)
            return false;
    std::string text = kUrlKey + WideToUtf8(meta.strUrl) + "\n" + kValidatorKey + WideToUtf8(meta.strValidator) + "\n";
    if (meta.llSize > 0)
        text += kSizeKey + std::to_string(meta.llSize) + "\n";
    return WritePartFileAnew(strMetaPath, text);
}

std::wstring ChooseValidator(const std::wstring& strETag, const std::wstring& strLastModified)
{
    // If-Range only accepts a strong entity tag; a weak one would make every
    // resume start over, so the date serves instead.
    if (!strETag.empty() && strETag.compare(0, 2, L"W/") != 0)
        return strETag;
    return strLastModified;
}

bool CarriesValidator(const std::wstring& strSent, const std::wstring& strETag, const std::wstring& strLastModified)
{
    const bool bTag = !strSent.empty() && (strSent[0] == L'"' || strSent.compare(0, 2, L"W/") == 0);
    return !strSent.empty() && (bTag ? strETag : strLastModified) == strSent;
}

ULONGLONG ResumableBytes(const std::wstring& strTarget, const std::wstring& strUrl, LONGLONG llSize,
                         std::wstring& strValidator)
{
    strValidator.clear();
    CPartMeta meta;
    if (!ReadPartMeta(MetaPathOf(strTarget), meta) || meta.strValidator.empty())
        return 0;
    // Under the same address If-Range alone decides, as it always did.
    if (meta.strUrl != strUrl && (llSize <= 0 || meta.llSize != llSize))
        return 0;
    // Bytes that are not ours (a link to a file elsewhere) are never resumed.
    const ULONGLONG ullSize = OwnPartBytes(PartialPathOf(strTarget));
    // As long as the whole file or longer, it cannot be the start of it.
    if (llSize > 0 && ullSize >= static_cast<ULONGLONG>(llSize))
        return 0;
    if (ullSize)
        strValidator = meta.strValidator;
    return ullSize;
}

bool ParseContentRange(const std::wstring& strValue, ULONGLONG& ullFirst, ULONGLONG& ullLast, LONGLONG& llTotal)
{
    const size_t nStart = strValue.find_first_not_of(L' ');
    if (nStart == std::wstring::npos || strValue.compare(nStart, 6, L"bytes ") != 0)
        return false;
    const std::wstring s = strValue.substr(nStart + 6, strValue.find_last_not_of(L' ') + 1 - nStart - 6);
    const size_t nDash = s.find(L'-'), nSlash = s.find(L'/');
    LONGLONG llFirst = 0, llLast = 0;
    if (nDash == std::wstring::npos || nSlash == std::wstring::npos || nSlash < nDash ||
        !ParseLength(s.substr(0, nDash), llFirst) || !ParseLength(s.substr(nDash + 1, nSlash - nDash - 1), llLast) ||
        llLast < llFirst)
        return false;
    ullFirst = static_cast<ULONGLONG>(llFirst);
    ullLast = static_cast<ULONGLONG>(llLast);
    llTotal = -1;
    return s.compare(nSlash + 1, std::wstring::npos, L"*") == 0 ||
           (ParseLength(s.substr(nSlash + 1), llTotal) && llTotal > llLast);
}

}  // namespace nubra
