#include "upgrade/SetupFileLock.h"

#include "log/Log.h"
#include "upgrade/SetupTrust.h"
#include "win/FinalPath.h"
#include "win/OwnFile.h"

#include <cwchar>

namespace {

bool SameIdentity(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow && a.nFileSizeHigh == b.nFileSizeHigh &&
           a.nFileSizeLow == b.nFileSizeLow && ::CompareFileTime(&a.ftLastWriteTime, &b.ftLastWriteTime) == 0;
}

bool EqualNoCase(const std::wstring& a, const std::wstring& b)
{
    return !a.empty() && _wcsicmp(a.c_str(), b.c_str()) == 0;
}

std::wstring WithoutTrailingSlash(std::wstring strPath)
{
    while (strPath.size() > 3 && (strPath.back() == L'\\' || strPath.back() == L'/'))
        strPath.pop_back();
    return strPath;
}

}  // namespace

bool CSetupFileLock::IsWhereItsPathSays(const std::wstring& strPath) const
{
    const size_t nSlash = strPath.find_last_of(L"\\/");
    if (nSlash == std::wstring::npos)
        return false;
    BY_HANDLE_FILE_INFORMATION folder = {};
    if (!::GetFileInformationByHandle(m_folder.Get(), &folder) ||
        ((folder.dwFileAttributes | m_info.dwFileAttributes) & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    const std::wstring strFolder = FinalPathOf(m_folder.Get());
    if (!EqualNoCase(FinalPathOf(m_file.Get()), strFolder + strPath.substr(nSlash)))
        return false;
    // Every folder from the trusted root down: one link anywhere would
    // change where the folder really is.
    const std::wstring strRoot = WithoutTrailingSlash(m_strTrustedRoot);
    if (strRoot.empty())
        return true;
    if (strPath.size() <= strRoot.size() || _wcsnicmp(strPath.c_str(), strRoot.c_str(), strRoot.size()) != 0)
        return false;
    return EqualNoCase(strFolder, FinalPathOf(strRoot) + strPath.substr(strRoot.size(), nSlash - strRoot.size()));
}

CSetupFileLock::HoldResult CSetupFileLock::Hold(const std::wstring& strPath)
{
    Release();
    // The folder first, so that it cannot be renamed away under the file.
    const size_t nSlash = strPath.find_last_of(L"\\/");
    if (nSlash == std::wstring::npos)
        return HoldResult::Missing;
    m_folder.Reset(::CreateFileW(strPath.substr(0, nSlash + 1).c_str(), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE /* no renaming, no deleting */, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS /* a folder */, nullptr));
    if (!m_folder.IsValid())
        return Failing(::GetLastError());
    // Once: a writer still closing the file, or a scanner reading it, is
    // waited for by the caller, away from this call.
    m_file.Reset(::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ /* no writing, no deleting */, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!m_file.IsValid())
        return Failing(::GetLastError());
    if (!::GetFileInformationByHandle(m_file.Get(), &m_info))
        return Failing(::GetLastError());
    if (m_info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return Failing(ERROR_DIRECTORY);
    if (!IsWhereItsPathSays(strPath)) {
        LOG_ERROR(L"CUpgradeDlgDUI::IsNewSetupFileExist",
                  L"setup path( %s ) leads elsewhere through a link or junction: refused", strPath.c_str());
        Release();
        return HoldResult::Elsewhere;
    }
    m_strPath = strPath;
    return HoldResult::Held;
}

CSetupFileLock::HoldResult CSetupFileLock::Failing(DWORD dwError)
{
    Release();
    m_dwLastError = dwError;
    if (dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND)
        return HoldResult::Missing;
    return IsFileInUseError(dwError) ? HoldResult::Busy : HoldResult::Failed;
}

std::wstring CSetupFileLock::DigestHeld(LPCWSTR pszAlgorithm) const
{
    return IsHeld() ? DigestOfOpenFile(m_file.Get(), pszAlgorithm) : std::wstring();
}

std::wstring CSetupFileLock::HoldAndDigest(const std::wstring& strPath, LPCWSTR pszAlgorithm)
{
    if (strPath.empty() || Hold(strPath) != HoldResult::Held)
        return std::wstring();
    std::wstring strDigest = DigestHeld(pszAlgorithm);
    if (strDigest.empty())
        Release();
    return strDigest;
}

bool CSetupFileLock::IsUnchanged() const
{
    BY_HANDLE_FILE_INFORMATION now = {};
    return IsHeld() && ::GetFileInformationByHandle(m_file.Get(), &now) && SameIdentity(now, m_info);
}

bool CSetupFileLock::IsAtItsPath() const
{
    if (!IsHeld())
        return false;
    const CKernelHandle atPath(::CreateFileW(m_strPath.c_str(), FILE_READ_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION there = {};
    return atPath.IsValid() && ::GetFileInformationByHandle(atPath.Get(), &there) &&
           there.dwVolumeSerialNumber == m_info.dwVolumeSerialNumber && there.nFileIndexHigh == m_info.nFileIndexHigh &&
           there.nFileIndexLow == m_info.nFileIndexLow && IsWhereItsPathSays(m_strPath);
}

void CSetupFileLock::Release()
{
    m_file.Reset();
    m_folder.Reset();
    m_strPath.clear();
}
