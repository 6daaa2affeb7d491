// The crash record: minidump and last log record of an unhandled fault (see
// CrashRecord.h).
#include "app/CrashRecord.h"

#include "log/Log.h"
#include "win/Handles.h"
#include "win/OwnFile.h"

#include <dbghelp.h>

#include <algorithm>
#include <atomic>
#include <cwchar>

namespace {

const wchar_t kDumpPrefix[] = L"Upgrade-";
const wchar_t kDumpSuffix[] = L".dmp";
const wchar_t kDumpPattern[] = L"\\Upgrade-*.dmp";
const wchar_t kFunction[] = L"CrashRecord";
// Stacks filtered to the pointers a stack trace needs, the module list, the
// thread list and the fault: nothing of the heap or the data sections.
const MINIDUMP_TYPE kDumpType =
    static_cast<MINIDUMP_TYPE>(MiniDumpNormal | MiniDumpFilterMemory | MiniDumpWithoutOptionalData);
// How long the faulting thread waits for the log's place while another
// thread writes a record; a second thread that faults meanwhile waits for
// the first to end the process, but not for ever.
const int kPlaceTries = 20;
const DWORD kPlaceTryGapMs = 10;
const DWORD kSecondFaultWaitMs = 30000;

using PFN_MINIDUMP_WRITE_DUMP = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
                                              PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);

std::atomic<DWORD> g_dwFaultingThread(0);

bool IsDigits(const std::wstring& str, size_t nPos, size_t nCount)
{
    if (nCount == 0 || nPos + nCount > str.size())
        return false;
    return std::all_of(str.begin() + nPos, str.begin() + nPos + nCount,
                       [](wchar_t ch) { return ch >= L'0' && ch <= L'9'; });
}

// "NAME+0xOFFSET" of the module that holds the address, for the record:
// with the release's symbols of that module, the offset gives the function
// and line.
std::wstring ModuleOffsetText(const void* pAddress)
{
    HMODULE hModule = nullptr;
    wchar_t szPath[MAX_PATH] = {};
    wchar_t szText[MAX_PATH + 32] = {};
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCWSTR>(pAddress), &hModule) ||
        !::GetModuleFileNameW(hModule, szPath, MAX_PATH)) {
        _snwprintf(szText, ARRAYSIZE(szText) - 1, L"0x%p (no module)", pAddress);
        return szText;
    }
    const wchar_t* pszName = std::wcsrchr(szPath, L'\\');
    _snwprintf(szText, ARRAYSIZE(szText) - 1, L"%s+0x%lx", pszName ? pszName + 1 : szPath,
               static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(pAddress) - reinterpret_cast<UINT_PTR>(hModule)));
    return szText;
}

// The log's file and its own folder, waiting a moment for a thread that is
// writing a record; false when there is no confined log to write beside.
bool LogPlace(std::wstring& strFolder, std::wstring& strOwnFolder)
{
    std::wstring strFile;
    for (int i = 0; i < kPlaceTries; ++i) {
        if (CLog::GetInstance()->PlaceIfFree(strFile, strOwnFolder)) {
            const size_t nSlash = strFile.find_last_of(L"\\/");
            if (nSlash == std::wstring::npos || strOwnFolder.empty())
                return false;
            strFolder = strFile.substr(0, nSlash);
            return true;
        }
        ::Sleep(kPlaceTryGapMs);
    }
    return false;
}

// Makes room for one more dump: the oldest of the companion's own go.
void PruneOldDumps(const std::wstring& strFolder, const std::wstring& strOwnFolder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found = {};
    CFindHandle find(::FindFirstFileW((strFolder + kDumpPattern).c_str(), &found));
    for (BOOL bMore = find.IsValid(); bMore; bMore = ::FindNextFileW(find.Get(), &found)) {
        if (IsCrashDumpName(found.cFileName))
            names.push_back(found.cFileName);
    }
    std::sort(names.begin(), names.end());
    for (size_t i = 0; i + kKeptCrashDumps <= names.size(); ++i)
        DeleteOwnFile(strFolder + L"\\" + names[i], strOwnFolder + L"\\" + names[i]);
}

