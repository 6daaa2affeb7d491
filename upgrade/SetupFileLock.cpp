#include "upgrade/SetupFileLock.h"

#include "netlib/NubraSdk.h"

namespace {

bool SameStamp(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b)
{
    return a.nFileSizeHigh == b.nFileSizeHigh && a.nFileSizeLow == b.nFileSizeLow &&
           ::CompareFileTime(&a.ftLastWriteTime, &b.ftLastWriteTime) == 0;
}

// The download's own handle may still be closing when its end is reported.
const int kOpenAttempts = 40;
const DWORD kOpenRetryMs = 50;
}  // namespace

std::wstring CSetupFileLock::HoldAndDigest(const std::wstring& strPath)
{
    Release();
    if (strPath.empty())
        return std::wstring();
    HANDLE hOpened = INVALID_HANDLE_VALUE;
    for (int nAttempt = 0; nAttempt < kOpenAttempts; ++nAttempt) {
        hOpened = ::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ /* no writing, no deleting */, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (hOpened != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_SHARING_VIOLATION)
            break;
        ::Sleep(kOpenRetryMs);
    }
    m_file.Reset(hOpened);
    BY_HANDLE_FILE_INFORMATION info = {};
    wchar_t szMd5[MAX_PATH] = {};
    if (!m_file.IsValid() || !::GetFileInformationByHandle(m_file.Get(), &info) ||
        !Md5CalHandle(m_file.Get(), szMd5, MAX_PATH) || !szMd5[0]) {
        Release();
        return std::wstring();
    }
    m_strPath = strPath;
    m_info = info;
    return szMd5;
}

bool CSetupFileLock::IsUnchanged() const
{
    BY_HANDLE_FILE_INFORMATION now = {};
    return IsHeld() && ::GetFileInformationByHandle(m_file.Get(), &now) && SameStamp(now, m_info);
}

void CSetupFileLock::Release()
{
    m_file.Reset();
    m_strPath.clear();
}
