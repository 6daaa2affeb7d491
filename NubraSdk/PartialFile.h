// The partial file of a download and the note beside it that says which
// version of the remote file its bytes belong to.
//
// "setup.exe" downloads into "setup.exe.part", its validator (a strong ETag,
// else Last-Modified) and address go to "setup.exe.part.meta": both keep
// ".exe", so that the program's sweep removes leftovers. Bytes are resumed
// only when the note names a validator that the server confirms through
// If-Range, and the same address or the same ordered size (signed addresses
// and mirrors change for the same file); the caller's digest decides the
// rest. Both are the library's own files (PartFileAccess.h).
#pragma once

#include <windows.h>

#include <string>

namespace nubra {

struct CPartMeta {
    std::wstring strUrl;
    std::wstring strValidator;
    LONGLONG llSize = 0;  // the caller's ordered size; 0 when none was given
};

std::wstring PartialPathOf(const std::wstring& strTarget);
std::wstring MetaPathOf(const std::wstring& strTarget);

bool ReadPartMeta(const std::wstring& strMetaPath, CPartMeta& meta);
// Written as a new file moved over the name.
bool WritePartMeta(const std::wstring& strMetaPath, const CPartMeta& meta);

// Picks the validator If-Range can use: a strong ETag, else Last-Modified.
std::wstring ChooseValidator(const std::wstring& strETag, const std::wstring& strLastModified);

// True when a range answer carries strSent, the If-Range value, as its own
// validator (a tag as its ETag, a date as its Last-Modified): only then do
// its bytes continue ours, whatever a cache that ignores If-Range sends.
bool CarriesValidator(const std::wstring& strSent, const std::wstring& strETag, const std::wstring& strLastModified);

// Bytes of the partial file that may be resumed for strUrl and the ordered
// size llSize (<= 0: none), with the validator to send; 0 for none.
ULONGLONG ResumableBytes(const std::wstring& strTarget, const std::wstring& strUrl, LONGLONG llSize,
                         std::wstring& strValidator);

// Parses "bytes FIRST-LAST/TOTAL" (TOTAL "*": -1), numbers being lengths.
bool ParseContentRange(const std::wstring& strValue, ULONGLONG& ullFirst, ULONGLONG& ullLast, LONGLONG& llTotal);

}  // namespace nubra
