// Helpers shared by the log's tests: temporary folders, whole-file reads and
// a record parser that is independent of the code under test.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;
    const std::wstring& Path() const { return m_strPath; }
    std::wstring File(const std::wstring& strName) const { return m_strPath + L"\\" + strName; }

private:
    std::wstring m_strPath;
};

bool FileExists(const std::wstring& strPath);
std::string ReadBytes(const std::wstring& strPath);
void WriteBytes(const std::wstring& strPath, const std::string& strData);
// Makes the file exactly llSize bytes long, its first byte being cMark.
void MakeFileOfSize(const std::wstring& strPath, LONGLONG llSize, char cMark);
std::wstring ModuleDir();
std::string Narrow(const std::wstring& strText);  // ASCII only

struct LogRecord {
    std::string strTimestamp;
    std::string strLevel;
    std::string strThread;
    std::string strSource;
    std::string strFunction;
    std::string strLine;
    std::string strMessage;
};

// Splits decoded log bytes into records; adds a failure and stops at the
// first byte that does not fit the record layout.
std::vector<LogRecord> ParseRecords(const std::string& strDecoded);
// The file, decoded and parsed.
std::vector<LogRecord> ReadRecords(const std::wstring& strPath);
bool IsTimestamp(const std::string& strText);
