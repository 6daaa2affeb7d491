// What passes between the client and the upgrade window: the public part
// (order record, commands, tag, window class) from the client header, and
// the window's private messages.
#pragma once

#include <windows.h>
#include <stddef.h>

#include "include/DazuvuVevUpgradeClient.h"
#include "ui/DUIDefs.h"  // WM_DUI_CLICK

// WM_MSG_NET_BREAK carries UPGRADE_COMM_TAG as its lParam, like a command.
#define WM_MSG_NET_BREAK (WM_USER + 257)
#define WM_MSG_DOWNLOAD (WM_USER + 258)
#define WM_MSG_DOWNLOAD_OVER (WM_USER + 259)
#define WM_MSG_DOWNLOAD_FAIL (WM_USER + 260)
// Posted by the window to itself: the hand-off asks the client to close
// once the client's own send has been answered.
#define WM_MSG_CLOSE_CLIENT (WM_USER + 261)
