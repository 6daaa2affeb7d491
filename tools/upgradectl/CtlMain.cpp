// DazuvuVevUpgradeCtl.exe: the client's side of the upgrade companion's
// channel on the command line, for the client's developers, QA and support.
#include "tools/upgradectl/CtlCommands.h"
#include "tools/upgradectl/CtlConsole.h"

int wmain(int argc, wchar_t** argv)
{
    try {
        // A bare call is a mistake in a script, not a request for help: it
        // must not pass for success.
        if (argc < 2) {
            ToolWriteText(STD_ERROR_HANDLE, CtlUsageText(L""));
            return CTL_EXIT_USAGE;
        }
        CtlRequest req;
        std::wstring strError;
        if (!ParseCtlArgs(argc, argv, req, strError)) {
            CtlError(L"%s", strError.c_str());
            ToolWriteText(STD_ERROR_HANDLE, L"Run \"DazuvuVevUpgradeCtl --help\" for the usage.\n");
            return CTL_EXIT_USAGE;
        }
        switch (req.nCommand) {
        case CTL_HELP:
            ToolWriteText(STD_OUTPUT_HANDLE, CtlUsageText(req.strHelpTopic));
            return CTL_EXIT_OK;
        case CTL_ORDER:
            return RunOrder(req);
        case CTL_PROMPT:
        case CTL_HOLD:
        case CTL_INSTALL:
        case CTL_RELEASE:
        case CTL_CMD:
            return RunClientCommand(req);
        case CTL_CLIENT:
            return RunClient(req);
        case CTL_STATE:
            return RunState(req);
        case CTL_LOG:
            return RunLog(req);
        case CTL_WAIT_WINDOW:
            return RunWaitWindow(req, false);
        case CTL_WAIT_GONE:
            return RunWaitWindow(req, true);
        case CTL_QUIT:
            return RunQuit(req);
        }
        return CTL_EXIT_USAGE;
    } catch (...) {
        CtlError(L"out of memory");
        return CTL_EXIT_FAILURE;
    }
}
