// Rules for an upgrade order as it arrives, before the window acts on it. No
// window involved.
#pragma once

#include "upgrade/UpgradeProtocol.h"

// Whatever the sender wrote, every text field ends at its last unit.
void TerminateOrderFields(UPGRADE_COMM& stComm);

// The name of the first field the receiver reads (version, address, size,
// digest, type) that holds a control character, or null when none does. Such
// a text would break the state file's lines or the log's records.
LPCWSTR FindControlCharacterField(const UPGRADE_COMM& stComm);

// Whether two orders ask for the same thing: the same mode and the same
// version, address, size, digest and type. The file name and the reserved
// parts are not read, so they do not count.
bool IsSameOrder(const UPGRADE_COMM& stA, int nModeA, const UPGRADE_COMM& stB, int nModeB);
