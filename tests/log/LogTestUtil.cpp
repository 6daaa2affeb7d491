#include "tests/log/LogTestUtil.h"

#include "tools/logdecode/LogDecode.h"
#include "win/Handles.h"

#include <gtest/gtest.h>

CTempDir::CTempDir()
{
    WCHAR szTemp[MAX_PATH] = {0};
    GetTempPathW(MAX_PATH, szTemp);
    // Process ids are reused between runs; the clock keeps names apart.
    static LONG s_nCounter = 0;
    m_strPath = std::wstring(szTemp) + L"logtest_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                std::to_wstring(GetTickCount64()) + L"_" + std::to_wstring(InterlockedIncrement(&s_nCounter));
    CreateDirectoryW(m_strPath.c_str(), NULL);
}

namespace {

bool RemoveTree(const std::wstring& strDir)
{
    WIN32_FIND_DATAW data;
    CFindHandle find(FindFirstFileW((strDir + L"\\*").c_str(), &data));
    if (find) {
        do {
            const std::wstring strName = data.cFileName;
            if (strName == L"." || strName == L"..")
                continue;
            const std::wstring strPath = strDir + L"\\" + strName;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(strPath);
            else
                DeleteFileW(strPath.c_str());
        } while (FindNextFileW(find.Get(), &data));
        find.Reset();
    }
    return RemoveDirectoryW(strDir.c_str()) != FALSE;
}

}  // namespace

CTempDir::~CTempDir()
{
    // A child process's inherited handles may close a moment after it ended.
    for (int i = 0; i < 50 && !RemoveTree(m_strPath); ++i)
        Sleep(20);
}

bool FileExists(const std::wstring& strPath)
{
    return GetFileAttributesW(strPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadBytes(const std::wstring& strPath)
{
    std::string strData;
    std::wstring strError;
    if (!ReadWholeFile(strPath, strData, strError))
        ADD_FAILURE() << Narrow(strError);
    return strData;
}

void WriteBytes(const std::wstring& strPath, const std::string& strData)
{
    std::wstring strError;
    if (!WriteWholeFile(strPath, strData, strError))
        ADD_FAILURE() << Narrow(strError);
}

void MakeFileOfSize(const std::wstring& strPath, LONGLONG llSize, char cMark)
{
    CKernelHandle file(
        CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL));
    ASSERT_NE(file.Get(), INVALID_HANDLE_VALUE);
    DWORD dwWritten = 0;
    WriteFile(file.Get(), &cMark, 1, &dwWritten, NULL);
    LARGE_INTEGER pos;
    pos.QuadPart = llSize;
    SetFilePointerEx(file.Get(), pos, NULL, FILE_BEGIN);
    SetEndOfFile(file.Get());
}

std::wstring ModuleDir()
{
    WCHAR szPath[MAX_PATH] = {0};
    GetModuleFileNameW(NULL, szPath, MAX_PATH);
    std::wstring strPath = szPath;
    return strPath.substr(0, strPath.find_last_of(L'\\'));
}

std::string Narrow(const std::wstring& strText)
{
    std::string strOut;
    for (wchar_t c : strText)
        strOut += c < 0x80 ? static_cast<char>(c) : '?';
    return strOut;
}

bool IsTimestamp(const std::string& strText)
{
    const std::string strShape = "dddd-dd-dd dd:dd:dd.ddd";
    if (strText.size() != strShape.size())
        return false;
    for (size_t i = 0; i < strShape.size(); ++i) {
        const bool bDigit = strText[i] >= '0' && strText[i] <= '9';
        if (strShape[i] == 'd' ? !bDigit : strText[i] != strShape[i])
            return false;
    }
    return true;
}

std::vector<LogRecord> ParseRecords(const std::string& strDecoded)
{
    std::vector<LogRecord> records;
    size_t nPos = 0;
    while (nPos < strDecoded.size()) {
        const size_t nEnd = strDecoded.find(std::string("\0\r\n", 3), nPos);
        if (nEnd == std::string::npos) {
            ADD_FAILURE() << "record at byte " << nPos << " has no zero byte and CR LF after it";
            break;
        }
        const std::string strRecord = strDecoded.substr(nPos, nEnd - nPos);
        const size_t nHeaderEnd = strRecord.find("\r\n");
        const std::string strHeader = strRecord.substr(0, nHeaderEnd);

        LogRecord record;
        std::vector<std::string> fields;
        for (size_t nStart = 0;;) {
            const size_t nTab = strHeader.find('\t', nStart);
            fields.push_back(strHeader.substr(nStart, nTab == std::string::npos ? std::string::npos : nTab - nStart));
            if (nTab == std::string::npos)
                break;
            nStart = nTab + 1;
        }
        const bool bShape = nHeaderEnd != std::string::npos && fields.size() == 4 && fields[0].size() > 24 &&
                            fields[1].compare(0, 7, "Thread[") == 0 && fields[1].back() == ']' &&
                            fields[3].size() > 4 && fields[3].compare(fields[3].size() - 2, 2, " :") == 0 &&
                            strRecord.size() >= nHeaderEnd + 6 &&
                            strRecord.compare(strRecord.size() - 4, 4, "\r\n\r\n") == 0;
        if (!bShape) {
            ADD_FAILURE() << "malformed record at byte " << nPos << ": " << strRecord.substr(0, 200);
            break;
        }
        record.strTimestamp = fields[0].substr(0, 23);
        record.strLevel = fields[0].substr(24);
        EXPECT_TRUE(IsTimestamp(record.strTimestamp) && fields[0][23] == ' ') << fields[0];
        record.strThread = fields[1].substr(7, fields[1].size() - 8);
        record.strSource = fields[2];
        const std::string strTail = fields[3].substr(0, fields[3].size() - 2);  // "function: line"
        const size_t nColon = strTail.rfind(": ");
        if (nColon == std::string::npos) {
            ADD_FAILURE() << "no line number in " << fields[3];
            break;
        }
        record.strFunction = strTail.substr(0, nColon);
        record.strLine = strTail.substr(nColon + 2);
        record.strMessage = strRecord.substr(nHeaderEnd + 2, strRecord.size() - 4 - (nHeaderEnd + 2));
        records.push_back(record);
        nPos = nEnd + 3;
    }
    return records;
}

std::vector<LogRecord> ReadRecords(const std::wstring& strPath)
{
    return ParseRecords(DecodeLogBytes(ReadBytes(strPath)));
}
