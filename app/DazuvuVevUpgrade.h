// The application object: start-up, the newest-instance watch, the message
// loop and the shutdown of the upgrade companion.
#pragma once

#include "afx/afxwin.h"
#include "ui/DUIDefs.h"
#include "win/Handles.h"

#include <string>

class CUpgradeDlgDUI;

class CDazuvuVevUpgradeApp : public CWinApp {
public:
    CDazuvuVevUpgradeApp();

    BOOL InitInstance() override;
    int ExitInstance() override;

    std::wstring m_strProxyUser;
    std::wstring m_strProxyPassword;
    DWORD m_dwMainThreadId = 0;
    CKernelHandle m_netThread;
    IDUIRes* m_pDUIRes = nullptr;
    CUpgradeDlgDUI* m_pUpgradeDlg = nullptr;

private:
    void ShutDown();
};

extern CDazuvuVevUpgradeApp theApp;

// The word that marks an upgrade command line.
extern const wchar_t kUpgradeCommandWord[];

// Splits an upgrade command line into its two fields; false when the line is
// not an upgrade command. The fields are taken from the arguments after the
// program-name token, so a quoted or drive-qualified program path cannot
// leak into the user name; a line that starts with the command word and a
// colon has no program-name token. The user name runs from the first colon
// to the second, the password is the rest of the line (colons included).
bool ParseUpgradeCommandLine(LPCWSTR pszCommandLine, std::wstring& strUser, std::wstring& strPassword);
// The part of a command line after its program-name token, split the way
// Windows splits the first argument.
LPCWSTR SkipProgramName(LPCWSTR pszCommandLine);
// The arguments of a command line: the whole line when it starts with the
// command word and a colon, else what follows the program-name token.
LPCWSTR UpgradeArguments(LPCWSTR pszCommandLine);
