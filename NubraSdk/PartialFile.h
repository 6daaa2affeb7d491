// The partial file of a download and the note beside it that says which
// version of the remote file its bytes belong to.
//
// "setup.exe" downloads into "setup.exe.part"; the validator (a strong ETag,
// else Last-Modified) and the address go to "setup.exe.part.meta". Both names
// keep ".exe" so that the program's sweep of old setup files removes
// leftovers. Bytes are resumed only when the note names a validator that the
// server confirms through If-Range, and either the same address or the same
// ordered size: servers that sign their addresses, and mirrors, hand out a new
// address for the same file each time. The target's name is the file's name,
// and the caller's digest check at the end decides whatever was stitched.
// Both files are read and written only as the library's own
// (PartFileAccess.h): a note or bytes behind a link are never resumed.
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
// validator: an entity tag its ETag, a date its Last-Modified. Only then do
// its bytes continue ours: a cache that ignores If-Range may answer with
// another version, and one that keeps no validators says nothing of it.
bool CarriesValidator(const std::wstring& strSent, const std::wstring& strETag, const std::wstring& strLastModified);

// Bytes of the partial file that may be resumed for strUrl and the ordered
// size llSize (<= 0: none), with the validator to send; 0 when there is
// nothing trustworthy to resume.
ULONGLONG ResumableBytes(const std::wstring& strTarget, const std::wstring& strUrl, LONGLONG llSize,
                         std::wstring& strValidator);

// Parses "bytes FIRST-LAST/TOTAL" (TOTAL may be "*"); total is -1 then.
// False for anything else, numbers of more than 18 digits included.
bool ParseContentRange(const std::wstring& strValue, ULONGLONG& ullFirst, ULONGLONG& ullLast, LONGLONG& llTotal);

}  // namespace nubra
