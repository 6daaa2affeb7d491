#include "upgrade/SetupFiles.h"

#include "log/Log.h"
#include "upgrade/UpgradeState.h"

#include <cwchar>
#include <cwctype>

namespace {

// A find handle that closes itself.
class CFindHandle {
public:
    explicit CFindHandle(HANDLE h) : m_h(h) {}
    ~CFindHandle()
    {
        if (m_h != INVALID_HANDLE_VALUE)
            ::FindClose(m_h);
    }
    CFindHandle(const CFindHandle&) = delete;
    CFindHandle& operator=(const CFindHandle&) = delete;
    bool IsValid() const { return m_h != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_h; }

private:
    HANDLE m_h;
};

bool IsReservedDeviceName(const std::wstring& strName)
{
    // "CON", "con.exe" and "COM1.tar.gz" all name devices on Windows.
    std::wstring strStem = strName.substr(0, strName.find(L'.'));
    while (!strStem.empty() && strStem.back() == L' ')
        strStem.pop_back();
    for (auto& ch : strStem)
        ch = static_cast<wchar_t>(std::towupper(ch));
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (LPCWSTR pszDevice : kDevices) {
        if (strStem == pszDevice)
            return true;
    }
    if (strStem.size() == 4 && (strStem.compare(0, 3, L"COM") == 0 || strStem.compare(0, 3, L"LPT") == 0) &&
        strStem[3] >= L'1' && strStem[3] <= L'9')
        return true;
    return false;
}

// The folder's or file's own path with every link resolved; empty when it
// cannot be opened.
std::wstring ResolvedPath(const std::wstring& strPath)
{
    HANDLE h = ::CreateFileW(strPath.c_str(), 0 /* no data access */,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS /* folders too */, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::wstring();
    wchar_t szPath[MAX_PATH * 2] = {};
    const DWORD n = ::GetFinalPathNameByHandleW(h, szPath, MAX_PATH * 2, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    ::CloseHandle(h);
    return n > 0 && n < MAX_PATH * 2 ? std::wstring(szPath, n) : std::wstring();
}

// Whether deleting the entry could reach a file elsewhere: a link, or a name
// that resolves outside the folder. Wine follows a Unix link even when the
// link itself is deleted, so the attribute alone is not enough.
bool LeadsOutside(const std::wstring& strResolvedDir, const std::wstring& strPath, DWORD dwAttributes)
{
    if (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return true;
    const std::wstring strResolved = ResolvedPath(strPath);
    if (strResolved.empty() || strResolvedDir.empty())
        return false;  // nothing to compare: deleting the name itself is all that can happen
    const size_t nSlash = strResolved.find_last_of(L'\\');
    return nSlash == std::wstring::npos || _wcsicmp(strResolved.substr(0, nSlash).c_str(), strResolvedDir.c_str()) != 0;
}

bool EndsWithNoCase(const std::wstring& strText, LPCWSTR pszTail)
{
    const size_t nTail = std::wcslen(pszTail);
    return strText.size() >= nTail && _wcsicmp(strText.c_str() + strText.size() - nTail, pszTail) == 0;
}

}  // namespace

std::wstring SetupNameFromUrl(LPCWSTR pszUrl)
{
    if (!pszUrl)
        return std::wstring();
    // The query and fragment go first: a "/" inside them belongs to no path.
    std::wstring strPath = pszUrl;
    const size_t nEnd = strPath.find_first_of(L"?#");
    if (nEnd != std::wstring::npos)
        strPath.erase(nEnd);
    const size_t nSlash = strPath.rfind(L'/');
    return nSlash == std::wstring::npos ? strPath : strPath.substr(nSlash + 1);
}

bool IsAcceptableSetupName(const std::wstring& strDir, const std::wstring& strName)
{
    if (strName.empty() || strName == L"." || strName == L"..")
        return false;
    // The server must not name our own files: the state file, or the partial
    // download and its note beside the target. And only a program is ever
    // started from this folder.
    if (_wcsicmp(strName.c_str(), kStateFileName) == 0 || EndsWithNoCase(strName, L".part") ||
        EndsWithNoCase(strName, L".part.meta") || !EndsWithNoCase(strName, L".exe"))
        return false;
    for (wchar_t ch : strName) {
        if (ch < 32 || std::wcschr(L"\\/:*?\"<>|", ch))
            return false;
    }
    // Windows drops trailing dots and blanks, so the file would get another name.
    if (strName.back() == L'.' || strName.back() == L' ')
        return false;
    if (IsReservedDeviceName(strName))
        return false;
    return strDir.size() + strName.size() <= MAX_PATH - 1;
}

bool SetupDigestMatches(LPCWSTR pszLocalMd5, LPCWSTR pszExpectedMd5)
{
    return pszLocalMd5 && pszExpectedMd5 && pszLocalMd5[0] && std::wcscmp(pszLocalMd5, pszExpectedMd5) == 0;
}

bool IsOwnFolderPath(const std::wstring& strDir)
{
    // "C:\..." or "\\server\share\..."; anything else would be taken
    // relative to the current drive or folder, which the program does not own.
    if (strDir.size() < 3 || strDir.back() != L'\\')
        return false;
    const bool bDrive = std::iswalpha(strDir[0]) && strDir[1] == L':' && strDir[2] == L'\\';
    const bool bUnc = strDir[0] == L'\\' && strDir[1] == L'\\';
    return bDrive || bUnc;
}

bool SweepSetupFiles(const std::wstring& strDir, bool* pbSearched)
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
    std::wstring strResolvedDir = ResolvedPath(strDir);
    while (!strResolvedDir.empty() && strResolvedDir.back() == L'\\')
        strResolvedDir.pop_back();
    do {
        if (std::wcscmp(fd.cFileName, L".") == 0 || std::wcscmp(fd.cFileName, L"..") == 0)
            continue;
        // A sub-folder (or a link to one) is not a setup program; deleting
        // through it could reach outside the upgrade folder.
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        if (!std::wcsstr(fd.cFileName, L".exe"))
            continue;
        if (LeadsOutside(strResolvedDir, strDir + fd.cFileName, fd.dwFileAttributes))
            continue;
        // A read-only leftover would fail every later sweep, run after run.
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
            ::SetFileAttributesW((strDir + fd.cFileName).c_str(), fd.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
        if (!::DeleteFileW((strDir + fd.cFileName).c_str())) {
            LOG_INFO(L"CUpgradeDlgDUI::DeleteFileExpireEx", L"Clear Expire File( %s ) Failure!", fd.cFileName);
            return false;
        }
        LOG_INFO(L"CUpgradeDlgDUI::DeleteFileExpireEx", L"Clear Expire File( %s ) Success!", fd.cFileName);
    } while (::FindNextFileW(hFind.Get(), &fd));
    return true;
}
