// Tells the helper threads that drive dialogs when something happened to the
// windows, as Wine's own user32 tests learn it: hooks on the thread that
// shows the dialogs see each window as it is activated, shown, hidden,
// enabled, disabled or destroyed (WH_CBT and WH_CALLWNDPROCRET). A dialog
// or box shows once it is initialised; when a box opens on top of it, the
// dialog is disabled; when it goes, it is hidden. A helper waits for the
// next such event instead of looking at the windows every few milliseconds.
#pragma once

#include <windows.h>

class WindowActivity {
public:
    // Watches the windows of `thread` (the calling thread by default) for as
    // long as the object lives.
    explicit WindowActivity(DWORD thread = GetCurrentThreadId());
    ~WindowActivity();
    WindowActivity(const WindowActivity&) = delete;
    WindowActivity& operator=(const WindowActivity&) = delete;

    // The count of events so far (every watched thread's, and Notify's).
    static unsigned long Events();
    // Waits until the count passes `seen` or `timeoutMs` elapses; returns the
    // count. Windows of threads nobody watches show up on the timeout only,
    // so callers pass the longest delay they accept for those.
    static unsigned long WaitAfter(unsigned long seen, DWORD timeoutMs);
    // Counts an event of the caller's own (new work queued, stopping).
    static void Notify();

private:
    HHOOK cbtHook_ = nullptr;
    HHOOK messageHook_ = nullptr;
};
