// Following token insertion and removal for the whole run. The monitor
// thread only waits for slot events; it hands each event, and a failure of
// its waiting, to the window thread as a window message, and the window
// thread carries out the steps (app/SlotEvents.cpp).
#pragma once

#include <windows.h>

#include "cryptoki/Cryptoki.h"

// Results of SlotMonitorThread, which returns when it cannot wait, or with
// 0 once it is asked to stop.
enum SlotMonitorResult {
    kMonitorStopped = 0,
    kMonitorWaitNotSupported = 1,   // neither blocking nor polling waits work
    kMonitorPollingFailed = 2,      // the non-blocking wait failed
    kMonitorBlockingWaitFailed = 3, // the blocking wait failed
};

// The messages the monitor sends the main window. The main window's
// procedure names every message it takes in one switch, so a number given
// twice does not compile.
enum SlotMonitorMessage : UINT {
    kSlotEventMessage = WM_APP + 16,          // wParam: the slot of an event
    kSlotMonitorFailedMessage = WM_APP + 17,  // lParam: const SlotMonitorFailure*
};

// A waiting failure, reported on the window thread before the monitor ends.
struct SlotMonitorFailure {
    CK_RV rv;
    const wchar_t* context;
};

// Thread procedure; its argument is the window the events go to. Waits for
// slot events until it cannot wait or is asked to stop.
DWORD WINAPI SlotMonitorThread(LPVOID window);

// Starts SlotMonitorThread for `window` (at the end of start-up). False
// when the thread cannot start, or a monitor that was not waited for runs.
bool StartSlotMonitor(HWND window);
// Asks the monitor to stop (the window is closing). It stops at its next
// wake: a blocking wait wakes when the module is finalised. A wait that
// fails from then on ends it without a report.
void RequestSlotMonitorStop();
// Waits for the monitor thread to end, at most `timeoutMs`, answering what
// it sends meanwhile; its result in `result` (when given). False when it
// did not end in time. Without a monitor, true at once.
bool WaitForSlotMonitor(DWORD timeoutMs, DWORD* result = nullptr);

// On the window thread: the steps of an event for `slot` (a token put in or
// taken out), and the report of a waiting failure.
void OnSlotEvent(CK_SLOT_ID slot);
void OnSlotMonitorFailed(const SlotMonitorFailure& failure);
