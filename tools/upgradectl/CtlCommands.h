// The subcommands of the console tool; each returns a CtlExitCode.
#pragma once

#include "tools/upgradectl/CtlOptions.h"

int RunOrder(const CtlRequest& req);
int RunClientCommand(const CtlRequest& req);
int RunClient(const CtlRequest& req);
int RunState(const CtlRequest& req);
int RunLog(const CtlRequest& req);
int RunWaitWindow(const CtlRequest& req, bool bGone);
// Ends the companion's message loop as if it had finished its work.
int RunQuit(const CtlRequest& req);
