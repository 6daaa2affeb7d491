// Building what the client sends to the upgrade companion: the order record
// carried by WM_COPYDATA and the words of the message.
#pragma once

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "include/DazuvuVevUpgradeClient.h"  // the record, the tag and the commands, as the companion reads them

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
inline ULONG_PTR MakeOrderDwData(uint16_t nTag, uint16_t nMode)
{
    return (static_cast<ULONG_PTR>(nTag) << 16) | nMode;
}

// The bytes actually sent: the record cut or zero-padded to cbData, so that a
// wrong size can be sent on purpose without reading past the record.
std::vector<BYTE> MakeOrderPayload(const UPGRADE_COMM& rec, size_t cbData);
