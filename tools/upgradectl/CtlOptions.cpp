#include "tools/upgradectl/CtlOptions.h"

#include "tools/upgradectl/UpgradeOrder.h"

#include <wctype.h>

#include <map>
#include <vector>

namespace {

enum OptionKind { OPT_FLAG, OPT_VALUE };

struct OptionSpec {
    LPCWSTR pszName;
    OptionKind nKind;
};

struct CommandSpec {
    LPCWSTR pszName;
    CtlCommand nCommand;
    UINT nCode;  // the command code of the four client commands
    int nMaxPositionals;
    std::vector<OptionSpec> options;
};

const std::vector<OptionSpec> kWindowOptions = {
    {L"--wait-ms", OPT_VALUE}, {L"--timeout-ms", OPT_VALUE}, {L"--post", OPT_FLAG},
    {L"--send", OPT_FLAG},     {L"--tag", OPT_VALUE},        {L"--pid", OPT_VALUE},
};

const std::vector<CommandSpec>& Commands()
{
    // One command a line, its options packed below it.
    // clang-format off
    static const std::vector<CommandSpec> commands = {
        {L"order", CTL_ORDER, 0, 0,
         {{L"--url", OPT_VALUE}, {L"--version", OPT_VALUE}, {L"--size", OPT_VALUE}, {L"--md5", OPT_VALUE},
          {L"--file", OPT_VALUE}, {L"--sha256", OPT_FLAG}, {L"--type", OPT_VALUE}, {L"--mode", OPT_VALUE},
          {L"--name", OPT_VALUE}, {L"--pid", OPT_VALUE}, {L"--timeout-ms", OPT_VALUE}, {L"--wait-ms", OPT_VALUE},
          {L"--cbdata", OPT_VALUE}, {L"--tag", OPT_VALUE}, {L"--raw-mode", OPT_VALUE},
          {L"--unterminated", OPT_FLAG}}},
        {L"prompt", CTL_PROMPT, UPGRADE_CMD_PROMPT, 0, kWindowOptions},
        {L"hold", CTL_HOLD, UPGRADE_CMD_HOLD, 0, kWindowOptions},
        {L"install", CTL_INSTALL, UPGRADE_CMD_INSTALL, 0, kWindowOptions},
        {L"release", CTL_RELEASE, UPGRADE_CMD_RELEASE, 0, kWindowOptions},
        {L"cmd", CTL_CMD, 0, 1, kWindowOptions},
        {L"client", CTL_CLIENT, 0, 0, {{L"--exit-after-ms", OPT_VALUE}, {L"--flag-synchronize-only", OPT_FLAG}}},
        {L"state", CTL_STATE, 0, 0, {{L"--ini", OPT_VALUE}}},
        {L"log", CTL_LOG, 0, 1, {}},
        {L"wait-window", CTL_WAIT_WINDOW, 0, 0, {{L"--timeout-ms", OPT_VALUE}, {L"--pid", OPT_VALUE}}},
        {L"wait-gone", CTL_WAIT_GONE, 0, 0, {{L"--timeout-ms", OPT_VALUE}, {L"--pid", OPT_VALUE}}},
        {L"quit", CTL_QUIT, 0, 0, {{L"--wait-ms", OPT_VALUE}, {L"--pid", OPT_VALUE}}},
    };
    // clang-format on

    return commands;
}

bool IsHelpWord(const std::wstring& str)
{
    return str == L"help" || str == L"--help" || str == L"-h" || str == L"/?";
}

// Stores a number option in field when it was given; false with a message
// naming the option when its value is not a number from 0 to nMax.
template <typename T>
bool TakeNumber(const std::map<std::wstring, std::wstring>& values, LPCWSTR pszName, uint64_t nMax, T& field,
                std::wstring& strError)
{
    auto it = values.find(pszName);
    if (it == values.end())
        return true;
    uint64_t nValue = 0;
    if (!ParseCtlNumber(it->second, nMax, nValue)) {
        strError = std::wstring(pszName) + L" takes a whole number from 0 to " + std::to_wstring(nMax) + L", not \"" +
                   it->second + L"\"";
        return false;
    }
    field = static_cast<T>(nValue);
    return true;
}

bool Has(const std::map<std::wstring, std::wstring>& values, LPCWSTR pszName)
{
    return values.count(pszName) != 0;
}

bool FillOrder(const std::map<std::wstring, std::wstring>& values, CtlRequest& req, std::wstring& strError)
{
    if (!Has(values, L"--url")) {
        strError = L"order needs --url";
        return false;
    }
    if (!Has(values, L"--version")) {
        strError = L"order needs --version";
        return false;
    }
    req.strURL = values.at(L"--url");
    req.strVersion = values.at(L"--version");
    if (Has(values, L"--type"))
        req.strUpgradeType = values.at(L"--type");
    if ((req.bHaveFileName = Has(values, L"--name")))
        req.strFileName = values.at(L"--name");
    if ((req.bHaveLocalFile = Has(values, L"--file")))
        req.strLocalFile = values.at(L"--file");

    uint64_t nSize = 0;
    if ((req.bHaveSize = Has(values, L"--size"))) {
        // The companion reads the size as a 32-bit signed number.
        if (!TakeNumber(values, L"--size", 2147483647u, nSize, strError))
            return false;
        req.strSize = values.at(L"--size");
    }
    if ((req.bHaveMD5 = Has(values, L"--md5"))) {
        req.strMD5 = values.at(L"--md5");
        if (!IsMd5Text(req.strMD5)) {
            strError = L"--md5 takes 32 hexadecimal digits, not \"" + req.strMD5 + L"\"";
            return false;
        }
        // The companion compares the MD5 text exactly with its own lower-case
        // digest, and only after the whole download: an upper-case text would
        // waste the download and fail it.
        req.strMD5 = LowerHex(req.strMD5);
    }
    if ((req.bSha256 = Has(values, L"--sha256"))) {
        if (req.bHaveMD5) {
            strError = L"--sha256 and --md5 exclude each other";
            return false;
        }
        if (!req.bHaveLocalFile) {
            strError = L"--sha256 needs --file: the digest is computed from the setup file";
            return false;
        }
    }
    if (!req.bHaveSize && !req.bHaveLocalFile) {
        strError = L"order needs --size or --file";
        return false;
    }
    if (!req.bHaveMD5 && !req.bHaveLocalFile) {
        strError = L"order needs --md5 or --file";
        return false;
    }

    if (Has(values, L"--mode") && Has(values, L"--raw-mode")) {
        strError = L"--mode and --raw-mode exclude each other";
        return false;
    }
    if (!TakeNumber(values, L"--mode", 1, req.nMode, strError) ||
        !TakeNumber(values, L"--raw-mode", 0xFFFF, req.nMode, strError) ||
        !TakeNumber(values, L"--cbdata", CTL_MAX_CBDATA, req.cbData, strError)) {
        return false;
    }
    req.bUnterminated = Has(values, L"--unterminated");
    return true;
}

}  // namespace

