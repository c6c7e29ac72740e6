#include "support/DialogSweeper.h"

#include <algorithm>

namespace {

// The sweeper acts when a window of its thread activates or goes
// (WindowActivity); dialogs of other threads are seen on this backstop.
constexpr DWORD kBackstopMs = 50;
// The longest a press may take to show (its box going) before the next.
constexpr DWORD kPressMs = 50;
// How long the run's dialog must stay alone, enabled and idle before it is
// cancelled. Whether a handler still runs is asked of its thread (WM_NULL)
// just before the cancel, so this only has to outlast a press in flight.
constexpr ULONGLONG kIdleBeforeCancelMs = 100;
constexpr ULONGLONG kStartTimeoutMs = 10000;

bool OnlyOpen(HWND window) {
    const std::vector<HWND> open = VisibleDialogs();
    return open.size() == 1 && open[0] == window;
}

bool Responsive(HWND window) {
    DWORD_PTR unused = 0;
    return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, 100, &unused) != 0;
}

}  // namespace

DialogSweeper::DialogSweeper(std::wstring caption, std::function<void(HWND)> start, std::function<bool()> idle,
                             Answers before)
    : caption_(std::move(caption)), start_(std::move(start)), idle_(std::move(idle)), before_(std::move(before)) {
    thread_ = std::thread([this] { Run(); });
}

DialogSweeper::~DialogSweeper() {
    stopping_ = true;
    WindowActivity::Notify();
    thread_.join();
}

bool DialogSweeper::Started() {
    return started_;
}

std::vector<SeenWindow> DialogSweeper::Closed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
}

bool DialogSweeper::AnyDialogOpen() {
    return !VisibleDialogs().empty();
}

// The run's dialog once it is up and enabled; the windows before it that
// the test named are answered on the way. Null after the time limit.
HWND DialogSweeper::WaitForRunDialog() {
    std::vector<HWND> answered;
    const ULONGLONG limit = GetTickCount64() + kStartTimeoutMs;
    while (!stopping_ && GetTickCount64() < limit) {
        const unsigned long events = WindowActivity::Events();
        for (HWND window : VisibleDialogs()) {
            if (!IsWindowEnabled(window))
                continue;
            const std::wstring caption = DescribeWindow(window).caption;
            if (caption == caption_)
                return window;
            for (const auto& answer : before_) {
                if (answer.first == caption && std::find(answered.begin(), answered.end(), window) == answered.end()) {
                    answered.push_back(window);
                    PressButton(window, answer.second);
                }
            }
        }
        WindowActivity::WaitAfter(events, kBackstopMs);
    }
    return nullptr;
}

void DialogSweeper::Run() {
    HWND runDialog = caption_.empty() ? nullptr : WaitForRunDialog();
    if (runDialog) {
        start_(runDialog);
        started_ = true;
    }
    ULONGLONG idleSince = 0;
    while (!stopping_) {
        const unsigned long events = WindowActivity::Events();
        CloseOthers(runDialog);
        CancelWhenIdle(runDialog, &idleSince);
        // The idle dialog's cancel needs real time to pass: the backstop
        // bounds the wait while nothing happens to the windows.
        WindowActivity::WaitAfter(events, kBackstopMs);
    }
}

// Each window other than the run's dialog is recorded once and pressed
// until it goes: Cancel, No, OK, whichever it has.
void DialogSweeper::CloseOthers(HWND runDialog) {
    static const int kButtons[] = {IDCANCEL, IDNO, IDOK};
    for (HWND window : VisibleDialogs()) {
        if (window == runDialog)
            continue;
        size_t presses = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            presses = static_cast<size_t>(std::count(recorded_.begin(), recorded_.end(), window));
            if (presses == 0)
                closed_.push_back(DescribeWindow(window));
            recorded_.push_back(window);
        }
        const unsigned long events = WindowActivity::Events();
        PressButton(window, kButtons[presses % 3]);
        WindowActivity::WaitAfter(events, kPressMs);
    }
}

void DialogSweeper::CancelWhenIdle(HWND runDialog, ULONGLONG* idleSince) {
    if (!runDialog || !IsWindow(runDialog))
        return;
    if (!OnlyOpen(runDialog) || !IsWindowEnabled(runDialog) || (idle_ && !idle_())) {
        *idleSince = 0;
        return;
    }
    const ULONGLONG now = GetTickCount64();
    if (*idleSince == 0) {
        *idleSince = now;
    } else if (now - *idleSince >= kIdleBeforeCancelMs && Responsive(runDialog) && OnlyOpen(runDialog)) {
        // Its thread answers and shows nothing else: the press lands in
        // the dialog's own loop, not in a box's loop within a handler.
        PressButton(runDialog, IDCANCEL);
        *idleSince = 0;
    }
}
