#include "app/Workers.h"

#include <new>

#include "app/AppState.h"
#include "app/TokenPanel.h"
#include "app/TokenSelection.h"
#include "cryptoki/ErrorReport.h"
#include "cryptoki/ModuleLoader.h"
#include "objects/ObjectListRows.h"

namespace {

// The worker that runs, as the window thread keeps it. `job` is the
// thread's argument; it lives until the end result has been applied.
struct RunningWorker {
    HANDLE thread = nullptr;
    std::unique_ptr<WorkerJob> job;
    HWND window = nullptr;
    bool busyEnded = false;   // the result ended Busy itself
    int openBoxes = 0;        // boxes of its mid-run results open now
    bool closeWaiting = false;  // the main window was closed while one was open
};

RunningWorker Running;

struct ThreadStart {
    WorkerJob* job;
    HWND window;
};

// The worker thread: the job, then its end result posted as its last act.
// A failed allocation ends the job; it is handed over as the run's ending,
// which needs no allocation of its own.
DWORD WINAPI RunWorkerThread(LPVOID parameter) {
    const std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
    std::unique_ptr<WorkerResult> result;
    WorkerEnding ending = kWorkerRanToItsEnd;
    try {
        result = start->job->Run(start->window);
    } catch (const std::bad_alloc&) {
        ending = kWorkerOutOfMemory;
    }
    if (PostMessageW(start->window, kWorkerEndedMessage, ending, reinterpret_cast<LPARAM>(result.get())))
        result.release();  // the window thread owns it now
    return 0;
}

// The thread is no longer the running one once it is waited for: a close
// that comes meanwhile (a message sent to the window) finds nothing to wait
// for.
void WaitForWorkerThread() {
    const HANDLE thread = Running.thread;
    Running.thread = nullptr;
    WaitAnsweringSentMessages(thread, INFINITE);
    CloseHandle(thread);
}

class EndOfRun : public WorkerEnd {
public:
    void EndBusy() override {
        AppState.Busy = false;
        Running.busyEnded = true;
        SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    }
};

// The controls a worker held disabled come back for the token selected now.
void RestoreControls() {
    RestoreButtonsFromSession();
    EnableWindow(AppState.TokenListView, TRUE);
}

}  // namespace

bool WaitAnsweringSentMessages(HANDLE thread, DWORD timeoutMs) {
    const ULONGLONG until = GetTickCount64() + timeoutMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const DWORD left = timeoutMs == INFINITE ? INFINITE : (now >= until ? 0 : static_cast<DWORD>(until - now));
        const DWORD woken = MsgWaitForMultipleObjects(1, &thread, FALSE, left, QS_SENDMESSAGE);
        if (woken == WAIT_OBJECT_0)
            return true;
        if (woken != WAIT_OBJECT_0 + 1)
            return false;
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

bool StartWorker(std::unique_ptr<WorkerJob> job, bool disableSessionControls) {
    if (AppState.Busy || AppState.ShuttingDown || !AppState.MainWindow || !job)
        return false;
    // Allocated before anything changes: a failed allocation leaves the
    // window as it was, not Busy for ever.
    std::unique_ptr<ThreadStart> start(new ThreadStart{job.get(), AppState.MainWindow});
    if (disableSessionControls) {
        EnableButtons(false);
        EnableWindow(AppState.TokenListView, FALSE);
    }
    AppState.Busy = true;
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    Running.job = std::move(job);
    Running.window = AppState.MainWindow;
    Running.busyEnded = false;
    Running.thread = CreateThread(nullptr, 0, RunWorkerThread, start.get(), 0, nullptr);
    if (Running.thread) {
        start.release();  // the thread's now
        return true;
    }
    // No thread: everything as it was before the command.
    Running.job.reset();
    AppState.Busy = false;
    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    if (disableSessionControls)
        RestoreControls();
    return false;
}

void OnWorkerEnded(std::unique_ptr<WorkerResult> result, WorkerEnding ending) {
    if (Running.thread)
        WaitForWorkerThread();  // it posted the result as its last act
    EndOfRun end;
    // The last rows of a listing show before whatever the result shows.
    ShowHeldObjectRows(AppState.ObjectListView);
    if (result) {
        if (AppState.ShuttingDown) {
            result->Abandon();
        } else {
            try {
                result->Apply(end);
            } catch (const std::bad_alloc&) {
                ending = kWorkerOutOfMemory;
            }
        }
    }
    if (!Running.busyEnded) {
        end.EndBusy();
        if (!AppState.ShuttingDown)
            RestoreControls();
    }
    Running = RunningWorker();
    if (ending == kWorkerOutOfMemory && !AppState.ShuttingDown)
        ShowOutOfMemory();
}

void RestoreButtonsFromSession() {
    const int slot = SelectedTokenSlot();
    CK_SESSION_INFO info = {};
    if (slot >= 0 && Cryptoki.FunctionList->C_GetSessionInfo(SessionTable[slot], &info) == CKR_OK) {
        UpdateButtonsForState(info.state);
        EnableWindow(AppState.ObjectListView, TRUE);
    }
}

bool StopWorkerAndWait() {
    if (!Running.thread)
        return true;  // none runs, or its end result is being applied
    // Stopped at once, also when the worker waits for a box of its own to be
    // answered: it stops right after that object.
    Running.job->RequestStop();
    if (Running.openBoxes > 0) {
        Running.closeWaiting = true;
        return false;
    }
    WaitForWorkerThread();
    // Its end result waits in the queue; it is abandoned here.
    MSG message;
    std::unique_ptr<WorkerResult> result;
    if (PeekMessageW(&message, Running.window, kWorkerEndedMessage, kWorkerEndedMessage, PM_REMOVE))
        result.reset(reinterpret_cast<WorkerResult*>(message.lParam));
    OnWorkerEnded(std::move(result));
    return true;
}

WorkerBoxScope::WorkerBoxScope() {
    ++Running.openBoxes;
}

WorkerBoxScope::~WorkerBoxScope() {
    // The close that waited for this box goes on once the worker has its answer.
    if (--Running.openBoxes == 0 && Running.closeWaiting && Running.window)
        PostMessageW(Running.window, WM_CLOSE, 0, 0);
}