bool ParseCtlNumber(const std::wstring& strText, uint64_t nMax, uint64_t& nValue)
{
    if (strText.empty() || strText.size() > 19)
        return false;
    uint64_t n = 0;
    for (wchar_t ch : strText) {
        if (ch < L'0' || ch > L'9')
            return false;
        n = n * 10 + static_cast<uint64_t>(ch - L'0');
    }
    if (n > nMax)
        return false;
    nValue = n;
    return true;
}

std::wstring LowerHex(std::wstring strText)
{
    for (wchar_t& ch : strText) {
        if (ch >= L'A' && ch <= L'F')
            ch = static_cast<wchar_t>(ch - L'A' + L'a');
    }
    return strText;
}

bool IsMd5Text(const std::wstring& strText)
{
    if (strText.size() != 32)
        return false;
    for (wchar_t ch : strText) {
        if (!iswxdigit(ch) || ch > 0x7F)
            return false;
    }
    return true;
}

namespace {

using OptionValues = std::map<std::wstring, std::wstring>;

// The options ("--name value" or "--name=value") and the positionals after
// the command's name. False with a message; bHelp instead when a help word
// came among them.
bool CollectArgs(int argc, const wchar_t* const* argv, const CommandSpec& command, OptionValues& values,
                 std::vector<std::wstring>& positionals, bool& bHelp, std::wstring& strError)
{
    for (int i = 2; i < argc; ++i) {
        std::wstring strArg = argv[i];
        if (IsHelpWord(strArg)) {
            bHelp = true;
            return true;
        }
        if (strArg.compare(0, 2, L"--") != 0) {
            positionals.push_back(strArg);
            continue;
        }
        std::wstring strValue;
        bool bInlineValue = false;
        const size_t nEqual = strArg.find(L'=');
        if (nEqual != std::wstring::npos) {
            strValue = strArg.substr(nEqual + 1);
            strArg.resize(nEqual);
            bInlineValue = true;
        }
        const OptionSpec* pOption = nullptr;
        for (const OptionSpec& option : command.options) {
            if (strArg == option.pszName)
                pOption = &option;
        }
        if (!pOption) {
            strError = L"unknown option " + strArg + L" for \"" + command.pszName + L"\"";
            return false;
        }
        if (values.count(strArg)) {
            strError = strArg + L" is given twice";
            return false;
        }
        if (pOption->nKind == OPT_FLAG) {
            if (bInlineValue) {
                strError = strArg + L" takes no value";
                return false;
            }
        } else if (!bInlineValue) {
            if (i + 1 >= argc) {
                strError = strArg + L" needs a value";
                return false;
            }
            strValue = argv[++i];
        }
        values[strArg] = strValue;
    }
    if (static_cast<int>(positionals.size()) > command.nMaxPositionals) {
        strError =
            L"unexpected argument \"" + positionals[command.nMaxPositionals] + L"\" for \"" + command.pszName + L"\"";
        return false;
    }
    return true;
}

// What only one command takes: the order's fields, the code of "cmd", the
// path of "log" and "state".
bool FillCommandArgs(const OptionValues& values, const std::vector<std::wstring>& positionals, CtlRequest& req,
                     std::wstring& strError)
{
    switch (req.nCommand) {
    case CTL_ORDER:
        return FillOrder(values, req, strError);
    case CTL_CMD: {
        if (positionals.empty()) {
            strError = L"cmd needs a command code";
            return false;
        }
        uint64_t nCode = 0;
        if (!ParseCtlNumber(positionals[0], 0xFFFFFFFFu, nCode)) {
            strError = L"the command code must be a whole number, not \"" + positionals[0] + L"\"";
            return false;
        }
        req.nCode = static_cast<UINT>(nCode);
        return true;
    }
    case CTL_LOG:
        if ((req.bHavePath = !positionals.empty()))
            req.strPath = positionals[0];
        return true;
    case CTL_STATE:
        if ((req.bHavePath = Has(values, L"--ini")))
            req.strPath = values.at(L"--ini");
        return true;
    case CTL_CLIENT:
        req.bFlagSynchronizeOnly = Has(values, L"--flag-synchronize-only");
        return true;
    default:
        return true;
    }
}

}  // namespace

