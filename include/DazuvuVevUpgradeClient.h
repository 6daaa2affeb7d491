/* The upgrade companion's protocol, for the client and anyone else who
 * drives DazuvuVevUpgrade.exe: the window to look for, the order record and
 * how it is sent, the commands, the notices it posts back, how a run ended,
 * and the client's running flag. It needs nothing but <windows.h> and
 * compiles as C (C89 on) and as C++ (C++03 on); the companion, the console
 * tool and the tests use these same names, so each is written only here.
 * docs/client-protocol.md describes the behaviour behind them. */
#ifndef DAZUVUVEV_UPGRADE_CLIENT_H
#define DAZUVUVEV_UPGRADE_CLIENT_H

/* The companion's hidden window has this class (the resource script names it
 * too, hence a narrow form that the resource compiler can read). */
#define UPGRADE_WINDOW_CLASS_A "#COMM_IN_UPGRADE"

#ifndef RC_INVOKED

#include <windows.h>
#include <stddef.h>

#define UPGRADE_WIDEN_(text) L##text
#define UPGRADE_WIDEN(text) UPGRADE_WIDEN_(text)
#define UPGRADE_WINDOW_CLASS UPGRADE_WIDEN(UPGRADE_WINDOW_CLASS_A)

/* The client owns this mutex while it runs; the companion only opens it. */
#define UPGRADE_CLIENT_RUNNING_FLAG L"$$$DAZUVUVEV_RUNNING_FLAG"

/* The client's executable: when the user agrees to upgrade at a prompt, the
 * companion ends the first process of this name before the setup starts. */
#define UPGRADE_CLIENT_EXE_NAME L"Dazuvuvev.exe"

/* The word that marks the companion's command line:
 * "DazuvuVevNeedUpgrade:<proxy user>:<proxy password>". */
#define UPGRADE_COMMAND_WORD L"DazuvuVevNeedUpgrade"

/* The parameters the companion starts the verified setup program with. */
#define UPGRADE_SETUP_SWITCH L"/UPGRADESHELL"

/* The client's commands: message WM_MSG_UPGRADE_CMD, wParam the command,
 * lParam UPGRADE_COMM_TAG. */
#define WM_MSG_UPGRADE_CMD (WM_USER + 256)

/* Marks messages of this channel: high word of the order's dwData, lParam of
 * a command. */
#define UPGRADE_COMM_TAG 239

typedef enum UpgradeCommand {
    UPGRADE_CMD_PROMPT = 100,  /* ask the user now (opens a modal box: post it) */
    UPGRADE_CMD_HOLD = 101,    /* do not start the setup yet */
    UPGRADE_CMD_INSTALL = 102, /* end the hold: install now, or show the download */
    UPGRADE_CMD_RELEASE = 103  /* end the hold: quit if the download is done */
} UpgradeCommand;

/* Low word of the order's dwData. */
typedef enum UpgradeMode {
    UPGRADE_MODE_AUTO = 0,    /* the companion decides and acts on its own */
    UPGRADE_MODE_COMMANDS = 1 /* a setup found ready waits for the commands (see the docs) */
} UpgradeMode;

#define UPGRADE_TEXT_CCH 260

/* How a run of the companion ended: the number posted with the outcome
 * notice, and, as a word, the value of "result" in the state file. */
