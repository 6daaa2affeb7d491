#include "log/Log.h"
#include "log/LogEscape.h"
#include "win/Handles.h"
#include "win/OwnFile.h"

#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include <new>
#include <stdexcept>
#include <vector>

namespace {

const LPCWSTR kLevelNames[] = {L"[TRACE]", L"[DEBUG]", L"[INFO]", L"[WARN]", L"[ERROR]", L"[FATAL]", L"[UNKNWN]"};
const int kUnknownLevel = LOGLEVEL_UNKNOWN;

const WCHAR kRecordFormat[] = L"%s %s\tThread[%d]\t%s\t%s: %d :\r\n%s\r\n\r\n";

// Written when a record itself cannot be built; support tools look for it by
// these exact values.
const WCHAR kFallbackFormat[] = L"%s %s\t%d %s:%d \t%s:\t%s";
const WCHAR kFallbackLevel[] = L"[ERROR]";
const WCHAR kFallbackSource[] = L".\\Log";
const int kFallbackLine = 280;
const WCHAR kFallbackFunction[] = L"CLog::Log";
const WCHAR kFallbackMessage[] = L"Exception error,the params invalid";

const WCHAR kDefaultLogName[] = L"QVXSDK.log";

// A scanner or a sync client that opens the log without sharing holds it
// for moments; the records are written from the window's thread, so a
// record waits for it a few times, about 200 ms in all, then waits in
// memory for the next record that gets through.
const DWORD kInUsePausesMs[] = {25, 50, 50, 75};
// Kept records beyond this are counted, not kept.
const size_t kMaxWaitingBytes = 256 * 1024;
const WCHAR kWaitedNote[] =
    L"warning: the log file was in use by another program: the %d records below waited for it%s";
const WCHAR kLostNote[] = L", %d more records were lost";

class CCriticalSectionLock {
public:
    explicit CCriticalSectionLock(CRITICAL_SECTION& cs) : m_cs(cs) { EnterCriticalSection(&m_cs); }
    ~CCriticalSectionLock() { LeaveCriticalSection(&m_cs); }
    CCriticalSectionLock(const CCriticalSectionLock&) = delete;
    CCriticalSectionLock& operator=(const CCriticalSectionLock&) = delete;

private:
    CRITICAL_SECTION& m_cs;
};

// Seconds and milliseconds come from one clock reading: two readings put a
// record taken at a second boundary almost a second in the past.
void FormatTimestamp(WCHAR* pszTime, size_t cchTime)
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    _snwprintf(pszTime, cchTime, L"%04u-%02u-%02u %02u:%02u:%02u.%03u", st.wYear, st.wMonth, st.wDay, st.wHour,
               st.wMinute, st.wSecond, st.wMilliseconds);
    pszTime[cchTime - 1] = L'\0';
}

LPCWSTR LevelName(int nLevel)
{
    // A level outside the table would read past it.
    if (nLevel < 0 || nLevel > kUnknownLevel)
        nLevel = kUnknownLevel;
    return kLevelNames[nLevel];
}

// The call site's message, whole whatever its length. Throws when the format
// cannot be applied, so that the caller writes the fallback record instead.
std::wstring FormatMessageText(LPCWSTR pszFormat, va_list args)
{
    va_list measure;
    va_copy(measure, args);
    const int nLength = _vscwprintf(pszFormat, measure);
    va_end(measure);
    if (nLength < 0 || nLength == INT_MAX)
        throw std::invalid_argument("message format");

    std::wstring strText(static_cast<size_t>(nLength) + 1, L'\0');
    _vsnwprintf(&strText[0], strText.size(), pszFormat, args);
    strText.resize(static_cast<size_t>(nLength));
    return strText;
}

std::wstring FormatText(LPCWSTR pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    std::wstring strText;
    try {
        strText = FormatMessageText(pszFormat, args);
    } catch (...) {
        strText.clear();
    }
    va_end(args);
    return strText;
}

