// The command line of the console tool: subcommands, named options and the
// usage text. Pure functions, so every rule is testable without a window.
#pragma once

#include "tools/upgradectl/UpgradeOrder.h"

#include <windows.h>

#include <stdint.h>

#include <string>

enum CtlCommand {
    CTL_HELP,
    CTL_ORDER,
    CTL_PROMPT,
    CTL_HOLD,
    CTL_INSTALL,
    CTL_RELEASE,
    CTL_CMD,
    CTL_CLIENT,
    CTL_STATE,
    CTL_LOG,
    CTL_WAIT_WINDOW,
    CTL_WAIT_GONE,
    CTL_QUIT,
};

// Exit codes that scripts test.
enum CtlExitCode {
    CTL_EXIT_OK = 0,
    CTL_EXIT_NO_WINDOW = 1,  // the companion's window was not found, or timed out
    CTL_EXIT_USAGE = 2,
    CTL_EXIT_FAILURE = 3,
};

// The companion may hold an order or a command inside a modal prompt until
// the user answers, so a sender waits long by default.
enum : DWORD {
    CTL_DEFAULT_SEND_TIMEOUT_MS = 10 * 60 * 1000,
    CTL_DEFAULT_WAIT_TIMEOUT_MS = 30 * 1000,
    CTL_MAX_CBDATA = 1024 * 1024,
};

struct CtlRequest {
    CtlCommand nCommand = CTL_HELP;
    std::wstring strHelpTopic;  // CTL_HELP: a subcommand, or empty for the overview

    // order
    std::wstring strURL;
    std::wstring strVersion;
    std::wstring strUpgradeType;
    std::wstring strFileName;  // szFileName; empty: derived from the URL
    bool bHaveFileName = false;
    std::wstring strSize;  // given with --size
    bool bHaveSize = false;
    std::wstring strMD5;  // given with --md5
    bool bHaveMD5 = false;
    std::wstring strLocalFile;  // --file: size and MD5 not given are computed from it
    bool bHaveLocalFile = false;
    bool bSha256 = false;  // --sha256: szMD5 carries the SHA-256 of --file
    uint16_t nMode = 0;
    uint16_t nTag = UPGRADE_COMM_TAG;
    DWORD cbData = UPGRADE_COMM_SIZE;
    bool bUnterminated = false;

    // prompt, hold, install, release, cmd
    UINT nCode = 0;
    bool bPost = false;

    // shared
    DWORD dwProcessId = 0;  // --pid: only the companion window of this process; 0: the first one found
    DWORD dwTimeoutMs = 0;
    DWORD dwWaitMs = 0;  // how long to wait for the companion's window first
    bool bHaveExitAfter = false;
    DWORD dwExitAfterMs = 0;
    bool bFlagSynchronizeOnly = false;  // client: its running flag grants everyone SYNCHRONIZE only
    std::wstring strPath;               // log: the log file; state: the INI file
    bool bHavePath = false;
};

// argv as wmain receives it. False with a one-line message on a usage error.
bool ParseCtlArgs(int argc, const wchar_t* const* argv, CtlRequest& req, std::wstring& strError);

// A decimal number from 0 to nMax, nothing else (no sign, no spaces).
bool ParseCtlNumber(const std::wstring& strText, uint64_t nMax, uint64_t& nValue);

// An MD5 text as the companion compares it: 32 hexadecimal digits.
bool IsMd5Text(const std::wstring& strText);

// Hexadecimal digits in lower case, the form the companion's own digests take.
std::wstring LowerHex(std::wstring strText);

// Usage of one subcommand, or the overview for an empty or unknown name.
std::wstring CtlUsageText(const std::wstring& strCommand);
