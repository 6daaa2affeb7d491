// The watch on a network library that stops reporting. No window involved.
//
// A library that never sends its final record must not hold the upgrade,
// and every later order, for ever; yet a slow link, or a laptop that sleeps
// through the download, must not end a good one. So the silence is measured
// on the awake clock (win/AwakeClock.h), and only a record that shows the
// transfer moving refreshes it: one whose amount done is larger than the
// record before, or a final record. A library that repeats the same counts,
// or any other program posting a record, does not keep a dead transfer alive.
#pragma once

#include <windows.h>

#include "netlib/DownloadRecord.h"

class CRecordSilence {
public:
    void Start(ULONGLONG ullNowMs, ULONGLONG ullLimitMs);
    // True when the record refreshed the watch.
    bool OnRecord(const DOWNLOAD_PROGRESS& record, int nTotalSize, ULONGLONG ullNowMs);
    bool IsSilent(ULONGLONG ullNowMs) const;
    ULONGLONG LimitMs() const { return m_ullLimitMs; }

private:
    ULONGLONG m_ullLastMs = 0;
    ULONGLONG m_ullLimitMs = 0;
    bool m_bCounted = false;
    long long m_llLastDone = 0;
};
