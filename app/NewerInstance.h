// Whether the shared instance slot names a newer instance that must end this
// one. No window involved.
//
// The slot lives in a shared section of the executable's image, and every
// process that maps the file shares it: another user's companion on a
// terminal server, and equally any program that loads the file only to
// write a number there. So the slot is a hint, never an order: the process
// it names ends this one only when it is, or just was, a start of this very
// executable file, in this session, made after this one. A newer start that
// has already ended again (a bare start without a valid command line lives
// for about 50 ms) still counts; anything else is ignored.
#pragma once

#include <windows.h>

#include "win/FileIdentity.h"

struct INSTANCE_FACTS {
    DWORD dwSession;
    FILE_IDENTITY image;   // the file the process was started from
    ULONGLONG ullStarted;  // creation time, 100 ns units
};
// The facts of a process; false when they cannot all be told (no such
// process any more, access refused).
typedef bool (*PFN_INSTANCE_FACTS)(DWORD dwPid, INSTANCE_FACTS* pFacts);
bool InstanceFactsOf(DWORD dwPid, INSTANCE_FACTS* pFacts);

// True when dwSlotPid is a newer instance of the process described by own;
// otherwise *ppszWhyNot (when given) says why not, for the log.
bool IsNewerInstance(DWORD dwSlotPid, DWORD dwOwnPid, const INSTANCE_FACTS& own, PFN_INSTANCE_FACTS pfnFactsOf,
                     LPCWSTR* ppszWhyNot);
