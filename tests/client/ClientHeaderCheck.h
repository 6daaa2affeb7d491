/* What the C89 and the C++03 translation units of the client header check
 * give the test: the record's layout as each language sees it, and an order
 * sent by process id from each. */
#ifndef CLIENT_HEADER_CHECK_H
#define CLIENT_HEADER_CHECK_H

#include <windows.h>
#include <stddef.h>

#define CLIENT_HEADER_CHECK_URL L"http://127.0.0.1/DazuvuvevSetup_9.exe"

#ifdef __cplusplus
extern "C" {
#endif

/* Nine field offsets, then the record's size. */
void ClientHeaderC89Layout(size_t* pLayout);
void ClientHeaderCxx03Layout(size_t* pLayout);

/* SendUpgradeOrderToProcess with a fixed order (mode 1, type 9434, the URL
 * above, the version "c89" or "c++03"). */
BOOL ClientHeaderC89Send(DWORD dwProcessId, DWORD dwWaitMs, DWORD dwTimeoutMs, DWORD_PTR* pResult);
BOOL ClientHeaderCxx03Send(DWORD dwProcessId, DWORD dwWaitMs, DWORD dwTimeoutMs, DWORD_PTR* pResult);

#ifdef __cplusplus
}
#endif

#endif
