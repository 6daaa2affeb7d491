// How a run of the companion ended, in one word for the client and support:
// written to the state file before every end of the process, and named in
// the log's last record of the run. No window involved.
#pragma once

#include <windows.h>

#include <string>

enum class UpgradeResult {
    SetupStarted,    // the setup program was started
    UserDeclined,    // the user declined the install prompt, or asked not to be reminded
    Hidden,          // verified while nobody watched; the setup waits for the next order
    ReadyWaiting,    // the client released a finished download, or held it, without installing
    HeldWaiting,     // the client held the installation and has exited
    DownloadFailed,  // the transfer failed, old setups could not be swept, or the setup could not be started
    DigestMismatch,  // the setup failed its digest check and was swept
    NetworkLost,     // the network was lost during the download
    Refused,         // the order or the companion's own folder was unusable, or the setup's path led elsewhere
    Superseded,      // a newer companion started
    SignatureRefused,  // the setup's signature was refused (changed after signing, or not the pinned signer's)
    CouldNotCheck,     // a check could not be made in time (the setup or the state file stayed in use); all kept
    StartFailed,       // the client was closed but the verified setup could not be started; it is kept
};

// "setup-started", "user-declined", ...
LPCWSTR UpgradeResultWord(UpgradeResult result);
// The severity of the run's last record: information for the endings the
// user or the client chose, a warning for a refusal, an error for a lost upgrade.
int UpgradeResultSeverity(UpgradeResult result);
// Local time in the ISO form "YYYY-MM-DDTHH:MM:SS".
std::wstring ResultTimeText(const SYSTEMTIME& st);

// A run's end is recorded once, by whichever comes first: the upgrade
// window's own end, or the instance watch when a newer instance ends this
// one. True for the first caller of the process only.
bool ClaimRunEnd();
// The state file the end is recorded in, for the instance watch; null until
// the upgrade window has prepared it. Set once, by the window's thread.
void SetRunStateFile(LPCWSTR pszIniPath);
LPCWSTR RunStateFile();
