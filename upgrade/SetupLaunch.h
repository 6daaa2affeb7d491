// Starting exactly the setup file that was verified. No window involved.
//
// A program is started by its path, and a path can lead elsewhere by the
// time the system opens it: whoever waits for the client's end can rename
// the upgrade folder in that moment and plant a program of its own under the
// setup's name (Windows refuses to rename a folder held open, Wine does not).
// So the setup is created suspended, the file its image came from is
// compared with the file held since the verification (volume and file
// index), and only then does it run; any other process is ended before it
// has run a single instruction. A setup that asks to be elevated can only be
// started through the shell, by its path alone: the path is checked to lead
// to the held file right before that start.
#pragma once

#include <windows.h>

#include "upgrade/SetupFileLock.h"

enum class SetupLaunch {
    Started,  // the verified file runs
    Refused,  // the path no longer leads to it, or another image was started (and ended)
    Failed,   // the system could not start it
};

// Starts the held setup with these parameters and logs the outcome. The
// lock stays held; the caller releases it once the outcome is known.
SetupLaunch LaunchHeldSetup(const CSetupFileLock& setup, LPCWSTR pszParameters);
