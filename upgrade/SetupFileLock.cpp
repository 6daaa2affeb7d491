#include "upgrade/SetupFileLock.h"

#include "netlib/NubraSdk.h"
#include "win/ModuleExport.h"

namespace {

bool SameIdentity(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow && a.nFileSizeHigh == b.nFileSizeHigh &&
           a.nFileSizeLow == b.nFileSizeLow && ::CompareFileTime(&a.ftLastWriteTime, &b.ftLastWriteTime) == 0;
}

// The download's own handle may still be closing when its end is reported.
const int kOpenAttempts = 40;
const DWORD kOpenRetryMs = 50;

}  // namespace

SETUP_DIGESTER LibraryDigester()
{
    SETUP_DIGESTER digester = {};
    digester.pfnByHandle = ModuleExport<PFN_NUBRA_MD5_CAL_HANDLE>(NUBRA_LIBRARY_NAME, NUBRA_MD5_CAL_HANDLE_NAME);
    digester.pfnByPath = &Md5CalFile;
    return digester;
}

bool CSetupFileLock::Hold(const std::wstring& strPath)
{
    HANDLE hOpened = INVALID_HANDLE_VALUE;
    for (int nAttempt = 0; nAttempt < kOpenAttempts; ++nAttempt) {
        hOpened = ::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ /* no writing, no deleting */, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (hOpened != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_SHARING_VIOLATION)
            break;
        ::Sleep(kOpenRetryMs);
    }
    m_file.Reset(hOpened);
    if (!m_file.IsValid() || !::GetFileInformationByHandle(m_file.Get(), &m_info) ||
        (m_info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        Release();
        return false;
    }
    m_strPath = strPath;
    return true;
}

std::wstring CSetupFileLock::DigestByPath(const std::wstring& strPath) const
{
    wchar_t szMd5[NUBRA_TEXT_CCH] = {};
    if (m_digester.pfnByPath)
        m_digester.pfnByPath(strPath.c_str(), szMd5);  // only the text left in the buffer counts
    szMd5[NUBRA_TEXT_CCH - 1] = L'\0';
    return szMd5;
}

std::wstring CSetupFileLock::DigestHeld(const std::wstring& strPath)
{
    if (m_digester.pfnByHandle) {
        wchar_t szMd5[NUBRA_TEXT_CCH] = {};
        if (!m_digester.pfnByHandle(m_file.Get(), szMd5, NUBRA_TEXT_CCH))
            return std::wstring();
        szMd5[NUBRA_TEXT_CCH - 1] = L'\0';
        return szMd5;
    }
    std::wstring strMd5 = DigestByPath(strPath);
    if (!strMd5.empty())
        return IsUnchanged() ? strMd5 : std::wstring();

    // The library could not read the held file (it asks for more than read
    // sharing): digest first, then hold again and make sure it is the same file.
    const BY_HANDLE_FILE_INFORMATION before = m_info;
    Release();
    strMd5 = DigestByPath(strPath);
    if (strMd5.empty() || !Hold(strPath) || !SameIdentity(before, m_info))
        return std::wstring();
    return strMd5;
}

std::wstring CSetupFileLock::HoldAndDigest(const std::wstring& strPath)
{
    Release();
    if (strPath.empty() || !Hold(strPath))
        return std::wstring();
    std::wstring strMd5 = DigestHeld(strPath);
    if (strMd5.empty())
        Release();
    return strMd5;
}

bool CSetupFileLock::IsUnchanged() const
{
    BY_HANDLE_FILE_INFORMATION now = {};
    return IsHeld() && ::GetFileInformationByHandle(m_file.Get(), &now) && SameIdentity(now, m_info);
}

void CSetupFileLock::Release()
{
    m_file.Reset();
    m_strPath.clear();
}
