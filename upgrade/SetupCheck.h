// The three answers of a check that can refuse or sweep a setup, and the
// rules that turn what a check saw into one of them. No window involved.
//
// A check passed; found evidence against the file (bytes that differ from
// the order, a signature broken after signing, a configured pin that does
// not match); or could not be made (the file is in use or locked, a call
// failed, the state file cannot be read). Only evidence refuses a setup or
// sweeps it away. "Could not" is never "wrong": the window tries again from
// a timer within CCheckPatience's bound, keeps handling the client meanwhile,
// and when still undecided keeps every file for the next order and ends the
// run saying what could not be done. A safeguard the user configured that
// cannot be applied (a pin that cannot be read) refuses the start but keeps
// the file. An optional check with nothing configured (a signature without a
// pin) only informs.
//
// What these checks must never stop: a setup whose bytes match the order's
// digest, unless the user configured more. Updaters in the field lose their
// upgrades to scanners that hold a fresh setup for seconds, libraries that
// close their file late and machines that sleep, far more than to attackers.
#pragma once

#include <windows.h>

enum class CheckAnswer {
    Passed,
    Against,   // evidence against the file
    CouldNot,  // nothing was learnt; try again, and keep the file
};

// The network library's digest text, for a file of ullFileSize bytes,
// against the ordered MD5: Passed when it is the ordered digest in any
// letter case (case carries no meaning in hex); Against when it is another
// digest of 32 hex digits; CouldNot when it is no digest at all, or the
// digest of no bytes for a file that has some (what a library writes when
// it could not open the file).
CheckAnswer JudgeLibraryDigest(LPCWSTR pszLibrary, LPCWSTR pszOrdered, ULONGLONG ullFileSize);

// How long a check that could not be made is tried again: long enough for a
// scanner to read a large setup, short enough that the run still ends and
// says why. Measured on the awake clock (win/AwakeClock.h).
class CCheckPatience {
public:
    void Start(ULONGLONG ullNowMs, ULONGLONG ullLimitMs)
    {
        m_ullStartMs = ullNowMs;
        m_ullLimitMs = ullLimitMs;
    }
    bool IsSpent(ULONGLONG ullNowMs) const;
    ULONGLONG WaitedMs(ULONGLONG ullNowMs) const;

private:
    ULONGLONG m_ullStartMs = 0;
    ULONGLONG m_ullLimitMs = 0;
};

// The bound for the setup's checks (in use by a scanner, a library that
// closes its file late): 90 s; an environment value may only shorten it,
// never below 5 s.
ULONGLONG SetupCheckPatienceMs();
