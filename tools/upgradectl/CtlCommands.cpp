#include "tools/upgradectl/CtlCommands.h"

#include "win/Handles.h"

#include "tools/logdecode/LogDecode.h"
#include "tools/upgradectl/CtlConsole.h"
#include "tools/upgradectl/FileDigest.h"
#include "tools/upgradectl/LogText.h"
#include "tools/upgradectl/UpgradeOrder.h"
#include "upgrade/SetupNaming.h"
#include "upgrade/StateFile.h"

#include <sddl.h>
#include <shlobj.h>
#include <shlwapi.h>

namespace {

// Other processes get no notice when a window appears or goes, so the tool
// looks again at this interval: short next to the companion's start-up.
const int kPollMs = 50;

// The companion's window: of the process dwProcessId, or the first one of
// the class when it is 0.
HWND FindUpgradeWindowNow(DWORD dwProcessId)
{
    return dwProcessId ? FindUpgradeWindowOfProcess(dwProcessId) : FindWindowW(UPGRADE_WINDOW_CLASS, nullptr);
}

// Polls for the companion's window until it appears or dwWaitMs have passed.
HWND FindUpgradeWindow(DWORD dwProcessId, DWORD dwWaitMs)
{
    const ULONGLONG ullDeadline = GetTickCount64() + dwWaitMs;
    for (;;) {
        HWND hWnd = FindUpgradeWindowNow(dwProcessId);
        if (hWnd || GetTickCount64() >= ullDeadline)
            return hWnd;
        Sleep(kPollMs);
    }
}

HWND RequireUpgradeWindow(const CtlRequest& req)
{
    HWND hWnd = FindUpgradeWindow(req.dwProcessId, req.dwWaitMs);
    if (!hWnd) {
        const std::wstring strOwner =
            req.dwProcessId ? L" of process " + std::to_wstring(req.dwProcessId) : std::wstring();
        CtlError(L"the upgrade companion's window (class \"%s\")%s was not found%s", UPGRADE_WINDOW_CLASS,
                 strOwner.c_str(), req.dwWaitMs ? L" in time" : L"; is DazuvuVevUpgrade.exe running?");
    }
    return hWnd;
}

// A companion that stopped taking messages fails the send at once instead
// of holding the caller for the whole time-out.
const UINT kSendFlags = SMTO_NORMAL | SMTO_ABORTIFHUNG;

// Reports a failed SendMessageTimeoutW; its error is read by the caller right
// after the call.
int ReportSendFailure(HWND hWnd, DWORD dwError, DWORD dwTimeoutMs)
{
    if (!IsWindow(hWnd)) {
        CtlError(L"the companion's window went away before it answered");
        return CTL_EXIT_NO_WINDOW;
    }
    if (dwError == ERROR_TIMEOUT || dwError == 0) {
        CtlError(L"the companion did not answer within %lu ms", dwTimeoutMs);
        return CTL_EXIT_NO_WINDOW;
    }
    CtlError(L"sending to the companion failed (error %lu)", dwError);
    return CTL_EXIT_FAILURE;
}

std::wstring AppDataFolder()
{
    wchar_t szPath[MAX_PATH] = {0};
    if (!SHGetSpecialFolderPathW(nullptr, szPath, CSIDL_APPDATA, FALSE))
        return std::wstring();
    return szPath;
}

HANDLE g_hClientStop = nullptr;

BOOL WINAPI OnConsoleCtrl(DWORD)
{
    SetEvent(g_hClientStop);
    return TRUE;
}

// Ends the client when a piped standard input reaches its end, so that a
// script can stop it by closing the pipe.
DWORD WINAPI WatchStdin(LPVOID)
{
    HANDLE hIn = GetStdHandle(STD_INPUT_HANDLE);
    char buffer[256];
    DWORD cbRead = 0;
    while (ReadFile(hIn, buffer, sizeof(buffer), &cbRead, nullptr) && cbRead != 0) {
        // What the script writes means nothing; only the pipe's end does.
    }
    SetEvent(g_hClientStop);
    return 0;
}

// A client of another integrity level, or one that locked its flag down,
// lets others of the session wait on its running flag and no more.
const wchar_t kSynchronizeOnlyDacl[] = L"D:(A;;0x00100000;;;WD)";

// What others of the session may open the flag for, in the client's own
// words; the same user's token decides here as in any other process.
std::wstring FlagAccessText()
{
    const CKernelHandle full(OpenMutexW(MUTEX_ALL_ACCESS, FALSE, UPGRADE_CLIENT_RUNNING_FLAG));
    const DWORD dwFullError = full ? 0 : GetLastError();
    const CKernelHandle wait(OpenMutexW(SYNCHRONIZE, FALSE, UPGRADE_CLIENT_RUNNING_FLAG));
    const DWORD dwWaitError = wait ? 0 : GetLastError();
    return L"full access " + (full ? std::wstring(L"granted") : L"error " + std::to_wstring(dwFullError)) +
           L", synchronize " + (wait ? std::wstring(L"granted") : L"error " + std::to_wstring(dwWaitError));
}

}  // namespace