// The text in the ANSI code page with its terminating zero, which is written
// too: readers of the file expect it after every record. Empty when the text
// cannot be converted.
std::string AnsiRecord(const std::wstring& strText)
{
    const int nSize = WideCharToMultiByte(CP_ACP, 0, strText.c_str(), -1, NULL, 0, NULL, NULL);
    if (nSize <= 0)
        return std::string();
    std::string strAnsi(static_cast<size_t>(nSize), '\0');
    if (WideCharToMultiByte(CP_ACP, 0, strText.c_str(), -1, &strAnsi[0], nSize, NULL, NULL) <= 0)
        return std::string();
    return strAnsi;
}

// The log file opened for a record, waiting briefly while another program
// holds it unless bTryOnce; *pbInUse when it was still held.
CKernelHandle OpenLogForRecord(const std::wstring& strPath, const std::wstring& strExpected, bool bTryOnce,
                               LPCWSTR* ppszForeign, bool* pbInUse)
{
    *pbInUse = false;
    for (size_t nTry = 0;; ++nTry) {
        CKernelHandle file =
            OpenOwnFile(strPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, strExpected, ppszForeign);
        if (file.IsValid() || *ppszForeign)
            return file;
        *pbInUse = IsFileInUseError(GetLastError());
        if (!*pbInUse || bTryOnce || nTry == ARRAYSIZE(kInUsePausesMs))
            return CKernelHandle();
        Sleep(kInUsePausesMs[nTry]);
    }
}

// Appends whole records, stored swapped, each followed by CR LF.
void AppendRecords(HANDLE hFile, std::string strRecords)
{
    LARGE_INTEGER zero = {};
    SetFilePointerEx(hFile, zero, NULL, FILE_END);
    SwapLogNibbles(&strRecords[0], strRecords.size());
    DWORD dwWritten = 0;
    WriteFile(hFile, strRecords.data(), static_cast<DWORD>(strRecords.size()), &dwWritten, NULL);
}

std::wstring DefaultLogPath()
{
    std::wstring strDir;
    if (!GetModuleDir(strDir))
        return std::wstring();
    return strDir + L"\\" + kDefaultLogName;
}

}  // namespace

CLog::CLog()
    : m_nLevel(LOGLEVEL_INFO),
      m_nMaxSizeMB(5),
      // Numbered backups: the dated names contain ":", which no Windows file
      // name may, so that scheme would let the log grow without bound.
      m_bRollByIndex(TRUE),
      m_nMaxIndex(5)
{
    InitializeCriticalSection(&m_csLock);
}

CLog* CLog::GetInstance()
{
    // Never destroyed: threads may still log while the process ends.
    static CLog* s_pLog = new CLog();
    return s_pLog;
}

int CLog::Init(LPCWSTR pszPath, int nLevel, int nMaxSizeMB)
{
    if (pszPath == NULL)
        return -1;

    CCriticalSectionLock lock(m_csLock);
    m_nMaxIndex = 5;
    if (nLevel >= 0)
        m_nLevel = nLevel;
    m_nMaxSizeMB = nMaxSizeMB;
    m_strLogFile = pszPath;
    // A new place: whatever was confined or refused held for the old one.
    m_strOwnFolder.clear();
    m_bRefused = false;
    m_strWaiting.clear();
    m_nWaiting = m_nLost = 0;
    m_bHeld = false;
    if (m_nLevel < 0 || m_nLevel > LOGLEVEL_FATAL)
        m_nLevel = LOGLEVEL_UNKNOWN;
    if (m_strLogFile.empty())
        m_strLogFile = DefaultLogPath();
    return 0;
}

std::wstring CLog::GetLogFilePath()
{
    CCriticalSectionLock lock(m_csLock);
    if (m_strLogFile.empty())
        m_strLogFile = DefaultLogPath();
    return m_strLogFile;
}

void CLog::ConfineTo(const std::wstring& strOwnFolder)
{
    CCriticalSectionLock lock(m_csLock);
    m_strOwnFolder = strOwnFolder;
}

