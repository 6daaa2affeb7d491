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
//
// A fact of this process that cannot be told (a locked-down process or
// image folder) is left out of the comparison rather than ending the watch:
// two companions side by side would both answer the client. What this
// process knows of itself must be known of the other too, and which program
// runs must be known on both sides, or the other one is ignored.
#pragma once

#include <windows.h>

#include <string>

#include "win/FileIdentity.h"

// Which of the facts could be told.
enum : DWORD {
    INSTANCE_FACT_SESSION = 0x1,
    INSTANCE_FACT_IMAGE = 0x2,       // the image file's identity
    INSTANCE_FACT_IMAGE_PATH = 0x4,  // the path it was started from
    INSTANCE_FACT_STARTED = 0x8,
};
const DWORD kAllInstanceFacts = 0xF;
// The facts missing from dwKnown, for the log: "session, start time".
std::wstring UnknownInstanceFactsText(DWORD dwKnown);

struct INSTANCE_FACTS {
    DWORD dwKnown;  // INSTANCE_FACT_* of the fields below that hold a fact
    DWORD dwSession;
    FILE_IDENTITY image;  // the file the process was started from
    std::wstring strImagePath;
    ULONGLONG ullStarted;  // creation time, 100 ns units
};
// The facts of another process that can be told; false when it cannot be
// examined at all (no such process any more, access refused).
typedef bool (*PFN_INSTANCE_FACTS)(DWORD dwPid, INSTANCE_FACTS* pFacts);
bool InstanceFactsOf(DWORD dwPid, INSTANCE_FACTS* pFacts);
// This process's own facts, asked through its own handle, which no
// security setting can close to it.
void OwnInstanceFacts(INSTANCE_FACTS* pFacts);

// True when dwSlotPid is a newer instance of the process described by own;
// otherwise *ppszWhyNot (when given) says why not, for the log.
bool IsNewerInstance(DWORD dwSlotPid, DWORD dwOwnPid, const INSTANCE_FACTS& own, PFN_INSTANCE_FACTS pfnFactsOf,
                     LPCWSTR* ppszWhyNot);
