// Whether the client has exited, told by its running flag. No window
// involved.
//
// A held installation waits for the client to exit, and only its exit
// may end the run. The flag is asked for SYNCHRONIZE only, the least any
// holder grants: a client at another integrity level, or one that grants
// everyone no more, refuses full access while it runs. So only "no such
// object" means the client is gone; a refusal, or any other failure, means
// it could not be told, and the wait goes on.
#pragma once

#include <windows.h>

bool HasClientExited(LPCWSTR pszRunningFlag);
