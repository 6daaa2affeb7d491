// DazuvuVevLogDecode [-o FILE] [LOGFILE]
// Prints the upgrade companion's log as text, or with -o writes the decoded
// bytes (ANSI text, zero byte after each record) to FILE.
#include "tools/logdecode/LogDecode.h"

#include <string>

namespace {

const WCHAR kUsage[] =
    L"Usage: DazuvuVevLogDecode [-o FILE] [LOGFILE]\r\n"
    L"  Decodes the upgrade log and prints it.\r\n"
    L"  LOGFILE  the log to read (default: Documents\\DazuvuVev\\log\\Upgrade\\Upgrade.log)\r\n"
    L"  -o FILE  write the decoded bytes to FILE instead of printing them\r\n";

void WriteWide(DWORD dwStd, const std::wstring& strText)
{
    HANDLE hOut = GetStdHandle(dwStd);
    if (hOut == NULL || hOut == INVALID_HANDLE_VALUE)
        return;
    DWORD dwMode = 0;
    DWORD dwWritten = 0;
    if (GetConsoleMode(hOut, &dwMode)) {
        // In pieces: very long console writes fail on some systems.
        const size_t kChunk = 8192;
        for (size_t nPos = 0; nPos < strText.size();) {
            size_t nCount = strText.size() - nPos < kChunk ? strText.size() - nPos : kChunk;
            if (nPos + nCount < strText.size() && IS_HIGH_SURROGATE(strText[nPos + nCount - 1]))
                --nCount;
            WriteConsoleW(hOut, strText.data() + nPos, static_cast<DWORD>(nCount), &dwWritten, NULL);
            nPos += nCount;
        }
        return;
    }
    const int nSize = WideCharToMultiByte(CP_ACP, 0, strText.data(), static_cast<int>(strText.size()), NULL, 0, NULL, NULL);
    if (nSize <= 0)
        return;
    std::string strAnsi(static_cast<size_t>(nSize), '\0');
    WideCharToMultiByte(CP_ACP, 0, strText.data(), static_cast<int>(strText.size()), &strAnsi[0], nSize, NULL, NULL);
    WriteFile(hOut, strAnsi.data(), static_cast<DWORD>(strAnsi.size()), &dwWritten, NULL);
}

// The log is ANSI text of the machine that wrote it: a console shows it after
// conversion to UTF-16; a pipe or a file gets the bytes unchanged.
void PrintLogText(const std::string& strText)
{
    HANDLE hOut = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD dwMode = 0;
    DWORD dwWritten = 0;
    if (hOut != NULL && hOut != INVALID_HANDLE_VALUE && !GetConsoleMode(hOut, &dwMode)) {
        for (size_t nPos = 0; nPos < strText.size();) {
            const DWORD dwWant = static_cast<DWORD>(strText.size() - nPos < (1u << 20) ? strText.size() - nPos : (1u << 20));
            if (!WriteFile(hOut, strText.data() + nPos, dwWant, &dwWritten, NULL) || dwWritten == 0)
                return;
            nPos += dwWritten;
        }
        return;
    }
    if (strText.empty())
        return;
    const int nChars = MultiByteToWideChar(CP_ACP, 0, strText.data(), static_cast<int>(strText.size()), NULL, 0);
    if (nChars <= 0)
        return;
    std::wstring strWide(static_cast<size_t>(nChars), L'\0');
    MultiByteToWideChar(CP_ACP, 0, strText.data(), static_cast<int>(strText.size()), &strWide[0], nChars);
    WriteWide(STD_OUTPUT_HANDLE, strWide);
}

int Fail(const std::wstring& strMessage)
{
    WriteWide(STD_ERROR_HANDLE, L"DazuvuVevLogDecode: " + strMessage + L"\r\n");
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring strInput;
    std::wstring strOutput;
    for (int i = 1; i < argc; ++i) {
        const std::wstring strArg = argv[i];
        if (strArg == L"-h" || strArg == L"--help" || strArg == L"/?") {
            WriteWide(STD_OUTPUT_HANDLE, kUsage);
            return 0;
        }
        if (strArg == L"-o") {
            if (i + 1 >= argc || !strOutput.empty())
                return Fail(L"-o needs one output file name\r\n" + std::wstring(kUsage));
            strOutput = argv[++i];
        } else if (strArg.size() > 1 && strArg[0] == L'-') {
            return Fail(L"unknown option " + strArg + L"\r\n" + kUsage);
        } else if (strInput.empty()) {
            strInput = strArg;
        } else {
            return Fail(L"only one log file may be given\r\n" + std::wstring(kUsage));
        }
    }

    if (strInput.empty()) {
        strInput = DefaultLogDecodeInput();
        if (strInput.empty())
            return Fail(L"the documents folder is unknown; name the log file");
    }

    std::string strRaw;
    std::wstring strError;
    if (!ReadWholeFile(strInput, strRaw, strError))
        return Fail(strError);
    const std::string strDecoded = DecodeLogBytes(strRaw);

    if (strOutput.empty()) {
        PrintLogText(ReadableLogText(strDecoded));
        return 0;
    }
    // Writing over the log would destroy the only copy of it.
    if (IsSameFile(strInput, strOutput))
        return Fail(L"the output file is the log itself: " + strOutput);
    if (!WriteWholeFile(strOutput, strDecoded, strError))
        return Fail(strError);
    return 0;
}
