// Stands in for the client's setup program in scenario tests: it records how
// it was started and exits 0 at once, showing nothing.
//
// One UTF-8 line per run is appended to the file named by the environment
// variable FAKESETUP_RECORD, else to "fakesetup-runs.txt" beside the
// executable:  pid=<id>\tpath=<own full path>\tcmdline=<whole command line>
#include <windows.h>

#include <string>

#include "win/Handles.h"

namespace {

std::wstring OwnPath()
{
    std::wstring strPath(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, &strPath[0], static_cast<DWORD>(strPath.size()));
        if (n == 0)
            return std::wstring();
        if (n < strPath.size()) {
            strPath.resize(n);
            return strPath;
        }
        strPath.resize(strPath.size() * 2);
    }
}

std::wstring RecordPath(const std::wstring& strOwnPath)
{
    wchar_t szValue[32768];
    const DWORD n = GetEnvironmentVariableW(L"FAKESETUP_RECORD", szValue, ARRAYSIZE(szValue));
    if (n > 0 && n < ARRAYSIZE(szValue))
        return szValue;
    const size_t nSlash = strOwnPath.find_last_of(L"\\/");
    return (nSlash == std::wstring::npos ? std::wstring() : strOwnPath.substr(0, nSlash + 1)) + L"fakesetup-runs.txt";
}

std::string Utf8(const std::wstring& strText)
{
    if (strText.empty())
        return std::string();
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()), nullptr, 0, nullptr, nullptr);
    std::string strOut(n > 0 ? n : 0, '\0');
    if (n > 0) {
        WideCharToMultiByte(CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()), &strOut[0], n, nullptr,
                            nullptr);
    }
    return strOut;
}

// Appends the whole line in one write. Several instances may start at nearly
// the same moment, so a file held by another one is retried for a while.
bool AppendLine(const std::wstring& strPath, const std::string& strLine)
{
    for (int nTry = 0; nTry < 100; ++nTry) {
        CKernelHandle file(CreateFileW(strPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            DWORD cbWritten = 0;
            const BOOL bOk =
                WriteFile(file.Get(), strLine.data(), static_cast<DWORD>(strLine.size()), &cbWritten, nullptr);
            return bOk && cbWritten == strLine.size();
        }
        if (GetLastError() != ERROR_SHARING_VIOLATION)
            return false;
        Sleep(20);
    }
    return false;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    const std::wstring strOwnPath = OwnPath();
    const std::wstring strLine = L"pid=" + std::to_wstring(GetCurrentProcessId()) + L"\tpath=" + strOwnPath +
                                 L"\tcmdline=" + GetCommandLineW() + L"\n";
    // A run that cannot be recorded must not look like a recorded one.
    return AppendLine(RecordPath(strOwnPath), Utf8(strLine)) ? 0 : 3;
}
