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
    do {
        if (std::wcscmp(fd.cFileName, L".") == 0 || std::wcscmp(fd.cFileName, L"..") == 0)
            continue;
        // A sub-folder (or a link to one) is not a setup program; deleting
        // through it could reach outside the upgrade folder.
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        if (!std::wcsstr(fd.cFileName, L".exe"))
            continue;
        // A link is removed as the link itself, never its target.
        if (!::DeleteFileW((strDir + fd.cFileName).c_str())) {
            LOG_INFO(L"CUpgradeDlgDUI::DeleteFileExpireEx", L"Clear Expire File( %s ) Failure!", fd.cFileName);
            return false;
        }
        LOG_INFO(L"CUpgradeDlgDUI::DeleteFileExpireEx", L"Clear Expire File( %s ) Success!", fd.cFileName);
    } while (::FindNextFileW(hFind.Get(), &fd));
    return true;
}
