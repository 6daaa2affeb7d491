#include "upgrade/StateFile.h"

#include "win/FinalPath.h"
#include "win/Handles.h"
#include "win/OwnFile.h"

#include <shlobj.h>

#include <atomic>
#include <cstring>
#include <cwchar>
#include <string>

const wchar_t kUpgradeFolderName[] = L"DazuvuvevUpgrade";
const wchar_t kStateFileName[] = L"Upgrade.ini";
const wchar_t kUpgradeSection[] = L"UPGRADE";
const wchar_t kKeyVersion[] = L"version";
const wchar_t kKeyPath[] = L"path";
const wchar_t kKeyOverFlags[] = L"overflags";
const wchar_t kKeyClearFlags[] = L"clearflags";
const wchar_t kKeyVersionNoTips[] = L"version_no_tips";
const wchar_t kKeyResult[] = L"result";
const wchar_t kKeyResultTime[] = L"resulttime";
const wchar_t kKeyResultPid[] = L"resultpid";

const wchar_t kOverFlagsDone[] = L"over";
const wchar_t kFlagTrue[] = L"true";
const wchar_t kFlagFalse[] = L"false";

std::wstring UpgradeFolderUnder(const std::wstring& strAppData)
{
    return strAppData + L"\\" + kUpgradeFolderName + L"\\";
}

std::wstring UpgradeFolderPath()
{
    wchar_t szAppData[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, szAppData, CSIDL_APPDATA, TRUE /* create */) || !szAppData[0])
        return std::wstring();
    const std::wstring strDir = UpgradeFolderUnder(szAppData);
    if (strDir.size() + (sizeof(kStateFileName) / sizeof(kStateFileName[0]) - 1) >= MAX_PATH)
        return std::wstring();
    return strDir;
}

