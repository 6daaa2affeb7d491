// Start-up of the log: where the file lives, the threshold from the client's
// configuration, and the source names the call sites write.
#include "log/Log.h"

#include "win/FinalPath.h"
#include "win/Utf8.h"

#include <shlwapi.h>

#include <algorithm>
#include <map>
#include <mutex>

namespace {

const WCHAR kConfigFileName[] = L"\\config.ini";
const WCHAR kLogLevelKey[] = L"LogLevel";
const int kLogSizeLimitMB = 10;

}  // namespace

bool InitLog()
{
    const std::wstring strAppDir = GetDocumentsAppDir();
    const std::wstring strOwnFolder = strAppDir.empty() ? std::wstring() : PrepareLogFolder(strAppDir);
    const std::wstring strFile = LogFilePathUnder(strAppDir);

    int nLevel = 0;
    std::wstring strLevel;
    if (GetConfigValue(kLogLevelKey, kClientConfigSection, strLevel))
        nLevel = _wtoi(strLevel.c_str());

    CLog* pLog = CLog::GetInstance();
    if (pLog->Init(strFile.c_str(), nLevel, kLogSizeLimitMB) != 0)
        return false;
    if (!strAppDir.empty()) {
        if (strOwnFolder.empty())
            pLog->Refuse((LogFolderUnder(strAppDir) + L" leads outside the documents folder").c_str());
        else
            pLog->ConfineTo(strOwnFolder);
    }
    return true;
}

std::wstring PrepareLogFolder(const std::wstring& strAppDir)
{
    const size_t nSlash = strAppDir.find_last_of(L'\\');
    if (nSlash == std::wstring::npos)
        return std::wstring();
    std::wstring strLevel = strAppDir.substr(0, nSlash);  // the documents folder
    std::wstring strExpected = FinalPathOf(strLevel);
    if (strExpected.empty())
        return std::wstring();
    const std::wstring strBelow = LogFolderUnder(strAppDir).substr(nSlash);  // "\DazuvuVev\log\Upgrade"
    for (size_t nStart = 0; nStart < strBelow.size();) {
        const size_t nEnd = std::min(strBelow.find(L'\\', nStart + 1), strBelow.size());
        strLevel += strBelow.substr(nStart, nEnd - nStart);
        strExpected += strBelow.substr(nStart, nEnd - nStart);
        if (!CreateDirectoryW(strLevel.c_str(), NULL) && GetLastError() != ERROR_ALREADY_EXISTS)
            return std::wstring();
        if (_wcsicmp(FinalPathOf(strLevel).c_str(), strExpected.c_str()) != 0)
            return std::wstring();
        nStart = nEnd;
    }
    return strExpected;
}

std::wstring GetDocumentsAppDir()
{
    const std::wstring strPath = DocumentsAppDirPath();
    if (strPath.empty() || strPath.size() >= MAX_PATH)
        return std::wstring();
    if (!CreateDirectoryW(strPath.c_str(), NULL) && GetLastError() != ERROR_ALREADY_EXISTS)
        return std::wstring();
    return strPath;
}

bool CreateMultiLevelDir(const std::wstring& strPath)
{
    std::wstring strDir = strPath;
    if (strDir.empty() || strDir.back() != L'\\')
        strDir += L'\\';
    if (strDir.find(L":\\") == std::wstring::npos)
        return false;

    for (size_t nPos = strDir.find(L'\\', 3); nPos != std::wstring::npos; nPos = strDir.find(L'\\', nPos + 1)) {
        const std::wstring strPart = strDir.substr(0, nPos);
        if (!CreateDirectoryW(strPart.c_str(), NULL) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return true;
}

bool GetModuleDir(std::wstring& strDir)
{
    // Room for more than MAX_PATH: the log's fallback file lives there too.
    WCHAR szPath[512] = {0};
    const DWORD dwLength = GetModuleFileNameW(NULL, szPath, ARRAYSIZE(szPath));
    // A truncated path would point at some other folder's config.ini.
    if (dwLength == 0 || dwLength >= ARRAYSIZE(szPath))
        return false;
    LPWSTR pszSlash = StrRChrIW(szPath, NULL, L'\\');
    if (pszSlash == NULL)
        return false;
    *pszSlash = L'\0';
    strDir = szPath;
    return true;
}

bool GetConfigValue(LPCWSTR pszKey, LPCWSTR pszSection, std::wstring& strValue)
{
    std::wstring strDir;
    if (!GetModuleDir(strDir))
        return false;
    const std::wstring strConfig = strDir + kConfigFileName;

    WCHAR szValue[1024] = {0};
    const DWORD dwRead =
        GetPrivateProfileStringW(pszSection, pszKey, L"", szValue, ARRAYSIZE(szValue), strConfig.c_str());
    if (dwRead == 0)
        return false;
    strValue = szValue;
    return true;
}

LPCWSTR LogSourceName(const char* pszFile)
{
    // Call sites pass __FILE__, one pointer per source file, so each name is
    // built once. Never destroyed: records may be written during exit.
    static std::mutex* s_pLock = new std::mutex();
    static std::map<const char*, std::wstring>* s_pNames = new std::map<const char*, std::wstring>();

    std::lock_guard<std::mutex> guard(*s_pLock);
    auto it = s_pNames->find(pszFile);
    if (it != s_pNames->end())
        return it->second.c_str();

    std::string strBase;
    if (pszFile != NULL) {
        strBase = pszFile;
        const size_t nSlash = strBase.find_last_of("\\/");
        if (nSlash != std::string::npos)
            strBase.erase(0, nSlash + 1);
        const size_t nDot = strBase.rfind('.');
        if (nDot != std::string::npos)
            strBase.erase(nDot);
    }

    std::wstring strName = L".\\";
    strName += Utf8ToWide(strBase);
    return s_pNames->emplace(pszFile, strName).first->second.c_str();
}

LPCWSTR LogSeverityPrefix(int nSeverity)
{
    if (nSeverity >= LOGLEVEL_ERROR)
        return L"error: ";
    if (nSeverity == LOGLEVEL_WARN)
        return L"warning: ";
    return L"";
}