typedef enum UpgradeOutcome {
    UPGRADE_OUTCOME_SETUP_STARTED = 0,     /* "setup-started" */
    UPGRADE_OUTCOME_USER_DECLINED = 1,     /* "user-declined" */
    UPGRADE_OUTCOME_HIDDEN = 2,            /* "hidden": verified unseen, waits for the next order */
    UPGRADE_OUTCOME_READY_WAITING = 3,     /* "ready-waiting" */
    UPGRADE_OUTCOME_HELD_WAITING = 4,      /* "held-waiting" */
    UPGRADE_OUTCOME_DOWNLOAD_FAILED = 5,   /* "download-failed" */
    UPGRADE_OUTCOME_DIGEST_MISMATCH = 6,   /* "digest-mismatch" */
    UPGRADE_OUTCOME_NETWORK_LOST = 7,      /* "network-lost" */
    UPGRADE_OUTCOME_REFUSED = 8,           /* "refused" */
    UPGRADE_OUTCOME_SUPERSEDED = 9,        /* "superseded" */
    UPGRADE_OUTCOME_SIGNATURE_REFUSED = 10, /* "signature-refused" */
    UPGRADE_OUTCOME_COULD_NOT_CHECK = 11,  /* "could-not-check": a check could not be made in time; all kept */
    UPGRADE_OUTCOME_START_FAILED = 12      /* "start-failed": the verified setup could not be started; kept */
} UpgradeOutcome;
#define UPGRADE_OUTCOME_COUNT 13

/* Notices: registered window messages (RegisterWindowMessageW of these
 * names) that the companion posts, never sends, to the window an order
 * names as its sender (the ...Ex send helpers below), when that window
 * belongs to another process of the companion's session. lParam is always
 * the companion's process id.
 *   progress  wParam: percent 0 to 100; about four a second at most, and at
 *             once when the transfer starts, finishes or fails;
 *   ready     wParam 0: the download is verified and held, and waits for
 *             UPGRADE_CMD_INSTALL (after UPGRADE_CMD_HOLD, or in mode 1 when
 *             the order found its setup ready);
 *   outcome   wParam: an UpgradeOutcome, posted once, right after the state
 *             file has it and just before the companion ends;
 *   refused   wParam: an UpgradeRefusal, to the window of an order that
 *             came while another one ran and was not taken; the running
 *             order goes on, and its notices go where they went;
 *   close     wParam: the milliseconds the companion waits before it ends
 *             the client itself (UPGRADE_CLOSE_WAIT_MS): the user agreed to
 *             install, and the setup starts once the client has gone. A
 *             client answers by closing its windows, letting go of its
 *             running flag and exiting within that time; one that does not
 *             is ended, as a client that named no window always is.
 * Before each notice the companion checks that the window still exists and
 * still belongs to the process that owned it when it was named. A later
 * order for the running download moves the notices to its own window when
 * that window belongs to the same process as the one that hears them, or
 * when that one is gone (a client that re-creates its window, or restarts).
 * Any process may post these numbers too: take them as hints, check
 * lParam, and read the state file for the result that counts. */
#define UPGRADE_NOTICE_PROGRESS_NAME L"DazuvuVevUpgrade.Notice.Progress"
#define UPGRADE_NOTICE_READY_NAME L"DazuvuVevUpgrade.Notice.Ready"
#define UPGRADE_NOTICE_OUTCOME_NAME L"DazuvuVevUpgrade.Notice.Outcome"
#define UPGRADE_NOTICE_REFUSED_NAME L"DazuvuVevUpgrade.Notice.Refused"
#define UPGRADE_NOTICE_CLOSE_NAME L"DazuvuVevUpgrade.Notice.Close"

/* wParam of the refused notice: why an order that came while another ran
 * was not taken. */
typedef enum UpgradeRefusal {
    UPGRADE_REFUSAL_OTHER_ORDER = 1,    /* another order's download runs */
    UPGRADE_REFUSAL_MALFORMED = 2,      /* the record is malformed, or a field holds a control character */
    UPGRADE_REFUSAL_HEARD_ELSEWHERE = 3 /* the same order runs, and another process's window hears it */
} UpgradeRefusal;
#define UPGRADE_REFUSAL_LAST 3

/* How long the companion waits for a client it asked to close. */
#define UPGRADE_CLOSE_WAIT_MS 5000

/* The upgrade type for which the companion asks the user before downloading. */
#define UPGRADE_TYPE_INTERACTIVE L"9434"

/* A generous bound for the handler of an order or a command: the handler may
 * hold a modal prompt open until the user answers it. */
#define UPGRADE_SEND_TIMEOUT_MS 600000

