// Drives the real dialogs and message boxes that the code under test opens.
//
// A helper thread watches for top-level dialog windows (class "#32770") of
// this process, woken as the windows of the thread that made the driver
// activate or go (WindowActivity). Each queued step waits for one, records what a user would
// see (caption, message text, owner), fills edits, runs an optional check
// and presses a button. Dialogs that appear when no step is queued are
// recorded as unexpected and closed, so a test never hangs on them.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/WindowActivity.h"

// What the driver saw of one dialog or message box.
struct SeenWindow {
    HWND window = nullptr;
    HWND owner = nullptr;
    std::wstring caption;
    std::wstring text;  // a message box's text (static control 0xFFFF)
    bool unexpected = false;
};

struct DialogStep {
    std::wstring caption;  // wait for a window with this caption; empty: any new window
    std::vector<std::pair<int, std::wstring>> edits;  // control ID, text to set
    std::function<void(HWND)> inspect;               // runs before the press
    int button = IDOK;                               // 0: press nothing
};

class UiDriver {
public:
    // `strayGraceMs`: how long a dialog nobody queued a step for stays open
    // before it is recorded as unexpected and closed, since a test may queue
    // its step just after the action that shows the dialog. A test that only
    // records reports (every box unexpected, no step) passes kNoGrace.
    static constexpr DWORD kNoGrace = 0;
    explicit UiDriver(DWORD stepTimeoutMs = 10000, DWORD strayGraceMs = 1500);
    ~UiDriver();
    UiDriver(const UiDriver&) = delete;
    UiDriver& operator=(const UiDriver&) = delete;

    // Queue: the next new dialog gets `button` pressed.
    UiDriver& Press(int button);
    // Queue: the dialog captioned `caption` gets its edits filled, then `button`.
    UiDriver& Fill(const std::wstring& caption, std::vector<std::pair<int, std::wstring>> edits,
                   int button = IDOK);
    UiDriver& Then(DialogStep step);

    // Waits until every queued step has run. False (with the reason) when a
    // step found no window in time.
    bool WaitDone(std::string* why = nullptr);

    std::vector<SeenWindow> Seen();        // windows handled by steps, in order
    std::vector<SeenWindow> Unexpected();  // windows closed because no step was queued
    size_t PendingSteps();

private:
    void Run();
    HWND FindCandidate(const DialogStep& step);
    void HandleStep(HWND window, const DialogStep& step);
    void DismissUnexpected(HWND window);
    void WaitUntilSettled(HWND window);

    WindowActivity activity_;  // the thread that made the driver shows the dialogs
    DWORD stepTimeoutMs_;
    DWORD strayGraceMs_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<DialogStep> steps_;
    size_t nextStep_ = 0;
    std::string failure_;
    std::vector<SeenWindow> seen_;
    std::vector<SeenWindow> unexpected_;
    std::vector<HWND> handled_;
    bool stopping_ = false;
    std::thread thread_;
};

// The visible dialogs and message boxes of this process (class "#32770").
std::vector<HWND> VisibleDialogs();
// Presses `button` of `window` as a click would (the press is posted).
void PressButton(HWND window, int button);
// Sets the text of each listed control of `dialog`.
void FillEdits(HWND dialog, const std::vector<std::pair<int, std::wstring>>& edits);

// Reads the recorded parts of `window` (caption, text, owner).
SeenWindow DescribeWindow(HWND window);

// Text of a control of a dialog (GetDlgItemText, sent across threads).
std::wstring ControlText(HWND dialog, int id);

std::string Narrow(const std::wstring& text);

// A step for the box or dialog captioned `caption`: `button` is pressed.
DialogStep Box(const std::wstring& caption, int button = IDOK);
// "[caption: text] [caption] ...": what the windows were, for a message.
std::string Captions(const std::vector<SeenWindow>& windows);