int RunOrder(const CtlRequest& req)
{
    UpgradeOrderFields fields;
    fields.strURL = req.strURL;
    fields.strVersion = req.strVersion;
    fields.strUpgradeType = req.strUpgradeType;
    fields.strFileName = req.bHaveFileName ? req.strFileName : SetupNameFromUrl(req.strURL.c_str());
    fields.strSize = req.strSize;
    fields.strMD5 = req.strMD5;
    if (req.bHaveLocalFile && (!req.bHaveSize || !req.bHaveMD5)) {
        std::wstring strSize, strMD5, strError;
        if (!DigestSetupFile(req.strLocalFile, req.bSha256, strSize, strMD5, strError)) {
            CtlError(L"%s", strError.c_str());
            return CTL_EXIT_FAILURE;
        }
        if (!req.bHaveSize)
            fields.strSize = strSize;
        if (!req.bHaveMD5)
            fields.strMD5 = strMD5;
    }

    UPGRADE_COMM rec;
    std::wstring strError;
    if (!BuildUpgradeOrder(fields, req.bUnterminated, rec, strError)) {
        CtlError(L"%s", strError.c_str());
        return CTL_EXIT_USAGE;
    }
    std::vector<BYTE> payload = MakeOrderPayload(rec, req.cbData);

    HWND hWnd = RequireUpgradeWindow(req);
    if (!hWnd)
        return CTL_EXIT_NO_WINDOW;

    COPYDATASTRUCT cds;
    cds.dwData = MakeOrderDwData(req.nTag, req.nMode);
    cds.cbData = static_cast<DWORD>(payload.size());
    cds.lpData = payload.empty() ? nullptr : payload.data();
    DWORD_PTR dwResult = 0;
    SetLastError(0);
    if (!SendMessageTimeoutW(hWnd, WM_COPYDATA, 0 /* no sender window */, reinterpret_cast<LPARAM>(&cds), kSendFlags,
                             req.dwTimeoutMs, &dwResult)) {
        return ReportSendFailure(hWnd, GetLastError(), req.dwTimeoutMs);
    }
    CtlPrintf(L"order sent: url=%s version=%s size=%s md5=%s type=%s dwData=%lu cbData=%lu result=%lu\n",
              fields.strURL.c_str(), fields.strVersion.c_str(), fields.strSize.c_str(), fields.strMD5.c_str(),
              fields.strUpgradeType.c_str(), static_cast<unsigned long>(cds.dwData), cds.cbData,
              static_cast<unsigned long>(dwResult));
    return CTL_EXIT_OK;
}

int RunClientCommand(const CtlRequest& req)
{
    HWND hWnd = RequireUpgradeWindow(req);
    if (!hWnd)
        return CTL_EXIT_NO_WINDOW;
    if (req.bPost) {
        if (!PostMessageW(hWnd, WM_MSG_UPGRADE_CMD, req.nCode, req.nTag)) {
            const DWORD dwError = GetLastError();
            if (!IsWindow(hWnd)) {
                CtlError(L"the companion's window went away");
                return CTL_EXIT_NO_WINDOW;
            }
            CtlError(L"posting command %u failed (error %lu)", req.nCode, dwError);
            return CTL_EXIT_FAILURE;
        }
        CtlPrintf(L"command %u posted\n", req.nCode);
        return CTL_EXIT_OK;
    }
    DWORD_PTR dwResult = 0;
    SetLastError(0);
    if (!SendMessageTimeoutW(hWnd, WM_MSG_UPGRADE_CMD, req.nCode, req.nTag, kSendFlags, req.dwTimeoutMs, &dwResult)) {
        return ReportSendFailure(hWnd, GetLastError(), req.dwTimeoutMs);
    }
    CtlPrintf(L"command %u sent: result=%lu\n", req.nCode, static_cast<unsigned long>(dwResult));
    return CTL_EXIT_OK;
}

