// The window thread's side of the workers (objects/Worker.h): one worker at
// a time, started for a command, its results carried out when they arrive,
// and waited for when the program closes. Busy is set from the start until
// the end result is applied.
#pragma once

#include <windows.h>

#include <memory>

#include "objects/Worker.h"

// Starts `job` for the main window; see WorkerHost::StartWorker.
bool StartWorker(std::unique_ptr<WorkerJob> job, bool disableSessionControls);

// kWorkerEndedMessage: waits for the worker's thread to end, applies the
// result (or abandons it while the program closes), clears Busy and brings
// the buttons back. A run or an application of its result that failed to
// allocate is reported last, once the window is usable again.
void OnWorkerEnded(std::unique_ptr<WorkerResult> result, WorkerEnding ending = kWorkerRanToItsEnd);

// The buttons follow the session of the token selected now, and the object
// list is enabled, when that session can be read; with no token selected
// the buttons stay disabled.
void RestoreButtonsFromSession();

// The close of the main window: asks the running worker to stop and waits
// for it, answering what it sends meanwhile (results are dropped while the
// program closes), then abandons its end result. False when the worker is
// waiting for the window thread itself (a box of the worker's is open on
// it): the close is carried out again once that box is answered.
bool StopWorkerAndWait();

// Waits for `thread` to end, at most `timeoutMs`, answering the messages
// other threads send to this one meanwhile, so that a thread that waits
// for this one in SendMessage is never waited for in turn. False on time-out.
bool WaitAnsweringSentMessages(HANDLE thread, DWORD timeoutMs);

// Mid-run results of a worker that the window thread shows in a box: the
// worker waits for the answer, so the close waits for the box.
class WorkerBoxScope {
public:
    WorkerBoxScope();
    ~WorkerBoxScope();
    WorkerBoxScope(const WorkerBoxScope&) = delete;
    WorkerBoxScope& operator=(const WorkerBoxScope&) = delete;
};