/* The upgrade order, sent as WM_COPYDATA with cbData = UPGRADE_COMM_SIZE.
 * Each text holds at most 259 characters and its terminator. szMD5 holds the
 * setup's digest as hexadecimal digits: 32 digits are its MD5, 64 its
 * SHA-256, either in any letter case; the send helpers below send it as it
 * is given. */
typedef struct UPGRADE_COMM {
    wchar_t szFileName[UPGRADE_TEXT_CCH];
    wchar_t szReserved[UPGRADE_TEXT_CCH];
    wchar_t szVersion[UPGRADE_TEXT_CCH];
    wchar_t szURL[UPGRADE_TEXT_CCH];
    wchar_t szSize[UPGRADE_TEXT_CCH];
    wchar_t szMD5[UPGRADE_TEXT_CCH];
    wchar_t szUpgradeType[UPGRADE_TEXT_CCH];
    BYTE bReserved;
    BYTE bPadding;
} UPGRADE_COMM;

/* The layout is the protocol. Checked when this header is compiled, in a
 * form that C89 and C++03 both accept: an array of negative size is an
 * error. */
#define UPGRADE_LAYOUT_CHECK(name, condition) typedef char UPGRADE_LAYOUT_##name[(condition) ? 1 : -1]
UPGRADE_LAYOUT_CHECK(text_is_utf16, sizeof(wchar_t) == 2);
UPGRADE_LAYOUT_CHECK(szFileName, offsetof(UPGRADE_COMM, szFileName) == 0);
UPGRADE_LAYOUT_CHECK(szReserved, offsetof(UPGRADE_COMM, szReserved) == 520);
UPGRADE_LAYOUT_CHECK(szVersion, offsetof(UPGRADE_COMM, szVersion) == 1040);
UPGRADE_LAYOUT_CHECK(szURL, offsetof(UPGRADE_COMM, szURL) == 1560);
UPGRADE_LAYOUT_CHECK(szSize, offsetof(UPGRADE_COMM, szSize) == 2080);
UPGRADE_LAYOUT_CHECK(szMD5, offsetof(UPGRADE_COMM, szMD5) == 2600);
UPGRADE_LAYOUT_CHECK(szUpgradeType, offsetof(UPGRADE_COMM, szUpgradeType) == 3120);
UPGRADE_LAYOUT_CHECK(bReserved, offsetof(UPGRADE_COMM, bReserved) == 3640);
UPGRADE_LAYOUT_CHECK(bPadding, offsetof(UPGRADE_COMM, bPadding) == 3641);
UPGRADE_LAYOUT_CHECK(size, sizeof(UPGRADE_COMM) == 3642);

#define UPGRADE_COMM_SIZE ((DWORD)sizeof(UPGRADE_COMM))

/* The helpers below are defined here, so that a client needs no library. */
#if defined(__cplusplus)
#define UPGRADE_CLIENT_INLINE inline
#elif defined(_MSC_VER)
#define UPGRADE_CLIENT_INLINE static __inline
#else
#define UPGRADE_CLIENT_INLINE static __inline__
#endif

/* The result word of an outcome ("setup-started", ...), or NULL. */
UPGRADE_CLIENT_INLINE const wchar_t* UpgradeOutcomeWord(int nOutcome)
{
    static const wchar_t* const s_apszWords[UPGRADE_OUTCOME_COUNT] = {L"setup-started",    L"user-declined",
                                                                      L"hidden",           L"ready-waiting",
                                                                      L"held-waiting",     L"download-failed",
                                                                      L"digest-mismatch",  L"network-lost",
                                                                      L"refused",          L"superseded",
                                                                      L"signature-refused", L"could-not-check",
                                                                      L"start-failed"};
    return nOutcome >= 0 && nOutcome < UPGRADE_OUTCOME_COUNT ? s_apszWords[nOutcome] : NULL;
}

typedef enum UpgradeNoticeKind {
    UPGRADE_NOTICE_NONE = 0, /* not a notice, or one whose values are out of range */
    UPGRADE_NOTICE_PROGRESS = 1,
    UPGRADE_NOTICE_READY = 2,
    UPGRADE_NOTICE_OUTCOME = 3,
    UPGRADE_NOTICE_REFUSED = 4,
    UPGRADE_NOTICE_CLOSE = 5
} UpgradeNoticeKind;

