// The partial file and its note as the library's own files (see
// PartFileAccess.h).
#include "NubraSdk/PartFileAccess.h"

#include <vector>

#include "NubraSdk/LibraryLog.h"
#include "win/FinalPath.h"
#include "win/OwnFile.h"

namespace nubra {

namespace {

const wchar_t kPartLogFunction[] = L"Nubra_SDK::PartialFile";
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The file that is at strPath now, opened as it is; pszForeign tells why it
// is not ours (nullptr when it is, or when nothing could be opened).
CKernelHandle OpenExisting(const std::wstring& strPath, DWORD dwAccess, DWORD dwShare, LPCWSTR* ppszForeign)
{
    *ppszForeign = nullptr;
    const std::wstring strExpected = ExpectedFinalPath(strPath);
    CKernelHandle file(::CreateFileW(strPath.c_str(), dwAccess, dwShare, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file)
        return file;
    *ppszForeign =
        strExpected.empty() ? L"in a folder whose place cannot be told" : ForeignFileReason(file.Get(), strExpected);
    return *ppszForeign ? CKernelHandle() : std::move(file);
}

bool ReplaceForeign(const std::wstring& strPath, LPCWSTR pszForeign)
{
    LibraryLog(kLogWarning, kPartLogFunction,
               L"%s is not the library's own (%s): an empty file takes its name, and what it leads to stays as it was",
               strPath.c_str(), pszForeign);
    return ReplaceWithEmptyFile(strPath);
}

}  // namespace

CKernelHandle OpenOwnPartForRead(const std::wstring& strPath)
{
    LPCWSTR pszForeign = nullptr;
    return OpenExisting(strPath, GENERIC_READ, FILE_SHARE_READ, &pszForeign);
}

ULONGLONG OwnPartBytes(const std::wstring& strPath)
{
    LPCWSTR pszForeign = nullptr;
    const CKernelHandle file = OpenExisting(strPath, FILE_READ_ATTRIBUTES, kShareAll, &pszForeign);
    LARGE_INTEGER size = {};
    return file && ::GetFileSizeEx(file.Get(), &size) ? static_cast<ULONGLONG>(size.QuadPart) : 0;
}

CKernelHandle ClaimPartFile(const std::wstring& strPath, bool bFresh)
{
    const std::wstring strExpected = ExpectedFinalPath(strPath);
    if (strExpected.empty())
        return CKernelHandle();
    LPCWSTR pszForeign = nullptr;
    OpenExisting(strPath, FILE_READ_ATTRIBUTES, kShareAll, &pszForeign);
    // A new body goes to a new file rather than a truncated one: some file
    // systems start writing a truncated file's new contents to disk when it
    // is closed, which held the finished transfer up for as long as the disk
    // needed for the whole file.
    bool bReplaced = false;
    if (pszForeign)
        bReplaced = ReplaceForeign(strPath, pszForeign);
    else if (bFresh)
        bReplaced = ReplaceWithEmptyFile(strPath);
    // Twice: what OpenOwnFile finds foreign (a link that leads nowhere, or
    // one planted just now) is replaced once.
    for (int nRound = 0; nRound < 2; ++nRound) {
        if (pszForeign && !bReplaced)
            return CKernelHandle();
        CKernelHandle file = OpenOwnFile(strPath, GENERIC_WRITE, FILE_SHARE_READ, strExpected, &pszForeign);
        if (file) {
            // A partial file that someone keeps from being replaced is emptied instead.
            if (bFresh && !bReplaced && !::SetEndOfFile(file.Get()))
                return CKernelHandle();
            return file;
        }
        bReplaced = pszForeign && ReplaceForeign(strPath, pszForeign);
    }
    return CKernelHandle();
}

void DiscardPartFile(const std::wstring& strPath)
{
    LPCWSTR pszForeign = nullptr;
    const CKernelHandle file = OpenExisting(strPath, DELETE | FILE_READ_ATTRIBUTES, kShareAll, &pszForeign);
    if (pszForeign) {
        ReplaceForeign(strPath, pszForeign);
        return;
    }
    if (file)
        DeleteOpenFile(file.Get());
}

bool WritePartFileAnew(const std::wstring& strPath, const std::string& strBytes)
{
    // Keeps the name's ".exe", so that the program's sweep removes a leftover.
    const std::wstring strNew = strPath + L".new";
    {
        const CKernelHandle file = ClaimPartFile(strNew, true);
        DWORD dwWritten = 0;
        if (!file ||
            !::WriteFile(file.Get(), strBytes.data(), static_cast<DWORD>(strBytes.size()), &dwWritten, nullptr) ||
            dwWritten != strBytes.size())
            return false;
    }
    return ::MoveFileExW(strNew.c_str(), strPath.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool MoveOwnPartFile(const std::wstring& strPart, const std::wstring& strTarget)
{
    LPCWSTR pszForeign = nullptr;
    const CKernelHandle file =
        OpenExisting(strPart, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_DELETE, &pszForeign);
    if (!file) {
        if (pszForeign) {
            ReplaceForeign(strPart, pszForeign);
            ::SetLastError(ERROR_FILE_INVALID);
        }
        return false;
    }
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + strTarget.size() * sizeof(wchar_t));
    auto* pInfo = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    pInfo->ReplaceIfExists = TRUE;
    pInfo->FileNameLength = static_cast<DWORD>(strTarget.size() * sizeof(wchar_t));
    memcpy(pInfo->FileName, strTarget.data(), pInfo->FileNameLength);
    if (::SetFileInformationByHandle(file.Get(), FileRenameInfo, pInfo, static_cast<DWORD>(buffer.size())))
        return true;
    // Systems that take only a native path there: by name, while the handle
    // that proved the file ours keeps it open.
    return ::MoveFileExW(strPart.c_str(), strTarget.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

}  // namespace nubra
