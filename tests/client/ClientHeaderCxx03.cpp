// The client header as a C++03 client sees it; compiled with -std=c++03
// -pedantic -Werror.
#include "include/DazuvuVevUpgradeClient.h"
#include "tests/client/ClientHeaderCheck.h"

#include <string.h>

void ClientHeaderCxx03Layout(size_t* pLayout)
{
    pLayout[0] = offsetof(UPGRADE_COMM, szFileName);
    pLayout[1] = offsetof(UPGRADE_COMM, szReserved);
    pLayout[2] = offsetof(UPGRADE_COMM, szVersion);
    pLayout[3] = offsetof(UPGRADE_COMM, szURL);
    pLayout[4] = offsetof(UPGRADE_COMM, szSize);
    pLayout[5] = offsetof(UPGRADE_COMM, szMD5);
    pLayout[6] = offsetof(UPGRADE_COMM, szUpgradeType);
    pLayout[7] = offsetof(UPGRADE_COMM, bReserved);
    pLayout[8] = offsetof(UPGRADE_COMM, bPadding);
    pLayout[9] = UPGRADE_COMM_SIZE;
}

BOOL ClientHeaderCxx03Send(DWORD dwProcessId, DWORD dwWaitMs, DWORD dwTimeoutMs, DWORD_PTR* pResult)
{
    UPGRADE_COMM order = {};
    wcscpy(order.szURL, CLIENT_HEADER_CHECK_URL);
    wcscpy(order.szVersion, L"c++03");
    wcscpy(order.szUpgradeType, UPGRADE_TYPE_INTERACTIVE);
    return SendUpgradeOrderToProcess(dwProcessId, &order, UPGRADE_MODE_COMMANDS, dwWaitMs, dwTimeoutMs, pResult);
}
