#include "log/LogPlace.h"

#include <shlobj.h>

namespace {

const WCHAR kAppFolder[] = L"\\DazuvuVev";
const WCHAR kLogFolder[] = L"\\log\\Upgrade";
const WCHAR kLogFileName[] = L"\\Upgrade.log";

}  // namespace

std::wstring DocumentsAppDirPath()
{
    WCHAR szPath[MAX_PATH] = {0};
    if (!SHGetSpecialFolderPathW(NULL, szPath, CSIDL_PERSONAL, FALSE /* do not create */) || szPath[0] == L'\0')
        return std::wstring();
    return std::wstring(szPath) + kAppFolder;
}

std::wstring LogFolderUnder(const std::wstring& strAppDir)
{
    return strAppDir + kLogFolder;
}

std::wstring LogFilePathUnder(const std::wstring& strAppDir)
{
    if (strAppDir.empty())
        return std::wstring();
    return LogFolderUnder(strAppDir) + kLogFileName;
}