// The dump's name when it was written; empty, with *ppszWhyNot, otherwise.
std::wstring WriteDump(EXCEPTION_POINTERS* pInfo, LPCWSTR* ppszWhyNot)
{
    std::wstring strFolder, strOwnFolder;
    if (!LogPlace(strFolder, strOwnFolder)) {
        *ppszWhyNot = L"the log has no folder of its own";
        return std::wstring();
    }
    wchar_t szSystem[MAX_PATH] = {};
    const UINT nSystem = ::GetSystemDirectoryW(szSystem, MAX_PATH);
    const HMODULE hDbgHelp =
        nSystem && nSystem < MAX_PATH ? ::LoadLibraryW((std::wstring(szSystem) + L"\\dbghelp.dll").c_str()) : nullptr;
    const auto pfnWriteDump = hDbgHelp ? reinterpret_cast<PFN_MINIDUMP_WRITE_DUMP>(
                                             reinterpret_cast<void*>(::GetProcAddress(hDbgHelp, "MiniDumpWriteDump")))
                                       : nullptr;
    if (!pfnWriteDump) {
        *ppszWhyNot = L"dbghelp.dll offers no MiniDumpWriteDump";
        return std::wstring();
    }
    PruneOldDumps(strFolder, strOwnFolder);
    SYSTEMTIME st = {};
    ::GetLocalTime(&st);
    const std::wstring strName = CrashDumpName(st, ::GetCurrentProcessId());
    LPCWSTR pszForeign = nullptr;
    CKernelHandle file = OpenOwnFile(strFolder + L"\\" + strName, GENERIC_READ | GENERIC_WRITE, 0 /* no sharing */,
                                     strOwnFolder + L"\\" + strName, &pszForeign);
    if (!file.IsValid()) {
        *ppszWhyNot = pszForeign ? pszForeign : L"the file could not be made";
        return std::wstring();
    }
    ::SetEndOfFile(file.Get());  // a file of the same name may be there already
    MINIDUMP_EXCEPTION_INFORMATION fault = {::GetCurrentThreadId(), pInfo, FALSE /* pointers of this process */};
    if (!pfnWriteDump(::GetCurrentProcess(), ::GetCurrentProcessId(), file.Get(), kDumpType, &fault, nullptr,
                      nullptr)) {
        *ppszWhyNot = L"MiniDumpWriteDump failed";
        return std::wstring();
    }
    return strName;
}

LONG WINAPI CrashFilter(EXCEPTION_POINTERS* pInfo)
{
    const DWORD dwCode = pInfo && pInfo->ExceptionRecord ? pInfo->ExceptionRecord->ExceptionCode : 0;
    DWORD dwFirst = 0;
    if (!g_dwFaultingThread.compare_exchange_strong(dwFirst, ::GetCurrentThreadId())) {
        // A fault inside the record ends at once; another thread's waits
        // for the first record to end the process.
        if (dwFirst != ::GetCurrentThreadId())
            ::Sleep(kSecondFaultWaitMs);
        ::TerminateProcess(::GetCurrentProcess(), dwCode);
        return EXCEPTION_EXECUTE_HANDLER;
    }
    LPCWSTR pszWhyNot = L"";
    const std::wstring strDump = WriteDump(pInfo, &pszWhyNot);
    wchar_t szRecord[512] = {};
    const std::wstring strWhere =
        ModuleOffsetText(pInfo && pInfo->ExceptionRecord ? pInfo->ExceptionRecord->ExceptionAddress : nullptr);
    if (!strDump.empty())
        _snwprintf(szRecord, ARRAYSIZE(szRecord) - 1,
                   L"error: unhandled fault 0x%08lX at %s in thread %lu: minidump %s written beside the log; the "
                   L"companion ends",
                   dwCode, strWhere.c_str(), ::GetCurrentThreadId(), strDump.c_str());
    else
        _snwprintf(szRecord, ARRAYSIZE(szRecord) - 1,
                   L"error: unhandled fault 0x%08lX at %s in thread %lu: no minidump, %s; the companion ends", dwCode,
                   strWhere.c_str(), ::GetCurrentThreadId(), pszWhyNot);
    CLog::GetInstance()->LogIfFree(LOGLEVEL_INFO, LogSourceName(__FILE__), __LINE__, kFunction, szRecord);
    ::TerminateProcess(::GetCurrentProcess(), dwCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void InstallCrashRecord()
{
    ::SetUnhandledExceptionFilter(&CrashFilter);
}

std::wstring CrashDumpName(const SYSTEMTIME& st, DWORD dwProcessId)
{
    wchar_t szName[64] = {};
    _snwprintf(szName, ARRAYSIZE(szName) - 1, L"%s%04u%02u%02u-%02u%02u%02u-%lu%s", kDumpPrefix, st.wYear, st.wMonth,
               st.wDay, st.wHour, st.wMinute, st.wSecond, dwProcessId, kDumpSuffix);
    return szName;
}

bool IsCrashDumpName(const std::wstring& strName)
{
    const size_t nPrefix = ARRAYSIZE(kDumpPrefix) - 1;
    const size_t nSuffix = ARRAYSIZE(kDumpSuffix) - 1;
    const size_t nPid = nPrefix + 16;  // after "YYYYMMDD-HHMMSS-"
    if (strName.size() <= nPid + nSuffix || strName.size() > nPid + 10 + nSuffix)
        return false;
    return strName.compare(0, nPrefix, kDumpPrefix) == 0 && IsDigits(strName, nPrefix, 8) &&
           strName[nPrefix + 8] == L'-' && IsDigits(strName, nPrefix + 9, 6) && strName[nPrefix + 15] == L'-' &&
           IsDigits(strName, nPid, strName.size() - nPid - nSuffix) &&
           strName.compare(strName.size() - nSuffix, nSuffix, kDumpSuffix) == 0;
}
