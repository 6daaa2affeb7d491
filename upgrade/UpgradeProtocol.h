// What passes between the client and the upgrade window: message numbers,
// the channel tag, the commands and the order record.
#pragma once

#include <windows.h>
#include <stddef.h>

#include "ui/DUIDefs.h"  // WM_DUI_CLICK

#define WM_MSG_UPGRADE_CMD (WM_USER + 256)
#define WM_MSG_NET_BREAK (WM_USER + 257)
#define WM_MSG_DOWNLOAD (WM_USER + 258)
#define WM_MSG_DOWNLOAD_OVER (WM_USER + 259)
#define WM_MSG_DOWNLOAD_FAIL (WM_USER + 260)

// Marks messages of this channel: high word of the order's dwData, low word
// of a command's lParam, lParam of WM_MSG_NET_BREAK.
#define UPGRADE_COMM_TAG 239

enum UpgradeCommand {
    UPGRADE_CMD_PROMPT = 100,
    UPGRADE_CMD_HOLD = 101,
    UPGRADE_CMD_INSTALL = 102,
    UPGRADE_CMD_RELEASE = 103,
};

#define UPGRADE_TEXT_CCH 260

// The upgrade order, 3642 bytes, as the client sends it.
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
static_assert(offsetof(UPGRADE_COMM, szVersion) == 1040, "order layout");
static_assert(offsetof(UPGRADE_COMM, szURL) == 1560, "order layout");
static_assert(offsetof(UPGRADE_COMM, szSize) == 2080, "order layout");
static_assert(offsetof(UPGRADE_COMM, szMD5) == 2600, "order layout");
static_assert(offsetof(UPGRADE_COMM, szUpgradeType) == 3120, "order layout");
static_assert(offsetof(UPGRADE_COMM, bReserved) == 3640, "order layout");
static_assert(sizeof(UPGRADE_COMM) == 3642, "order layout");

// The interactive upgrade type.
#define UPGRADE_TYPE_INTERACTIVE L"9434"
