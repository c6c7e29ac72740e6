// Drives a run whose windows cannot be known in advance: a fault pulled at
// an arbitrary point may give one box, three boxes, a save dialog or none.
//
// A helper thread waits for the run's dialog (by caption; none when the
// caption is empty), lets the test fill and press it once (`start`), and from then on closes everything else
// the process opens at once, recording what it saw. The run's dialog itself
// is cancelled once it is idle: alone, enabled and `idle()` true for a
// while, so that a dialog handed back for another attempt does not stay
// open with nobody to close it.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/UiDriver.h"

class DialogSweeper {
public:
    // Windows opened before the run's dialog, each answered once.
    using Answers = std::vector<std::pair<std::wstring, int>>;  // caption, button

    DialogSweeper(std::wstring caption, std::function<void(HWND)> start, std::function<bool()> idle = {},
                  Answers before = {});
    ~DialogSweeper();
    DialogSweeper(const DialogSweeper&) = delete;
    DialogSweeper& operator=(const DialogSweeper&) = delete;

    // Whether the run's dialog appeared and was started.
    bool Started();
    // Every other window closed so far, in order.
    std::vector<SeenWindow> Closed();
    // Whether any dialog or box of the process is still visible.
    static bool AnyDialogOpen();

private:
    void Run();
    HWND WaitForRunDialog();
    void CloseOthers(HWND runDialog);
    void CancelWhenIdle(HWND runDialog, ULONGLONG* idleSince);

    const std::wstring caption_;
    const std::function<void(HWND)> start_;
    const std::function<bool()> idle_;
    const Answers before_;
    std::mutex mutex_;
    std::vector<SeenWindow> closed_;
    std::vector<HWND> recorded_;
    std::atomic<bool> started_{false};
    std::atomic<bool> stopping_{false};
    WindowActivity activity_;  // the thread that made the sweeper runs the dialogs
    std::thread thread_;
};