bool ParseCtlArgs(int argc, const wchar_t* const* argv, CtlRequest& req, std::wstring& strError)
{
    req = CtlRequest();
    if (argc < 2 || IsHelpWord(argv[1])) {
        req.nCommand = CTL_HELP;
        if (argc >= 3)
            req.strHelpTopic = argv[2];
        return true;
    }

    const std::wstring strName = argv[1];
    const CommandSpec* pSpec = nullptr;
    for (const CommandSpec& command : Commands()) {
        if (strName == command.pszName)
            pSpec = &command;
    }
    if (!pSpec) {
        strError = L"unknown command \"" + strName + L"\"";
        return false;
    }
    req.nCommand = pSpec->nCommand;
    req.nCode = pSpec->nCode;

    OptionValues values;
    std::vector<std::wstring> positionals;
    bool bHelp = false;
    if (!CollectArgs(argc, argv, *pSpec, values, positionals, bHelp, strError))
        return false;
    if (bHelp) {
        req = CtlRequest();
        req.nCommand = CTL_HELP;
        req.strHelpTopic = strName;
        return true;
    }

    const bool bWaits = req.nCommand == CTL_WAIT_WINDOW || req.nCommand == CTL_WAIT_GONE;
    req.dwTimeoutMs = bWaits ? CTL_DEFAULT_WAIT_TIMEOUT_MS : CTL_DEFAULT_SEND_TIMEOUT_MS;
    if (!TakeNumber(values, L"--timeout-ms", 0x7FFFFFFF, req.dwTimeoutMs, strError) ||
        !TakeNumber(values, L"--wait-ms", 0x7FFFFFFF, req.dwWaitMs, strError) ||
        !TakeNumber(values, L"--tag", 0xFFFF, req.nTag, strError) ||
        !TakeNumber(values, L"--exit-after-ms", 0x7FFFFFFF, req.dwExitAfterMs, strError) ||
        !TakeNumber(values, L"--pid", 0xFFFFFFFF, req.dwProcessId, strError)) {
        return false;
    }
    if (Has(values, L"--pid") && req.dwProcessId == 0) {
        strError = L"--pid takes the companion's process id, which is never 0";
        return false;
    }
    req.bHaveExitAfter = Has(values, L"--exit-after-ms");
    if (Has(values, L"--post") && Has(values, L"--send")) {
        strError = L"--post and --send exclude each other";
        return false;
    }
    // The prompt opens a modal box inside the companion's handler; a sender
    // would sit there until someone answers it, so it is posted by default.
    req.bPost = Has(values, L"--post") || (req.nCommand == CTL_PROMPT && !Has(values, L"--send"));
    return FillCommandArgs(values, positionals, req, strError);
}