namespace {

std::atomic<PFN_STATE_FILE_REFUSED> g_pfnStateFileRefused(nullptr);

// The profile functions follow every link, so the file is made sure of
// before they get its path.
bool ClaimStateFile(LPCWSTR pszIniPath, DWORD dwAccess, DWORD dwShare)
{
    const std::wstring strExpected = ExpectedFinalPath(pszIniPath);
    if (strExpected.empty())
        return false;
    LPCWSTR pszForeign = nullptr;
    if (OpenOwnFile(pszIniPath, dwAccess, dwShare, strExpected, &pszForeign).IsValid())
        return true;
    if (!pszForeign)
        return false;
    const bool bReplaced = ReplaceWithEmptyFile(pszIniPath);
    if (const PFN_STATE_FILE_REFUSED pfnRefused = g_pfnStateFileRefused)
        pfnRefused(pszIniPath, pszForeign);
    return bReplaced && OpenOwnFile(pszIniPath, dwAccess, dwShare, strExpected, &pszForeign).IsValid();
}

// Whether the file is there but another program's open keeps this access out.
bool IsHeldAgainst(LPCWSTR pszIniPath, DWORD dwAccess)
{
    const HANDLE hFile = ::CreateFileW(pszIniPath, dwAccess, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    const DWORD dwError = ::GetLastError();
    const CKernelHandle file(hFile);
    return !file.IsValid() && IsFileInUseError(dwError);
}

// Tries until the attempt succeeds, again a few times while another
// program's open keeps dwAccess out (a scanner or the client holds the file
// for a moment at most); *pbInUse tells whether that is why it failed.
template <typename Attempt>
bool RetriedWhileInUse(LPCWSTR pszIniPath, DWORD dwAccess, Attempt attempt, bool* pbInUse = nullptr)
{
    const int kAttempts = 3;
    const DWORD kPauseMs = 100;
    for (int nAttempt = 1;; ++nAttempt) {
        if (attempt())
            return true;
        const bool bInUse = IsHeldAgainst(pszIniPath, dwAccess);
        if (!bInUse || nAttempt == kAttempts) {
            if (pbInUse)
                *pbInUse = bInUse;
            return false;
        }
        ::Sleep(kPauseMs);
    }
}

}  // namespace

void SetStateFileRefusalSink(PFN_STATE_FILE_REFUSED pfnRefused)
{
    g_pfnStateFileRefused = pfnRefused;
}

bool PrepareStateFile(LPCWSTR pszIniPath, bool* pbInUse)
{
    if (pbInUse)
        *pbInUse = false;
    if (!pszIniPath || !pszIniPath[0])
        return false;
    // Sharing everything: proving it can be written must not keep the client
    // from reading it.
    const DWORD dwShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    bool bInUse = false;
    const bool bClaimed = RetriedWhileInUse(
        pszIniPath, GENERIC_WRITE, [&] { return ClaimStateFile(pszIniPath, GENERIC_WRITE, dwShare); }, &bInUse);
    if (pbInUse)
        *pbInUse = bInUse;
    return bClaimed || bInUse;
}

bool IsStateFileInUse(LPCWSTR pszIniPath)
{
    return pszIniPath && pszIniPath[0] && IsHeldAgainst(pszIniPath, GENERIC_READ);
}

bool FitsAnsiCodePage(LPCWSTR pszText)
{
    if (!pszText || !pszText[0])
        return true;
    const int cbAnsi = ::WideCharToMultiByte(CP_ACP, 0, pszText, -1, nullptr, 0, nullptr, nullptr);
    if (cbAnsi <= 0)
        return false;
    std::string strAnsi(cbAnsi, '\0');
    ::WideCharToMultiByte(CP_ACP, 0, pszText, -1, &strAnsi[0], cbAnsi, nullptr, nullptr);
    const int cchBack = ::MultiByteToWideChar(CP_ACP, 0, strAnsi.c_str(), -1, nullptr, 0);
    if (cchBack <= 0)
        return false;
    std::wstring strBack(cchBack, L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, strAnsi.c_str(), -1, &strBack[0], cchBack);
    return std::wcscmp(strBack.c_str(), pszText) == 0;
}

namespace {

const BYTE kUtf16Mark[] = {0xFF, 0xFE};
const BYTE kUtf8Mark[] = {0xEF, 0xBB, 0xBF};

bool ReadWholeFile(LPCWSTR pszPath, std::string& strBytes)
{
    const CKernelHandle hFile(
        ::CreateFileW(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    // A state file is a few hundred bytes; anything huge is not ours to rewrite.
    if (!hFile.IsValid() || !::GetFileSizeEx(hFile.Get(), &size) || size.QuadPart > (1 << 20))
        return false;
    strBytes.assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD dwRead = 0;
    return strBytes.empty() ||
           (::ReadFile(hFile.Get(), &strBytes[0], static_cast<DWORD>(strBytes.size()), &dwRead, nullptr) &&
            dwRead == strBytes.size());
}

bool StartsWith(const std::string& strBytes, const BYTE* pMark, size_t cbMark)
{
    return strBytes.size() >= cbMark && std::memcmp(strBytes.data(), pMark, cbMark) == 0;
}

}  // namespace

bool ConvertStateFileToUtf16(LPCWSTR pszIniPath)
{
    std::string strBytes;
    if (!pszIniPath || !pszIniPath[0] || !ReadWholeFile(pszIniPath, strBytes))
        return false;
    if (StartsWith(strBytes, kUtf16Mark, sizeof(kUtf16Mark)))
        return true;
    UINT uCodePage = CP_ACP;
    size_t nSkip = 0;
    if (StartsWith(strBytes, kUtf8Mark, sizeof(kUtf8Mark))) {
        uCodePage = CP_UTF8;
        nSkip = sizeof(kUtf8Mark);
    }
    std::wstring strText;
    const int cchText = strBytes.size() > nSkip
                            ? ::MultiByteToWideChar(uCodePage, 0, strBytes.data() + nSkip,
                                                    static_cast<int>(strBytes.size() - nSkip), nullptr, 0)
                            : 0;
    if (cchText > 0) {
        strText.assign(cchText, L'\0');
        ::MultiByteToWideChar(uCodePage, 0, strBytes.data() + nSkip, static_cast<int>(strBytes.size() - nSkip),
                              &strText[0], cchText);
    } else if (strBytes.size() > nSkip) {
        return false;
    }

    // Written beside it and then moved over it, so that a failure half-way
    // leaves the old file whole. A link planted under that name would take
    // the bytes elsewhere: the file must be our own.
    const std::wstring strNew = std::wstring(pszIniPath) + L".new";
    {
        const std::wstring strExpected = ExpectedFinalPath(strNew);
        LPCWSTR pszForeign = nullptr;
        const CKernelHandle hNew =
            strExpected.empty() ? CKernelHandle() : OpenOwnFile(strNew, GENERIC_WRITE, 0, strExpected, &pszForeign);
        if (!hNew.IsValid() || !::SetEndOfFile(hNew.Get()))
            return false;
        DWORD dwWritten = 0;
        const DWORD cbText = static_cast<DWORD>(strText.size() * sizeof(wchar_t));
        const bool bWritten = ::WriteFile(hNew.Get(), kUtf16Mark, sizeof(kUtf16Mark), &dwWritten, nullptr) &&
                              dwWritten == sizeof(kUtf16Mark) &&
                              (cbText == 0 || (::WriteFile(hNew.Get(), strText.data(), cbText, &dwWritten, nullptr) &&
                                               dwWritten == cbText)) &&
                              ::FlushFileBuffers(hNew.Get());
        // A half-written file stays; the next conversion starts it afresh.
        if (!bWritten)
            return false;
    }
    return ::MoveFileExW(strNew.c_str(), pszIniPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

std::wstring ReadUpgradeValue(LPCWSTR pszIniPath, LPCWSTR pszKey)
{
    wchar_t szValue[MAX_PATH] = {};
    if (!pszIniPath || !pszIniPath[0])
        return szValue;
    ::GetPrivateProfileStringW(kUpgradeSection, pszKey, L"", szValue, MAX_PATH, pszIniPath);
    return szValue;
}

namespace {

bool TryWriteUpgradeValue(LPCWSTR pszIniPath, LPCWSTR pszKey, LPCWSTR pszValue)
{
    // Anyone may have put a link at its place since the last write; the
    // write goes to a file of our own or nowhere. Sharing everything: the
    // client may be reading it.
    if (!ClaimStateFile(pszIniPath, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        return false;
    // A file that cannot be converted keeps the older form; the value then
    // loses what the code page lacks, as it always did.
    if (!FitsAnsiCodePage(pszValue))
        ConvertStateFileToUtf16(pszIniPath);
    // PrepareStateFile proved the file writable; a later failure shows as the
    // value missing at the next read. (A link put in place between the check
    // and this write is the one gap left: the profile functions take a path.)
    return ::WritePrivateProfileStringW(kUpgradeSection, pszKey, pszValue, pszIniPath) != FALSE;
}

}  // namespace

bool WriteUpgradeValue(LPCWSTR pszIniPath, LPCWSTR pszKey, LPCWSTR pszValue)
{
    if (!pszIniPath || !pszIniPath[0])
        return false;
    return RetriedWhileInUse(pszIniPath, GENERIC_WRITE,
                             [&] { return TryWriteUpgradeValue(pszIniPath, pszKey, pszValue); });
}

void WriteUpgradeResult(LPCWSTR pszIniPath, UpgradeResult result)
{
    SYSTEMTIME st = {};
    ::GetLocalTime(&st);
    WriteUpgradeValue(pszIniPath, kKeyResult, UpgradeResultWord(result));
    WriteUpgradeValue(pszIniPath, kKeyResultTime, ResultTimeText(st).c_str());
    // Last: a reader that finds its companion's id here finds its result too.
    WriteUpgradeValue(pszIniPath, kKeyResultPid, std::to_wstring(::GetCurrentProcessId()).c_str());
}
