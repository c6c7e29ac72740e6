// Work that runs off the window thread (the object listing, the deletion,
// the CSR run) and how its results come back.
//
// A worker is handed what it needs when it starts (slot, session handle,
// the object list's generation) and makes Cryptoki calls; it touches no
// window and no state of the window thread. What the window must show, it
// sends there as a typed result in a window message: results in the middle
// of a run with SendMessage, lent for the call (the worker waits until the
// window thread has carried them out, and learns whether they still
// mattered); its end result with PostMessage as its last act, owned by the
// receiver from then on.
//
// The window thread (app/Workers.cpp) runs one worker at a time, keeps its
// thread handle and waits for it: when its end result arrives, and when the
// program closes, after asking it to stop.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>

// The messages that carry the workers' results to the main window. The
// main window's procedure names every message it takes in one switch, so a
// number given twice does not compile.
enum WorkerMessage : UINT {
    kWorkerEndedMessage = WM_APP + 1,    // wParam: WorkerEnding; lParam: WorkerResult*, owned by the receiver
    kObjectRowsMessage = WM_APP + 2,     // lParam: const ObjectRowBatch*; answers 1 when the rows went in
    kListingNoticeMessage = WM_APP + 3,  // lParam: const wchar_t*, a box the listing shows
    kObjectRefusedMessage = WM_APP + 4,  // lParam: const ObjectRefusal*
    kDeletionDoneMessage = WM_APP + 5,   // lParam: ListingRestart*, filled by the receiver
};

// How a worker's run ended, the wParam of kWorkerEndedMessage.
enum WorkerEnding : WPARAM {
    kWorkerRanToItsEnd = 0,
    // An allocation failed in the job: no result; the window thread reports
    // it ("Error in allocating memory") like any other outcome.
    kWorkerOutOfMemory = 1,
};

// What a worker's end result may ask of the window thread while it is
// applied.
class WorkerEnd {
public:
    // Busy cleared and the arrow cursor back, before the result's own steps
    // go on (the CSR run's order). A result that ends Busy itself also
    // brings the buttons back itself; for every other result the window
    // thread does both once the result is applied.
    virtual void EndBusy() = 0;

protected:
    ~WorkerEnd() = default;
};

// A worker's end result, applied on the window thread once the worker's
// thread has ended, while Busy is still set.
class WorkerResult {
public:
    virtual ~WorkerResult() = default;
    // Shows what the run has to show, in the order of the run's steps.
    virtual void Apply(WorkerEnd& end) = 0;
    // The program closes: no message, no dialog; only what may not be left
    // undone.
    virtual void Abandon() {}
};

// The work of one worker thread.
class WorkerJob {
public:
    virtual ~WorkerJob() = default;
    // On the worker thread; results go to `window` (the main window).
    virtual std::unique_ptr<WorkerResult> Run(HWND window) = 0;

    // Asked by the window thread when the program closes; the work stops
    // at its next check.
    void RequestStop() { stop_ = true; }
    bool StopRequested() const { return stop_; }

private:
    std::atomic<bool> stop_{false};
};

// The window that runs the workers, implemented by the main window
// (app/Workers.cpp) and handed to the commands that start one.
class WorkerHost {
public:
    // Starts `job` on a worker thread, sets Busy and shows the wait cursor;
    // with `disableSessionControls` the buttons and the token list are
    // disabled until the end result arrives. False, with nothing changed,
    // when a worker runs already or no thread can be started.
    virtual bool StartWorker(std::unique_ptr<WorkerJob> job, bool disableSessionControls) = 0;

protected:
    ~WorkerHost() = default;
};