void CLog::Refuse(LPCWSTR pszWhy)
{
    CCriticalSectionLock lock(m_csLock);
    if (!m_bRefused) {
        // The log itself cannot say it; a debugger can.
        OutputDebugStringW((std::wstring(L"Upgrade log refused for this run: ") + (pszWhy ? pszWhy : L"")).c_str());
    }
    m_bRefused = true;
}

bool CLog::TryLockAlone()
{
    if (!TryEnterCriticalSection(&m_csLock))
        return false;
    if (m_csLock.RecursionCount > 1) {
        LeaveCriticalSection(&m_csLock);
        return false;
    }
    return true;
}

bool CLog::LogIfFree(int nLevel, LPCWSTR pszFile, int nLine, LPCWSTR pszFunction, LPCWSTR pszText)
{
    if (!TryLockAlone())
        return false;
    // Log takes the lock again; this thread holds it already.
    const bool bWritten = !m_bRefused && nLevel >= m_nLevel;
    Log(nLevel, pszFile, nLine, pszFunction, L"%s", pszText);
    LeaveCriticalSection(&m_csLock);
    return bWritten;
}

bool CLog::PlaceIfFree(std::wstring& strFile, std::wstring& strOwnFolder)
{
    if (!TryLockAlone())
        return false;
    const bool bOpen = !m_bRefused && !m_strLogFile.empty();
    strFile = m_strLogFile;
    strOwnFolder = m_strOwnFolder;
    LeaveCriticalSection(&m_csLock);
    return bOpen;
}

void CLog::Log(int nLevel, LPCWSTR pszFile, int nLine, LPCWSTR pszFunction, LPCWSTR pszFormat, ...)
{
    WCHAR szTime[32];
    FormatTimestamp(szTime, ARRAYSIZE(szTime));
    if (nLevel < m_nLevel)
        return;

    va_list args;
    va_start(args, pszFormat);
    bool bFailed = false;
    try {
        if (pszFile == NULL || pszFunction == NULL || pszFormat == NULL)
            throw std::invalid_argument("null log parameter");
        // Values from outside reach the message through its arguments; a line
        // break among them would let a decoded log show records nobody wrote.
        const std::wstring strMessage = LogEscaped(FormatMessageText(pszFormat, args));
        WriteFormat(kRecordFormat, szTime, LevelName(nLevel), static_cast<int>(GetCurrentThreadId()), pszFile,
                    pszFunction, nLine, strMessage.c_str());
        RollFile();
    } catch (...) {
        bFailed = true;
    }
    va_end(args);

    if (bFailed) {
        WriteFormat(kFallbackFormat, szTime, kFallbackLevel, static_cast<int>(GetCurrentThreadId()), kFallbackSource,
                    kFallbackLine, kFallbackFunction, kFallbackMessage);
    }
}

void CLog::WriteFormat(LPCWSTR pszFormat, ...)
{
    try {
        va_list args;
        va_start(args, pszFormat);
        std::wstring strText;
        bool bFormatted = true;
        try {
            strText = FormatMessageText(pszFormat, args);
        } catch (...) {
            bFormatted = false;
        }
        va_end(args);
        if (!bFormatted)
            return;
        const std::string strRecord = AnsiRecord(strText);
        if (!strRecord.empty())
            WriteToFile(strRecord);
    } catch (const std::bad_alloc&) {
        // No memory for the record: it is dropped.
    }
}