int RunClient(const CtlRequest& req)
{
    CKernelHandle stop(CreateEventW(nullptr, TRUE /* manual reset */, FALSE, nullptr));
    if (!stop.Get()) {
        CtlError(L"cannot create an event (error %lu)", GetLastError());
        return CTL_EXIT_FAILURE;
    }
    g_hClientStop = stop.Get();

    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, FALSE};
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    if (req.bFlagSynchronizeOnly &&
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(kSynchronizeOnlyDacl, SDDL_REVISION_1, &pDescriptor,
                                                              nullptr)) {
        CtlError(L"cannot make the running flag's security descriptor (error %lu)", GetLastError());
        return CTL_EXIT_FAILURE;
    }
    const CLocalMemory descriptor(pDescriptor);
    sa.lpSecurityDescriptor = pDescriptor;
    CKernelHandle mutex(CreateMutexW(&sa, TRUE /* initial owner */, UPGRADE_CLIENT_RUNNING_FLAG));
    const DWORD dwCreateError = GetLastError();
    if (!mutex.Get()) {
        CtlError(L"cannot create the mutex \"%s\" (error %lu)", UPGRADE_CLIENT_RUNNING_FLAG, dwCreateError);
        return CTL_EXIT_FAILURE;
    }
    SetConsoleCtrlHandler(OnConsoleCtrl, TRUE);
    // Only a pipe has an end a script can close; a console or the null
    // device would end the client at once or never.
    if (GetFileType(GetStdHandle(STD_INPUT_HANDLE)) == FILE_TYPE_PIPE) {
        // Nobody waits for the watcher: it ends with the process.
        CKernelHandle watcher(CreateThread(nullptr, 0, WatchStdin, nullptr, 0, nullptr));
    }
    CtlPrintf(L"client: holding \"%s\"%s, pid %lu\n", UPGRADE_CLIENT_RUNNING_FLAG,
              dwCreateError == ERROR_ALREADY_EXISTS ? L" (it already existed)" : L"", GetCurrentProcessId());
    if (req.bFlagSynchronizeOnly)
        CtlPrintf(L"client: flag access: %s\n", FlagAccessText().c_str());

    const DWORD dwWait = WaitForSingleObject(stop.Get(), req.bHaveExitAfter ? req.dwExitAfterMs : INFINITE);
    SetConsoleCtrlHandler(OnConsoleCtrl, FALSE);
    CtlPrintf(L"client: released (%s)\n", dwWait == WAIT_TIMEOUT ? L"time is up" : L"told to stop");
    return CTL_EXIT_OK;
}

int RunState(const CtlRequest& req)
{
    std::wstring strPath = req.strPath;
    if (!req.bHavePath) {
        const std::wstring strAppData = AppDataFolder();
        if (strAppData.empty()) {
            CtlError(L"the application-data folder is not available");
            return CTL_EXIT_FAILURE;
        }
        strPath = UpgradeFolderUnder(strAppData) + kStateFileName;
    }
    if (!PathFileExistsW(strPath.c_str())) {
        CtlError(L"no state file at \"%s\"", strPath.c_str());
        return CTL_EXIT_FAILURE;
    }
    // How, when and as which process the companion last ended; files of
    // older companions lack these and show them empty.
    static const LPCWSTR kKeys[] = {kKeyVersion,       kKeyPath,   kKeyOverFlags,  kKeyClearFlags,
                                    kKeyVersionNoTips, kKeyResult, kKeyResultTime, kKeyResultPid};
    std::wstring strOut = L"; " + strPath + L"\n[" + kUpgradeSection + L"]\n";
    for (LPCWSTR pszKey : kKeys)
        strOut += std::wstring(pszKey) + L"=" + ReadUpgradeValue(strPath.c_str(), pszKey) + L"\n";
    ToolWriteText(STD_OUTPUT_HANDLE, strOut);
    return CTL_EXIT_OK;
}

int RunLog(const CtlRequest& req)
{
    const std::wstring strPath = req.bHavePath ? req.strPath : DefaultLogDecodeInput();
    if (strPath.empty()) {
        CtlError(L"the documents folder is not available");
        return CTL_EXIT_FAILURE;
    }
    std::string strBytes;
    std::wstring strError;
    if (!ReadWholeFile(strPath, strBytes, strError)) {
        CtlError(L"%s", strError.c_str());
        return CTL_EXIT_FAILURE;
    }
    std::wstring strText;
    if (!LogFileText(strBytes, CP_ACP, strText)) {
        CtlError(L"\"%s\" is not an upgrade log (its first record cannot be read)", strPath.c_str());
        return CTL_EXIT_FAILURE;
    }
    ToolWriteText(STD_OUTPUT_HANDLE, strText);
    return CTL_EXIT_OK;
}

int RunWaitWindow(const CtlRequest& req, bool bGone)
{
    const ULONGLONG ullDeadline = GetTickCount64() + req.dwTimeoutMs;
    for (;;) {
        HWND hWnd = FindUpgradeWindowNow(req.dwProcessId);
        if (bGone ? hWnd == nullptr : hWnd != nullptr) {
            if (bGone) {
                CtlPrintf(L"window gone\n");
            } else {
                CtlPrintf(L"window found: 0x%08lX\n", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(hWnd)));
            }
            return CTL_EXIT_OK;
        }
        if (GetTickCount64() >= ullDeadline)
            break;
        Sleep(kPollMs);
    }
    CtlError(bGone ? L"the companion's window still exists after %lu ms"
                   : L"the companion's window did not appear within %lu ms",
             req.dwTimeoutMs);
    return CTL_EXIT_NO_WINDOW;
}

int RunQuit(const CtlRequest& req)
{
    HWND hWnd = RequireUpgradeWindow(req);
    if (!hWnd)
        return CTL_EXIT_NO_WINDOW;
    // A quit message in the window's queue ends the companion's loop exactly
    // as its own end of work does.
    if (!PostMessageW(hWnd, WM_QUIT, 0, 0)) {
        CtlError(L"posting the quit request failed (error %lu)", GetLastError());
        return CTL_EXIT_FAILURE;
    }
    CtlPrintf(L"quit requested\n");
    return CTL_EXIT_OK;
}