std::wstring CtlUsageText(const std::wstring& strCommand)
{
    static const std::map<std::wstring, std::wstring> details = {
        {L"order",
         L"usage: DazuvuVevUpgradeCtl order --url URL --version V\n"
         L"           (--size N | --file PATH) (--md5 HEX | --file PATH [--sha256])\n"
         L"           [--type T] [--mode 0|1] [--name SETUPNAME] [--pid N]\n"
         L"           [--wait-ms N] [--timeout-ms N]\n"
         L"           [--cbdata N] [--tag N] [--raw-mode N] [--unterminated]\n"
         L"\n"
         L"Sends the upgrade order (WM_COPYDATA) to the companion's window.\n"
         L"  --md5 HEX       the setup's MD5; upper-case digits are sent in lower case,\n"
         L"                  the form the companion compares with\n"
         L"  --file PATH     compute the size and the MD5 (lower-case hex) of a local\n"
         L"                  file; an explicit --size or --md5 wins over it\n"
         L"  --sha256        send the SHA-256 of --file (64 lower-case hex digits)\n"
         L"                  in the digest field instead of its MD5\n"
         L"  --type T        upgrade type; \"9434\" asks the user before the download\n"
         L"  --mode 0|1      0: the companion acts on its own; 1: a setup it finds\n"
         L"                  ready waits for the commands\n"
         L"  --name NAME     setup name field (default: the URL after its last \"/\")\n"
         L"  --pid N         only the window of the companion with process id N (the\n"
         L"                  one you started): an older companion's window may still\n"
         L"                  exist for a moment and would take the order otherwise\n"
         L"  --wait-ms N     wait up to N ms for the window to appear (default 0)\n"
         L"  --timeout-ms N  how long to wait for the handler (default 600000)\n"
         L"Bad input for testing the companion:\n"
         L"  --cbdata N      send N bytes instead of 3642 (cut or zero-padded)\n"
         L"  --tag N         high word of dwData instead of 239\n"
         L"  --raw-mode N    low word of dwData, any value up to 65535\n"
         L"  --unterminated  allow 260-character values that fill a field without\n"
         L"                  a terminator\n"
         L"Prints the handler's result. Every text field holds at most 259 characters.\n"},
        {L"commands",
         L"usage: DazuvuVevUpgradeCtl prompt|hold|install|release [options]\n"
         L"       DazuvuVevUpgradeCtl cmd CODE [options]\n"
         L"\n"
         L"Sends a client command (message 1280, lParam 239):\n"
         L"  prompt   100  ask the user now (posted by default: it opens a modal box)\n"
         L"  hold     101  do not install yet\n"
         L"  install  102  end the hold and install now, or show the download\n"
         L"  release  103  end the hold; the companion quits if the download is done\n"
         L"  cmd CODE      any code, for testing\n"
         L"  --post          post the message and return at once\n"
         L"  --send          send it and print the handler's result (default, except prompt)\n"
         L"  --tag N         lParam instead of 239\n"
         L"  --pid N         only the window of the companion with process id N\n"
         L"  --wait-ms N     wait up to N ms for the window to appear (default 0)\n"
         L"  --timeout-ms N  how long to wait for the handler (default 600000)\n"},
        {L"client",
         L"usage: DazuvuVevUpgradeCtl client [--exit-after-ms N] [--flag-synchronize-only]\n"
         L"\n"
         L"Acts as the running client: holds the mutex \"" UPGRADE_CLIENT_RUNNING_FLAG L"\"\n"
         L"until killed, Ctrl+C, the end of a piped standard input, or N ms.\n"
         L"  --flag-synchronize-only  the mutex grants everyone SYNCHRONIZE and nothing\n"
         L"                  more, as a client of another integrity level appears\n"
         L"Copy the tool as Dazuvuvev.exe so that the companion can close it by name.\n"},
        {L"state",
         L"usage: DazuvuVevUpgradeCtl state [--ini PATH]\n"
         L"\n"
         L"Prints section \"UPGRADE\" of %APPDATA%\\DazuvuvevUpgrade\\Upgrade.ini:\n"
         L"version, path, overflags, clearflags, version_no_tips, and result,\n"
         L"resulttime and resultpid: how, when and as which process the companion\n"
         L"last ended.\n"},
        {L"log",
         L"usage: DazuvuVevUpgradeCtl log [PATH]\n"
         L"\n"
         L"Prints the companion's log as text (default: Documents\\DazuvuVev\\log\\Upgrade\\\n"
         L"Upgrade.log). The file's bytes have their two halves swapped.\n"},
        {L"wait",
         L"usage: DazuvuVevUpgradeCtl wait-window [--timeout-ms N] [--pid N]\n"
         L"       DazuvuVevUpgradeCtl wait-gone [--timeout-ms N] [--pid N]\n"
         L"\n"
         L"Waits until the companion's window exists / no longer exists\n"
         L"(default 30000 ms); with --pid, the window of that process only.\n"
         L"Exit code 0 when it did, 1 on time-out.\n"},
        {L"quit",
         L"usage: DazuvuVevUpgradeCtl quit [--wait-ms N] [--pid N]\n"
         L"\n"
         L"Ends the companion in an orderly way: its message loop ends, it logs\n"
         L"\"GetMessage QUIT!\", shuts its network watch down and exits with code 0.\n"
         L"Nothing is installed and the state file is left as it is.\n"},
    };
    std::wstring strTopic = strCommand;
    if (strTopic == L"prompt" || strTopic == L"hold" || strTopic == L"install" || strTopic == L"release" ||
        strTopic == L"cmd") {
        strTopic = L"commands";
    } else if (strTopic == L"wait-window" || strTopic == L"wait-gone") {
        strTopic = L"wait";
    }
    auto it = details.find(strTopic);
    if (it != details.end())
        return it->second;
    return L"usage: DazuvuVevUpgradeCtl COMMAND [options]   (COMMAND --help for details)\n"
           L"\n"
           L"Talks to the upgrade companion DazuvuVevUpgrade.exe as the client does.\n"
           L"  order        send an upgrade order (address, version, size, digest, type,\n"
           L"               mode); --pid N sends it to the companion you started\n"
           L"  prompt       command 100: ask the user now\n"
           L"  hold         command 101: do not install yet\n"
           L"  install      command 102: install now, or show the download\n"
           L"  release      command 103: end the hold\n"
           L"  cmd CODE     any command code\n"
           L"  client       act as the running client (hold its running-flag mutex)\n"
           L"  state        print the companion's state file Upgrade.ini\n"
           L"  log [PATH]   print the companion's log as text\n"
           L"  wait-window  wait until the companion's window exists\n"
           L"  wait-gone    wait until it no longer exists\n"
           L"  quit         end the companion in an orderly way\n"
           L"\n"
           L"Exit codes: 0 success, 1 window not found or timed out, 2 usage error,\n"
           L"3 other failure. Output is UTF-8 when redirected.\n";
}
