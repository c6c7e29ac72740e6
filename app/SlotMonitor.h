// Following token insertion and removal for the whole run.
#pragma once

#include <windows.h>

// Results of SlotMonitorThread, which returns only when it cannot wait.
enum SlotMonitorResult {
    kMonitorWaitNotSupported = 1,   // neither blocking nor polling waits work
    kMonitorPollingFailed = 2,      // the non-blocking wait failed
    kMonitorBlockingWaitFailed = 3, // the blocking wait failed
};

// Thread procedure without argument: waits for slot events and brings the
// token list, the panel, the session and the buttons up to date.
DWORD WINAPI SlotMonitorThread(LPVOID unused);

// Starts SlotMonitorThread (at the end of start-up).
void StartSlotMonitor();