typedef struct UPGRADE_NOTICE {
    UpgradeNoticeKind nKind;
    int nPercent;        /* progress: 0 to 100 */
    int nOutcome;        /* outcome: an UpgradeOutcome; -1 otherwise */
    DWORD dwProcessId;   /* the companion that posted it */
    int nRefusal;        /* refused: an UpgradeRefusal; 0 otherwise */
    DWORD dwCloseWaitMs; /* close: how long the companion waits; 0 otherwise */
} UPGRADE_NOTICE;

/* Call it first in the client window's procedure: UPGRADE_NOTICE_NONE for
 * every other message. Registered messages are looked up only for numbers
 * in their range, so other messages cost a comparison. */
UPGRADE_CLIENT_INLINE UpgradeNoticeKind DecodeUpgradeNotice(UINT uMsg, WPARAM wParam, LPARAM lParam,
                                                            UPGRADE_NOTICE* pNotice)
{
    UpgradeNoticeKind nKind = UPGRADE_NOTICE_NONE;
    if (uMsg < 0xC000 || uMsg > 0xFFFF)
        return UPGRADE_NOTICE_NONE;
    if (uMsg == RegisterWindowMessageW(UPGRADE_NOTICE_PROGRESS_NAME) && wParam <= 100)
        nKind = UPGRADE_NOTICE_PROGRESS;
    else if (uMsg == RegisterWindowMessageW(UPGRADE_NOTICE_READY_NAME) && wParam == 0)
        nKind = UPGRADE_NOTICE_READY;
    else if (uMsg == RegisterWindowMessageW(UPGRADE_NOTICE_OUTCOME_NAME) && wParam < UPGRADE_OUTCOME_COUNT)
        nKind = UPGRADE_NOTICE_OUTCOME;
    else if (uMsg == RegisterWindowMessageW(UPGRADE_NOTICE_REFUSED_NAME) && wParam >= 1 &&
             wParam <= UPGRADE_REFUSAL_LAST)
        nKind = UPGRADE_NOTICE_REFUSED;
    else if (uMsg == RegisterWindowMessageW(UPGRADE_NOTICE_CLOSE_NAME))
        nKind = UPGRADE_NOTICE_CLOSE;
    if (nKind != UPGRADE_NOTICE_NONE && pNotice != NULL) {
        pNotice->nKind = nKind;
        pNotice->nPercent = nKind == UPGRADE_NOTICE_PROGRESS ? (int)wParam : 0;
        pNotice->nOutcome = nKind == UPGRADE_NOTICE_OUTCOME ? (int)wParam : -1;
        pNotice->dwProcessId = (DWORD)lParam;
        pNotice->nRefusal = nKind == UPGRADE_NOTICE_REFUSED ? (int)wParam : 0;
        pNotice->dwCloseWaitMs = nKind == UPGRADE_NOTICE_CLOSE ? (DWORD)wParam : 0;
    }
    return nKind;
}

/* dwData of an order. */
UPGRADE_CLIENT_INLINE ULONG_PTR MakeUpgradeOrderData(UpgradeMode nMode)
{
    return ((ULONG_PTR)UPGRADE_COMM_TAG << 16) | (ULONG_PTR)nMode;
}

/* The companion's window that belongs to the process dwProcessId (the id
 * CreateProcess gave the client when it started the companion), or NULL.
 * Only the newest companion survives, but the window of an older one may
 * still exist for a moment: the class name alone does not tell which
 * companion answers. */
