// How the library touches the partial file and its note: as files of its
// own in the target's folder, never through whatever another program put at
// their names. Any program of the user can plant a link there (a hard link
// needs no privilege): a write would change, a resume grow, a delete remove
// a file elsewhere (Wine deletes a link's target). So each is opened as
// win/OwnFile.h opens the state file: no link or junction, one name only,
// its final path inside the real folder. A foreign file is replaced by an
// empty one and the download starts from byte 0; nothing is deleted unless
// the open handle proved the file the library's own.
#pragma once

#include <windows.h>

#include <string>

#include "win/Handles.h"

namespace nubra {

// The file at strPath for reading, when it is there and the library's own;
// an invalid handle otherwise.
CKernelHandle OpenOwnPartForRead(const std::wstring& strPath);

// The file at strPath for writing, the library's own. bFresh: an empty new
// file in any case (a truncated one when someone holds the old one open);
// otherwise the file as it is, created empty when missing. Whatever foreign
// file is in the way is replaced, with a record that says so.
CKernelHandle ClaimPartFile(const std::wstring& strPath, bool bFresh);

// The size of the file at strPath when it is the library's own; 0 otherwise.
ULONGLONG OwnPartBytes(const std::wstring& strPath);

// Gone from its name: deleted through a handle that proved it the library's
// own, or a foreign file replaced by an empty one (no note, no bytes).
void DiscardPartFile(const std::wstring& strPath);

// Writes strBytes as a new file beside strPath and moves it over the name,
// so that neither a link there nor a torn write can take the bytes elsewhere.
bool WritePartFileAnew(const std::wstring& strPath, const std::string& strBytes);

// Moves the finished partial file to strTarget, through a handle that proved
// it the library's own. Sets the last error when it fails.
bool MoveOwnPartFile(const std::wstring& strPart, const std::wstring& strTarget);

}  // namespace nubra