void CLog::WriteToFile(const std::string& strRecord)
{
    CCriticalSectionLock lock(m_csLock);
    if (m_bRefused)
        return;
    const std::wstring strPath = GetLogFilePath();
    const size_t nSlash = strPath.find_last_of(L"\\/");
    const std::wstring strExpected = m_strOwnFolder.empty() || nSlash == std::wstring::npos
                                         ? std::wstring()
                                         : m_strOwnFolder + strPath.substr(nSlash);
    LPCWSTR pszForeign = NULL;
    bool bInUse = false;
    CKernelHandle file = OpenLogForRecord(strPath, strExpected, m_bHeld, &pszForeign, &bInUse);
    if (pszForeign) {
        Refuse((strPath + L" is " + pszForeign).c_str());
        return;
    }
    m_bHeld = bInUse;
    if (bInUse) {
        // Never dropped silently: kept for the next record that gets
        // through, or at least counted there.
        if (m_strWaiting.size() + strRecord.size() + 2 <= kMaxWaitingBytes) {
            m_strWaiting += strRecord + "\r\n";
            ++m_nWaiting;
        } else {
            ++m_nLost;
        }
        return;
    }
    if (!file.IsValid())
        return;

    std::string strRecords;
    if (m_nWaiting > 0 || m_nLost > 0) {
        WCHAR szTime[32];
        FormatTimestamp(szTime, ARRAYSIZE(szTime));
        const std::wstring strLost = m_nLost > 0 ? FormatText(kLostNote, m_nLost) : std::wstring();
        const std::wstring strNote = FormatText(kWaitedNote, m_nWaiting, strLost.c_str());
        const std::string strNoteRecord = AnsiRecord(FormatText(kRecordFormat, szTime, LevelName(LOGLEVEL_INFO),
                                                                static_cast<int>(GetCurrentThreadId()), L".\\Log",
                                                                L"CLog::WriteToFile", __LINE__, strNote.c_str()));
        if (!strNote.empty() && !strNoteRecord.empty())
            strRecords = strNoteRecord + "\r\n";
        strRecords += m_strWaiting;
        m_strWaiting.clear();
        m_nWaiting = m_nLost = 0;
    }
    strRecords += strRecord + "\r\n";
    AppendRecords(file.Get(), std::move(strRecords));
}

std::wstring CLog::BackupName(const std::wstring& strPath, int nIndex) const
{
    WCHAR szSuffix[16];
    _snwprintf(szSuffix, ARRAYSIZE(szSuffix), L".%d", nIndex);
    szSuffix[ARRAYSIZE(szSuffix) - 1] = L'\0';
    return strPath + szSuffix;
}

void CLog::RollFile()
{
    CCriticalSectionLock lock(m_csLock);
    if (m_bRefused)
        return;
    const std::wstring strPath = GetLogFilePath();

    LARGE_INTEGER size = {};
    {
        CKernelHandle file(CreateFileW(strPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL));
        if (!file.IsValid() || !GetFileSizeEx(file.Get(), &size))
            return;
    }
    // 64-bit, so that no configured limit overflows.
    const LONGLONG llLimit = static_cast<LONGLONG>(m_nMaxSizeMB) << 20;
    if (size.QuadPart <= llLimit || !m_bRollByIndex)
        return;

    // Moving or deleting a name that is a link would, on some systems, move
    // or delete what it leads to: only the log's own files are touched.
    const size_t nSlash = strPath.find_last_of(L"\\/");
    auto IsOwn = [&](const std::wstring& strName) {
        return m_strOwnFolder.empty() || nSlash == std::wstring::npos ||
               IsOwnFileAt(strName, m_strOwnFolder + strName.substr(nSlash));
    };
    if (!IsOwn(strPath))
        return;
    for (int i = 1; i < m_nMaxIndex; ++i) {
        const std::wstring strCandidate = BackupName(strPath, i);
        // Only a number that surely is free is used; an unreadable status
        // counts as taken.
        if (GetFileAttributesW(strCandidate.c_str()) == INVALID_FILE_ATTRIBUTES &&
            GetLastError() == ERROR_FILE_NOT_FOUND) {
            MoveFileW(strPath.c_str(), strCandidate.c_str());
            return;
        }
    }

    // All numbers taken: drop the oldest and shift the rest down by one.
    // Failures are left for the next record's check to retry.
    if (IsOwn(BackupName(strPath, 1)))
        DeleteFileW(BackupName(strPath, 1).c_str());
    for (int i = 2; i < m_nMaxIndex; ++i) {
        if (IsOwn(BackupName(strPath, i)))
            MoveFileW(BackupName(strPath, i).c_str(), BackupName(strPath, i - 1).c_str());
    }
    MoveFileW(strPath.c_str(), BackupName(strPath, m_nMaxIndex - 1).c_str());
}
