#include "upgrade/SetupSweep.h"

#include "log/Log.h"
#include "upgrade/SetupNaming.h"
#include "win/FinalPath.h"
#include "win/Handles.h"

#include <cwchar>

namespace {

// Whether deleting the entry could reach a file elsewhere: a link, or a name
// that resolves outside the folder. Wine follows a Unix link even when the
// link itself is deleted, so the attribute alone is not enough.
bool LeadsOutside(const std::wstring& strResolvedDir, const std::wstring& strPath, DWORD dwAttributes)
{
    if (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return true;
    const std::wstring strResolved = FinalPathOf(strPath);
    if (strResolved.empty() || strResolvedDir.empty())
        return false;  // nothing to compare: deleting the name itself is all that can happen
    const size_t nSlash = strResolved.find_last_of(L'\\');
    return nSlash == std::wstring::npos || _wcsicmp(strResolved.substr(0, nSlash).c_str(), strResolvedDir.c_str()) != 0;
}

// Deletes one file of the folder, a read-only leftover too; logs the outcome
// by name as the sweep always has.
bool DeleteSetupFile(const std::wstring& strDir, LPCWSTR pszName, DWORD dwAttributes)
{
    const std::wstring strPath = strDir + pszName;
    // A read-only leftover would fail every later sweep, run after run.
    if (dwAttributes & FILE_ATTRIBUTE_READONLY)
        ::SetFileAttributesW(strPath.c_str(), dwAttributes & ~FILE_ATTRIBUTE_READONLY);
    if (!::DeleteFileW(strPath.c_str())) {
        LOG_INFO(L"CUpgradeDlgDUI::DeleteFileExpireEx", L"Clear Expire File( %s ) Failure!", pszName);
        return false;
    }
    LOG_INFO(L"CUpgradeDlgDUI::DeleteFileExpireEx", L"Clear Expire File( %s ) Success!", pszName);
    return true;
}

std::wstring ResolvedFolder(const std::wstring& strDir)
{
    std::wstring strResolvedDir = FinalPathOf(strDir);
    while (!strResolvedDir.empty() && strResolvedDir.back() == L'\\')
        strResolvedDir.pop_back();
    return strResolvedDir;
}

}  // namespace

bool SweepSetupFiles(const std::wstring& strDir, bool* pbSearched, const std::wstring& strKeepSetup)
{
    if (pbSearched)
        *pbSearched = false;
    if (!IsOwnFolderPath(strDir)) {
        LOG_ERROR(L"CUpgradeDlgDUI::DeleteFileExpireEx", L"Clear Expire File refused, folder( %s ) is not absolute",
                  strDir.c_str());
        return false;
    }
    WIN32_FIND_DATAW fd;
    CFindHandle hFind(::FindFirstFileW((strDir + L"*.*").c_str(), &fd));
    if (pbSearched)
        *pbSearched = hFind.IsValid();
    if (!hFind.IsValid())
        return true;
    const std::wstring strResolvedDir = ResolvedFolder(strDir);
    const std::vector<std::wstring> keep = strKeepSetup.empty() ? std::vector<std::wstring>() : OwnSetupFiles(strKeepSetup);
    const auto IsKept = [&keep, &strDir](LPCWSTR pszName) {
        for (const std::wstring& strPath : keep) {
            if (_wcsicmp(strPath.c_str(), (strDir + pszName).c_str()) == 0)
                return true;
        }
        return false;
    };
    do {
        if (std::wcscmp(fd.cFileName, L".") == 0 || std::wcscmp(fd.cFileName, L"..") == 0)
            continue;
        // A sub-folder (or a link to one) is not a setup program; deleting
        // through it could reach outside the upgrade folder.
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        if (!std::wcsstr(fd.cFileName, L".exe") || IsKept(fd.cFileName))
            continue;
        if (LeadsOutside(strResolvedDir, strDir + fd.cFileName, fd.dwFileAttributes))
            continue;
        if (!DeleteSetupFile(strDir, fd.cFileName, fd.dwFileAttributes))
            return false;
    } while (::FindNextFileW(hFind.Get(), &fd));
    return true;
}

bool SweepOwnSetupFiles(const std::wstring& strDir, const std::wstring& strSetupPath)
{
    if (!IsOwnFolderPath(strDir) || strSetupPath.size() <= strDir.size() ||
        _wcsnicmp(strSetupPath.c_str(), strDir.c_str(), strDir.size()) != 0)
        return true;
    const std::wstring strName = strSetupPath.substr(strDir.size());
    if (!IsAcceptableSetupName(strDir, strName))
        return true;
    const std::wstring strResolvedDir = ResolvedFolder(strDir);
    for (const std::wstring& strPath : OwnSetupFiles(strDir + strName)) {
        const DWORD dwAttributes = ::GetFileAttributesW(strPath.c_str());
        if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            LeadsOutside(strResolvedDir, strPath, dwAttributes))
            continue;
        if (!DeleteSetupFile(strDir, strPath.c_str() + strDir.size(), dwAttributes))
            return false;
    }
    return true;
}
