// A clock for limits on how long something may take: milliseconds the
// machine has been awake. Sleep and hibernation do not count, so a laptop
// that sleeps through a download does not wake up to a spent limit.
#pragma once

#include <windows.h>

#include <realtimeapiset.h>

inline ULONGLONG AwakeTickMs()
{
    ULONGLONG ullUnbiased = 0;  // 100 ns units
    if (!::QueryUnbiasedInterruptTime(&ullUnbiased))
        return ::GetTickCount64();
    return ullUnbiased / 10000;
}

// Time passed from ullThen to ullNow on such a clock; a clock that went back
// counts as no time passed rather than as a spent limit.
inline ULONGLONG AwakeMsSince(ULONGLONG ullThen, ULONGLONG ullNow)
{
    return ullNow > ullThen ? ullNow - ullThen : 0;
}
