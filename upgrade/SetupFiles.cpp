#include "upgrade/SetupFiles.h"

#include "log/Log.h"

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

}  // namespace

std::wstring SetupNameFromUrl(LPCWSTR pszUrl)
{
    if (!pszUrl)
        return std::wstring();
    LPCWSTR pszSlash = std::wcsrchr(pszUrl, L'/');
    std::wstring strName = pszSlash ? pszSlash + 1 : pszUrl;
    const size_t nEnd = strName.find_first_of(L"?#");
    if (nEnd != std::wstring::npos)
        strName.erase(nEnd);
    return strName;
}

bool IsAcceptableSetupName(const std::wstring& strDir, const std::wstring& strName)
{
    if (strName.empty() || strName == L"." || strName == L"..")
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

bool SweepSetupFiles(const std::wstring& strDir, bool* pbSearched)
{
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
        if (!::DeleteFileW((strDir + fd.cFileName).c_str())) {
            LOG_INFO(L"CUpgradeDlgDUI::DeleteFileExpireEx", L"Clear Expire File( %s ) Failure!", fd.cFileName);
            return false;
        }
        LOG_INFO(L"CUpgradeDlgDUI::DeleteFileExpireEx", L"Clear Expire File( %s ) Success!", fd.cFileName);
    } while (::FindNextFileW(hFind.Get(), &fd));
    return true;
}
