// What the client sends to the upgrade companion: the order record carried by
// WM_COPYDATA and the short commands of message WM_USER + 256. The companion
// reads the record byte for byte, so its layout is pinned down here.
#pragma once

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// The companion's window class, the tag of its channel and the running flag
// of the client.
extern const wchar_t kUpgradeWindowClass[];    // "#COMM_IN_UPGRADE"
extern const wchar_t kClientRunningMutex[];    // "$$$DAZUVUVEV_RUNNING_FLAG"

enum : uint16_t { UPGRADE_COMM_TAG = 239 };
enum : UINT { WM_MSG_UPGRADE_CMD = WM_USER + 256 };

enum UpgradeCommand : UINT {
    UPGRADE_CMD_PROMPT = 100,
    UPGRADE_CMD_HOLD = 101,
    UPGRADE_CMD_INSTALL = 102,
    UPGRADE_CMD_RELEASE = 103,
};

enum : size_t { UPGRADE_FIELD_CHARS = 260 };

#pragma pack(push, 1)
struct UPGRADE_COMM {
    wchar_t szFileName[UPGRADE_FIELD_CHARS];
    wchar_t szReserved[UPGRADE_FIELD_CHARS];
    wchar_t szVersion[UPGRADE_FIELD_CHARS];
    wchar_t szURL[UPGRADE_FIELD_CHARS];
    wchar_t szSize[UPGRADE_FIELD_CHARS];
    wchar_t szMD5[UPGRADE_FIELD_CHARS];
    wchar_t szUpgradeType[UPGRADE_FIELD_CHARS];
    uint8_t bReserved;
    uint8_t bPadding;
};
#pragma pack(pop)

static_assert(sizeof(wchar_t) == 2, "the record's text is UTF-16");
static_assert(offsetof(UPGRADE_COMM, szFileName) == 0, "record layout");
static_assert(offsetof(UPGRADE_COMM, szReserved) == 520, "record layout");
static_assert(offsetof(UPGRADE_COMM, szVersion) == 1040, "record layout");
static_assert(offsetof(UPGRADE_COMM, szURL) == 1560, "record layout");
static_assert(offsetof(UPGRADE_COMM, szSize) == 2080, "record layout");
static_assert(offsetof(UPGRADE_COMM, szMD5) == 2600, "record layout");
static_assert(offsetof(UPGRADE_COMM, szUpgradeType) == 3120, "record layout");
static_assert(offsetof(UPGRADE_COMM, bReserved) == 3640, "record layout");
static_assert(sizeof(UPGRADE_COMM) == 3642, "record layout");

enum : DWORD { UPGRADE_COMM_SIZE = sizeof(UPGRADE_COMM) };

// The texts of one order. szReserved is not read by the companion and is
// left empty.
struct UpgradeOrderFields {
    std::wstring strFileName;
    std::wstring strVersion;
    std::wstring strURL;
    std::wstring strSize;
    std::wstring strMD5;
    std::wstring strUpgradeType;
};

// Fills the record. A value must leave room for its terminator (at most 259
// units); with bAllowUnterminated a value of exactly 260 units fills its field
// with no terminator, which only a test of the receiver should want. False and
// a message naming the field when a value does not fit.
bool BuildUpgradeOrder(const UpgradeOrderFields& fields, bool bAllowUnterminated, UPGRADE_COMM& rec,
                       std::wstring& strError);

// dwData of the order: the tag in the high word, the mode in the low word.
inline ULONG_PTR MakeOrderDwData(uint16_t nTag, uint16_t nMode) {
    return (static_cast<ULONG_PTR>(nTag) << 16) | nMode;
}

// The bytes actually sent: the record cut or zero-padded to cbData, so that a
// wrong size can be sent on purpose without reading past the record.
std::vector<BYTE> MakeOrderPayload(const UPGRADE_COMM& rec, size_t cbData);

// The setup name a client puts into szFileName: the part of the address after
// its last "/" (the whole address when it has none).
std::wstring SetupNameFromURL(const std::wstring& strURL);
