// The upgrade companion's protocol, for the client and anyone else who
// drives DazuvuVevUpgrade.exe: the window to look for, the order record and
// how it is sent, the commands, and the client's running flag. It needs
// nothing but <windows.h>; the companion, the console tool and the tests use
// these same names, so each is written only here. docs/client-protocol.md
// describes the behaviour behind them.
#pragma once

// The companion's hidden window has this class (the resource script names it
// too, hence a narrow form that the resource compiler can read).
#define UPGRADE_WINDOW_CLASS_A "#COMM_IN_UPGRADE"

#ifndef RC_INVOKED

#include <windows.h>
#include <stddef.h>

#define UPGRADE_WIDEN_(text) L##text
#define UPGRADE_WIDEN(text) UPGRADE_WIDEN_(text)
#define UPGRADE_WINDOW_CLASS UPGRADE_WIDEN(UPGRADE_WINDOW_CLASS_A)

// The client owns this mutex while it runs; the companion only opens it.
#define UPGRADE_CLIENT_RUNNING_FLAG L"$$$DAZUVUVEV_RUNNING_FLAG"

// The client's executable: when the user agrees to upgrade at a prompt, the
// companion ends the first process of this name before the setup starts.
#define UPGRADE_CLIENT_EXE_NAME L"Dazuvuvev.exe"

// The word that marks the companion's command line:
// "DazuvuVevNeedUpgrade:<proxy user>:<proxy password>".
#define UPGRADE_COMMAND_WORD L"DazuvuVevNeedUpgrade"

// The parameters the companion starts the verified setup program with.
#define UPGRADE_SETUP_SWITCH L"/UPGRADESHELL"

// The client's commands: message WM_MSG_UPGRADE_CMD, wParam the command,
// lParam UPGRADE_COMM_TAG.
#define WM_MSG_UPGRADE_CMD (WM_USER + 256)

// Marks messages of this channel: high word of the order's dwData, lParam of
// a command.
#define UPGRADE_COMM_TAG 239

enum UpgradeCommand {
    UPGRADE_CMD_PROMPT = 100,   // ask the user now (opens a modal box: post it)
    UPGRADE_CMD_HOLD = 101,     // do not start the setup yet
    UPGRADE_CMD_INSTALL = 102,  // end the hold: install now, or show the download
    UPGRADE_CMD_RELEASE = 103,  // end the hold: quit if the download is done
};

// Low word of the order's dwData.
enum UpgradeMode {
    UPGRADE_MODE_AUTO = 0,      // the companion decides and acts on its own
    UPGRADE_MODE_COMMANDS = 1,  // it downloads, then waits for the commands
};

#define UPGRADE_TEXT_CCH 260

// The upgrade type for which the companion asks the user before downloading.
#define UPGRADE_TYPE_INTERACTIVE L"9434"

// The upgrade order, sent as WM_COPYDATA with cbData = UPGRADE_COMM_SIZE.
// Each text holds at most 259 characters and its terminator; szMD5 is 32
// lower-case hexadecimal digits.
struct UPGRADE_COMM {
    wchar_t szFileName[UPGRADE_TEXT_CCH];
    wchar_t szReserved[UPGRADE_TEXT_CCH];
    wchar_t szVersion[UPGRADE_TEXT_CCH];
    wchar_t szURL[UPGRADE_TEXT_CCH];
    wchar_t szSize[UPGRADE_TEXT_CCH];
    wchar_t szMD5[UPGRADE_TEXT_CCH];
    wchar_t szUpgradeType[UPGRADE_TEXT_CCH];
    BYTE bReserved;
    BYTE bPadding;
};
static_assert(sizeof(wchar_t) == 2, "the record's text is UTF-16");
static_assert(offsetof(UPGRADE_COMM, szFileName) == 0, "order layout");
static_assert(offsetof(UPGRADE_COMM, szReserved) == 520, "order layout");
static_assert(offsetof(UPGRADE_COMM, szVersion) == 1040, "order layout");
static_assert(offsetof(UPGRADE_COMM, szURL) == 1560, "order layout");
static_assert(offsetof(UPGRADE_COMM, szSize) == 2080, "order layout");
static_assert(offsetof(UPGRADE_COMM, szMD5) == 2600, "order layout");
static_assert(offsetof(UPGRADE_COMM, szUpgradeType) == 3120, "order layout");
static_assert(offsetof(UPGRADE_COMM, bReserved) == 3640, "order layout");
static_assert(offsetof(UPGRADE_COMM, bPadding) == 3641, "order layout");
static_assert(sizeof(UPGRADE_COMM) == 3642, "order layout");

enum : DWORD { UPGRADE_COMM_SIZE = sizeof(UPGRADE_COMM) };

// dwData of an order.
inline ULONG_PTR MakeUpgradeOrderData(UpgradeMode nMode)
{
    return (static_cast<ULONG_PTR>(UPGRADE_COMM_TAG) << 16) | static_cast<ULONG_PTR>(nMode);
}

// Waits up to dwWaitMs for the companion's window (it appears a second or two
// after the start), then sends the order and waits up to dwTimeoutMs for the
// handler, which returns only after the user answered an interactive order's
// prompt. TRUE with the handler's result in *pResult (TRUE for every order the
// companion took). FALSE with GetLastError() ERROR_NOT_FOUND when no window
// appeared, ERROR_TIMEOUT when the handler did not answer in time.
inline BOOL SendUpgradeOrder(const UPGRADE_COMM* pOrder, UpgradeMode nMode, DWORD dwWaitMs, DWORD dwTimeoutMs,
                             DWORD_PTR* pResult)
{
    const DWORD dwStart = ::GetTickCount();
    HWND hWnd = ::FindWindowW(UPGRADE_WINDOW_CLASS, NULL);
    while (hWnd == NULL && ::GetTickCount() - dwStart < dwWaitMs) {
        ::Sleep(100);
        hWnd = ::FindWindowW(UPGRADE_WINDOW_CLASS, NULL);
    }
    if (hWnd == NULL) {
        ::SetLastError(ERROR_NOT_FOUND);
        return FALSE;
    }
    COPYDATASTRUCT cds;
    cds.dwData = MakeUpgradeOrderData(nMode);
    cds.cbData = UPGRADE_COMM_SIZE;
    cds.lpData = const_cast<UPGRADE_COMM*>(pOrder);
    DWORD_PTR dwResult = 0;
    // Never posted: the record must stay valid until the handler has run.
    if (!::SendMessageTimeoutW(hWnd, WM_COPYDATA, 0 /* no sender window */, reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL,
                               dwTimeoutMs, &dwResult)) {
        if (::GetLastError() == ERROR_SUCCESS)
            ::SetLastError(ERROR_TIMEOUT);
        return FALSE;
    }
    if (pResult != NULL)
        *pResult = dwResult;
    return TRUE;
}

#endif  // RC_INVOKED