UPGRADE_CLIENT_INLINE HWND FindUpgradeWindowOfProcess(DWORD dwProcessId)
{
    HWND hWnd = NULL;
    int nSeen;
    /* Bounded: windows come and go while the list is walked. */
    for (nSeen = 0; nSeen < 4096; ++nSeen) {
        DWORD dwOwner = 0;
        hWnd = FindWindowExW(NULL /* top-level windows */, hWnd, UPGRADE_WINDOW_CLASS, NULL);
        if (hWnd == NULL)
            return NULL;
        if (GetWindowThreadProcessId(hWnd, &dwOwner) != 0 && dwOwner == dwProcessId)
            return hWnd;
    }
    return NULL;
}

/* Sends the order to hWnd and waits up to dwTimeoutMs for the handler;
 * hWndNotify (NULL: none) is the window that is to receive the notices.
 * Never posted: the record must stay valid until the handler has copied it. */
UPGRADE_CLIENT_INLINE BOOL SendUpgradeOrderToWindowEx(HWND hWnd, const UPGRADE_COMM* pOrder, UpgradeMode nMode,
                                                      HWND hWndNotify, DWORD dwTimeoutMs, DWORD_PTR* pResult)
{
    COPYDATASTRUCT cds;
    DWORD_PTR dwResult = 0;
    if (pOrder == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    cds.dwData = MakeUpgradeOrderData(nMode);
    cds.cbData = UPGRADE_COMM_SIZE;
    cds.lpData = (PVOID)pOrder;
    SetLastError(ERROR_SUCCESS);
    /* SMTO_ABORTIFHUNG: a companion that has stopped taking messages fails
     * the call at once instead of holding the client for the whole time-out. */
    if (!SendMessageTimeoutW(hWnd, WM_COPYDATA, (WPARAM)hWndNotify, (LPARAM)&cds, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                             dwTimeoutMs, &dwResult)) {
        const DWORD dwError = GetLastError();
        if (!IsWindow(hWnd))
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        else if (dwError == ERROR_SUCCESS)
            SetLastError(ERROR_TIMEOUT);
        return FALSE;
    }
    if (pResult != NULL)
        *pResult = dwResult;
    return TRUE;
}

/* The same without notices. */
UPGRADE_CLIENT_INLINE BOOL SendUpgradeOrderToWindow(HWND hWnd, const UPGRADE_COMM* pOrder, UpgradeMode nMode,
                                                    DWORD dwTimeoutMs, DWORD_PTR* pResult)
{
    return SendUpgradeOrderToWindowEx(hWnd, pOrder, nMode, NULL, dwTimeoutMs, pResult);
}

/* Return values of the calls below:
 *   TRUE   the handler ran; *pResult (when not NULL) holds its result: TRUE
 *          for every order the companion took, including one it refused
 *          and ended on (its log says why) and one it refused while
 *          another ran (its window hears the refused notice), 0 when the
 *          order was not recognised (dwData without the tag, or a mode
 *          other than 0 or 1).
 *   FALSE  nothing was delivered, or the handler did not return in time;
 *          GetLastError() tells which:
 *          ERROR_NOT_FOUND             no companion window appeared within
 *                                      dwWaitMs;
 *          ERROR_PROCESS_ABORTED       (by process id) that process ended,
 *                                      or none has that id, before its
 *                                      window appeared: returned at once;
 *          ERROR_TIMEOUT               the handler did not return within
 *                                      dwTimeoutMs, or the companion does not
 *                                      take messages (hung); the order may
 *                                      still be handled later;
 *          ERROR_INVALID_WINDOW_HANDLE the window went away, the companion
 *                                      ended before it answered;
 *          ERROR_INVALID_PARAMETER     pOrder is NULL (or dwProcessId 0).
 * dwWaitMs: the window appears a second or two after the start. dwTimeoutMs:
 * the handler of an interactive order (type 9434, mode 0) and of an order
 * that finds its setup ready in mode 0 returns only after the user answered
 * a prompt; UPGRADE_SEND_TIMEOUT_MS leaves the user ten minutes. */

/* Sends the order to the companion started as process dwProcessId, waiting
 * up to dwWaitMs for its window, and names hWndNotify (NULL: none) for the
 * notices. Prefer this call: an older companion's window of the same class
 * never takes the order meant for the new one, and a companion that has
 * ended is seen at once. */
UPGRADE_CLIENT_INLINE BOOL SendUpgradeOrderToProcessEx(DWORD dwProcessId, const UPGRADE_COMM* pOrder, UpgradeMode nMode,
                                                       HWND hWndNotify, DWORD dwWaitMs, DWORD dwTimeoutMs,
                                                       DWORD_PTR* pResult)
{
    const DWORD dwStart = GetTickCount();
    HANDLE hProcess;
    HWND hWnd;
    BOOL bEnded = FALSE;
    if (pOrder == NULL || dwProcessId == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    /* Only to see it end. Without the right to wait on it (another user's
     * process), the wait below just takes its whole time. */
    hProcess = OpenProcess(SYNCHRONIZE, FALSE, dwProcessId);
    if (hProcess == NULL && GetLastError() == ERROR_INVALID_PARAMETER)
        bEnded = TRUE; /* no process has that id (any more) */
    hWnd = FindUpgradeWindowOfProcess(dwProcessId);
    while (hWnd == NULL && !bEnded && GetTickCount() - dwStart < dwWaitMs) {
        if (hProcess != NULL)
            bEnded = WaitForSingleObject(hProcess, 50) == WAIT_OBJECT_0;
        else
            Sleep(50);
        hWnd = FindUpgradeWindowOfProcess(dwProcessId);
    }
    if (hProcess != NULL)
        CloseHandle(hProcess);
    if (hWnd == NULL) {
        SetLastError(bEnded ? ERROR_PROCESS_ABORTED : ERROR_NOT_FOUND);
        return FALSE;
    }
    return SendUpgradeOrderToWindowEx(hWnd, pOrder, nMode, hWndNotify, dwTimeoutMs, pResult);
}

/* The same without notices. */
UPGRADE_CLIENT_INLINE BOOL SendUpgradeOrderToProcess(DWORD dwProcessId, const UPGRADE_COMM* pOrder, UpgradeMode nMode,
                                                     DWORD dwWaitMs, DWORD dwTimeoutMs, DWORD_PTR* pResult)
{
    return SendUpgradeOrderToProcessEx(dwProcessId, pOrder, nMode, NULL, dwWaitMs, dwTimeoutMs, pResult);
}

/* Sends the order to the first window of the class, waiting up to dwWaitMs
 * for one, and names hWndNotify (NULL: none) for the notices. Kept for
 * clients that do not know the companion's process id: while an older
 * companion's window still exists, the order may reach it instead and be
 * lost when the newer one ends it. */
UPGRADE_CLIENT_INLINE BOOL SendUpgradeOrderEx(const UPGRADE_COMM* pOrder, UpgradeMode nMode, HWND hWndNotify,
                                              DWORD dwWaitMs, DWORD dwTimeoutMs, DWORD_PTR* pResult)
{
    const DWORD dwStart = GetTickCount();
    HWND hWnd;
    if (pOrder == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    hWnd = FindWindowW(UPGRADE_WINDOW_CLASS, NULL);
    while (hWnd == NULL && GetTickCount() - dwStart < dwWaitMs) {
        Sleep(100);
        hWnd = FindWindowW(UPGRADE_WINDOW_CLASS, NULL);
    }
    if (hWnd == NULL) {
        SetLastError(ERROR_NOT_FOUND);
        return FALSE;
    }
    return SendUpgradeOrderToWindowEx(hWnd, pOrder, nMode, hWndNotify, dwTimeoutMs, pResult);
}

/* The same without notices. */
UPGRADE_CLIENT_INLINE BOOL SendUpgradeOrder(const UPGRADE_COMM* pOrder, UpgradeMode nMode, DWORD dwWaitMs,
                                            DWORD dwTimeoutMs, DWORD_PTR* pResult)
{
    return SendUpgradeOrderEx(pOrder, nMode, NULL, dwWaitMs, dwTimeoutMs, pResult);
}

#endif /* RC_INVOKED */

#endif /* DAZUVUVEV_UPGRADE_CLIENT_H */
