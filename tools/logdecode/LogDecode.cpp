#include "tools/logdecode/LogDecode.h"

#include "log/Log.h"
#include "log/LogPlace.h"
#include "win/Handles.h"

namespace {

// A 32-bit process cannot hold much more; the log itself rotates at 10 MiB.
const LONGLONG kMaxInputBytes = 256LL << 20;

std::wstring SystemMessage(DWORD dwError)
{
    LPWSTR pszText = NULL;
    const DWORD dwLength =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       NULL, dwError, 0, reinterpret_cast<LPWSTR>(&pszText), 0, NULL);
    const CLocalMemory text(pszText);
    std::wstring strText;
    if (dwLength != 0 && pszText != NULL) {
        strText.assign(pszText, dwLength);
        while (!strText.empty() && (strText.back() == L'\r' || strText.back() == L'\n' || strText.back() == L' '))
            strText.pop_back();
    }
    if (strText.empty())
        strText = L"error " + std::to_wstring(dwError);
    return strText;
}

}  // namespace

std::wstring DefaultLogDecodeInput()
{
    return LogFilePathUnder(DocumentsAppDirPath());
}

std::string DecodeLogBytes(const std::string& strRaw)
{
    std::string strDecoded = strRaw;
    if (!strDecoded.empty())
        SwapLogNibbles(&strDecoded[0], strDecoded.size());
    return strDecoded;
}

std::string ReadableLogText(const std::string& strDecoded)
{
    std::string strText;
    strText.reserve(strDecoded.size());
    for (char c : strDecoded) {
        if (c != '\0')
            strText += c;
    }
    return strText;
}

bool ReadWholeFile(const std::wstring& strPath, std::string& strData, std::wstring& strError)
{
    // The upgrade companion may be appending or rotating right now.
    CKernelHandle file(CreateFileW(strPath.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, NULL));
    if (!file.IsValid()) {
        strError = L"cannot open " + strPath + L": " + SystemMessage(GetLastError());
        return false;
    }
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.Get(), &size)) {
        strError = L"cannot measure " + strPath + L": " + SystemMessage(GetLastError());
        return false;
    }
    if (size.QuadPart > kMaxInputBytes) {
        strError = strPath + L" is larger than 256 MiB; this is not a log file";
        return false;
    }

    strData.assign(static_cast<size_t>(size.QuadPart), '\0');
    size_t nDone = 0;
    while (nDone < strData.size()) {
        DWORD dwRead = 0;
        const DWORD dwWant = static_cast<DWORD>(strData.size() - nDone);
        if (!ReadFile(file.Get(), &strData[nDone], dwWant, &dwRead, NULL)) {
            strError = L"cannot read " + strPath + L": " + SystemMessage(GetLastError());
            return false;
        }
        if (dwRead == 0)
            break;
        nDone += dwRead;
    }
    strData.resize(nDone);
    return true;
}

bool WriteWholeFile(const std::wstring& strPath, const std::string& strData, std::wstring& strError)
{
    CKernelHandle file(
        CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL));
    if (!file.IsValid()) {
        strError = L"cannot create " + strPath + L": " + SystemMessage(GetLastError());
        return false;
    }
    size_t nDone = 0;
    while (nDone < strData.size()) {
        DWORD dwWritten = 0;
        const DWORD dwWant = static_cast<DWORD>(strData.size() - nDone);
        if (!WriteFile(file.Get(), strData.data() + nDone, dwWant, &dwWritten, NULL) || dwWritten == 0) {
            strError = L"cannot write " + strPath + L": " + SystemMessage(GetLastError());
            return false;
        }
        nDone += dwWritten;
    }
    return true;
}

bool IsSameFile(const std::wstring& strFirst, const std::wstring& strSecond)
{
    const DWORD dwShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    CKernelHandle first(CreateFileW(strFirst.c_str(), 0, dwShare, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL));
    CKernelHandle second(CreateFileW(strSecond.c_str(), 0, dwShare, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL));
    if (!first.IsValid() || !second.IsValid())
        return false;
    BY_HANDLE_FILE_INFORMATION infoFirst = {}, infoSecond = {};
    if (!GetFileInformationByHandle(first.Get(), &infoFirst) || !GetFileInformationByHandle(second.Get(), &infoSecond))
        return false;
    return infoFirst.dwVolumeSerialNumber == infoSecond.dwVolumeSerialNumber &&
           infoFirst.nFileIndexHigh == infoSecond.nFileIndexHigh && infoFirst.nFileIndexLow == infoSecond.nFileIndexLow;
}
