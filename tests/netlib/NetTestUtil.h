// Helpers for the network library's tests: the environment the driver sets,
// files, the server's control endpoints, and a window that collects records.
#pragma once

#include <windows.h>

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

std::wstring Md5(const std::wstring& strPath);

}  // namespace nettest
