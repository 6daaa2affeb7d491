#include "upgrade/SetupNaming.h"

#include "upgrade/StateFile.h"

#include <cwchar>
#include <cwctype>

namespace {

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

const wchar_t kPartSuffix[] = L".part";
const wchar_t kPartNoteSuffix[] = L".part.meta";

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
    if (_wcsicmp(strName.c_str(), kStateFileName) == 0 || EndsWithNoCase(strName, kPartSuffix) ||
        EndsWithNoCase(strName, kPartNoteSuffix) || !EndsWithNoCase(strName, L".exe"))
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
    return strDir.size() + strName.size() + std::wcslen(kPartNoteSuffix) <= MAX_PATH - 1;
}

std::vector<std::wstring> OwnSetupFiles(const std::wstring& strSetupPath)
{
    return {strSetupPath, strSetupPath + kPartSuffix, strSetupPath + kPartNoteSuffix};
}

bool IsFilePresent(const std::wstring& strPath)
{
    const DWORD dwAttributes = ::GetFileAttributesW(strPath.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsAnyOwnSetupFileLeft(const std::wstring& strSetupPath)
{
    for (const std::wstring& strFile : OwnSetupFiles(strSetupPath)) {
        if (IsFilePresent(strFile))
            return true;
    }
    return false;
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
