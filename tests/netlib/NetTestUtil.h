// Helpers for the network library's tests: the environment the driver sets,
// files, the server's control endpoints, and a window that collects records.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "netlib/DownloadRecord.h"

namespace nettest {

std::wstring Env(const wchar_t* pszName);
int TestPort();
std::wstring ServerUrl(const std::wstring& strPath);  // "http://127.0.0.1:PORT" + path
std::wstring RootPath(const std::wstring& strName);   // a file in the served folder
std::wstring WorkPath(const std::wstring& strName);   // a file in the scratch folder

std::string ReadAll(const std::wstring& strPath);
bool WriteAll(const std::wstring& strPath, const std::string& data);
bool Exists(const std::wstring& strPath);
LONGLONG SizeOf(const std::wstring& strPath);
void RemoveDownload(const std::wstring& strTarget);  // target, .part and .part.meta
std::string Pattern(size_t cb, unsigned seed);

// GET on the control endpoints of a server on 127.0.0.1; body of the answer.
std::string Control(int nPort, const std::wstring& strPathAndQuery);
// The server's request log, one JSON object per line, for requests of strFile.
std::vector<std::string> LogFor(int nPort, const std::string& strFile);
// The same once it holds at least nCount requests, or after dwTimeoutMs: the
// server logs a request when its answer ends.
std::vector<std::string> WaitLogFor(int nPort, const std::string& strFile, size_t nCount, DWORD dwTimeoutMs = 10000);
// Value of "key":... in one JSON log line, as text without quotes.
std::string JsonField(const std::string& line, const std::string& key);

struct CRecord {
    DOWNLOAD_PROGRESS rec;
    ULONGLONG ullTick;
};

// Runs one download to its final record (or the time-out) and returns every
// record the window received, in order.
std::vector<CRecord> Download(const std::wstring& strUrl, const std::wstring& strTarget, LONGLONG llExpected = 0,
                              DWORD dwTimeoutMs = 30000);
int FinalState(const std::vector<CRecord>& records);
// The most bytes any of the records reported received.
uint32_t MostReceived(const std::vector<CRecord>& records);

std::wstring Md5(const std::wstring& strPath);

// An environment variable of this process set for one scope (nullptr:
// removed), and put back afterwards. The library reads its limits at each
// transfer, from this process's environment.
class CScopedEnv {
public:
    CScopedEnv(const wchar_t* pszName, const wchar_t* pszValue);
    ~CScopedEnv();
    CScopedEnv(const CScopedEnv&) = delete;
    CScopedEnv& operator=(const CScopedEnv&) = delete;

private:
    std::wstring m_strName, m_strOld;
    bool m_bHad;
};

// The library's log sink, handed over through the DLL's export by name as
// the program does, for one scope; collects "severity function: text".
class CLibraryLog {
public:
    CLibraryLog();
    ~CLibraryLog();
    bool Installed() const { return m_bInstalled; }
    std::vector<std::wstring> Lines() const;
    // The lines that contain this text.
    std::vector<std::wstring> With(const std::wstring& strText) const;
    void Clear();

private:
    bool m_bInstalled = false;
};

}  // namespace nettest
