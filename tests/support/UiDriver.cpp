#include "support/UiDriver.h"

#include <algorithm>
#include <chrono>

namespace {

// The driver acts when a window of the thread that made it activates or goes
// (WindowActivity). Dialogs of other threads are seen on this backstop.
constexpr DWORD kBackstopMs = 50;
// The longest a press may leave its dialog as it was (open, enabled, no box
// on top) before the next step looks for its own window.
constexpr DWORD kSettleMs = 500;

bool IsDialogOfThisProcess(HWND window) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != GetCurrentProcessId())
        return false;
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    return wcscmp(className, L"#32770") == 0;
}

BOOL CALLBACK CollectDialog(HWND window, LPARAM param) {
    if (IsDialogOfThisProcess(window) && IsWindowVisible(window))
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

}  // namespace

std::vector<HWND> VisibleDialogs() {
    std::vector<HWND> windows;
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

namespace {

std::wstring WindowTextOf(HWND window) {
    wchar_t text[4096] = {};
    DWORD_PTR length = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text), SMTO_BLOCK,
                        2000, &length);
    return text;
}

}  // namespace

void PressButton(HWND window, int button) {
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, button)));
}

void FillEdits(HWND dialog, const std::vector<std::pair<int, std::wstring>>& edits) {
    for (const auto& edit : edits)
        SendMessageTimeoutW(GetDlgItem(dialog, edit.first), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(edit.second.c_str()),
                            SMTO_BLOCK, 2000, nullptr);
}

std::string Narrow(const std::wstring& text) {
    int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                     nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], length,
                        nullptr, nullptr);
    return out;
}

DialogStep Box(const std::wstring& caption, int button) {
    DialogStep step;
    step.caption = caption;
    step.button = button;
    return step;
}

std::string Captions(const std::vector<SeenWindow>& windows) {
    std::string captions;
    for (const SeenWindow& window : windows)
        captions += "[" + Narrow(window.caption) + (window.text.empty() ? "" : ": " + Narrow(window.text)) + "] ";
    return captions;
}

std::wstring ControlText(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control ? WindowTextOf(control) : std::wstring();
}

SeenWindow DescribeWindow(HWND window) {
    SeenWindow seen;
    seen.window = window;
    seen.owner = GetWindow(window, GW_OWNER);
    seen.caption = WindowTextOf(window);
    seen.text = ControlText(window, 0xFFFF);
    return seen;
}

UiDriver::UiDriver(DWORD stepTimeoutMs, DWORD strayGraceMs)
    : stepTimeoutMs_(stepTimeoutMs), strayGraceMs_(strayGraceMs) {
    thread_ = std::thread([this] { Run(); });
}

UiDriver::~UiDriver() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    WindowActivity::Notify();
    thread_.join();
}

UiDriver& UiDriver::Press(int button) {
    DialogStep step;
    step.button = button;
    return Then(std::move(step));
}

UiDriver& UiDriver::Fill(const std::wstring& caption,
                         std::vector<std::pair<int, std::wstring>> edits, int button) {
    DialogStep step;
    step.caption = caption;
    step.edits = std::move(edits);
    step.button = button;
    return Then(std::move(step));
}

UiDriver& UiDriver::Then(DialogStep step) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        steps_.push_back(std::move(step));
    }
    changed_.notify_all();
    WindowActivity::Notify();
    return *this;
}

bool UiDriver::WaitDone(std::string* why) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto limit = std::chrono::milliseconds(stepTimeoutMs_ + kSettleMs) *
                       (steps_.size() - std::min(nextStep_, steps_.size()) + 1);
    changed_.wait_for(lock, limit,
                      [this] { return nextStep_ >= steps_.size() || !failure_.empty(); });
    if (nextStep_ < steps_.size() && failure_.empty())
        failure_ = "step " + std::to_string(nextStep_ + 1) + " of " +
                   std::to_string(steps_.size()) + " did not run in time";
    if (why)
        *why = failure_;
    return failure_.empty();
}

std::vector<SeenWindow> UiDriver::Seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

std::vector<SeenWindow> UiDriver::Unexpected() {
    std::lock_guard<std::mutex> lock(mutex_);
    return unexpected_;
}

size_t UiDriver::PendingSteps() {
    std::lock_guard<std::mutex> lock(mutex_);
    return steps_.size() - nextStep_;
}

HWND UiDriver::FindCandidate(const DialogStep& step) {
    for (HWND window : VisibleDialogs()) {
        if (!IsWindowEnabled(window))
            continue;  // another dialog or box is on top of it
        const bool handled =
            std::find(handled_.begin(), handled_.end(), window) != handled_.end();
        if (step.caption.empty() ? !handled : WindowTextOf(window) == step.caption)
            return window;
    }
    return nullptr;
}

// After a press the window either goes away or stays (a wrong PIN, say) and
// usually opens a box on top; wait for one of those before the next step.
void UiDriver::WaitUntilSettled(HWND window) {
    const ULONGLONG until = GetTickCount64() + kSettleMs;
    for (;;) {
        const unsigned long events = WindowActivity::Events();
        if (!IsWindow(window) || !IsWindowVisible(window) || !IsWindowEnabled(window))
            return;
        const ULONGLONG now = GetTickCount64();
        if (now >= until)
            return;
        WindowActivity::WaitAfter(events, static_cast<DWORD>(std::min<ULONGLONG>(until - now, kBackstopMs)));
    }
}

void UiDriver::HandleStep(HWND window, const DialogStep& step) {
    FillEdits(window, step.edits);
    SeenWindow seen = DescribeWindow(window);
    if (step.inspect)
        step.inspect(window);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        seen_.push_back(seen);
        if (std::find(handled_.begin(), handled_.end(), window) == handled_.end())
            handled_.push_back(window);
    }
    if (step.button != 0) {
        PressButton(window, step.button);
        WaitUntilSettled(window);
    }
}

void UiDriver::DismissUnexpected(HWND window) {
    SeenWindow seen = DescribeWindow(window);
    seen.unexpected = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        unexpected_.push_back(seen);
        handled_.push_back(window);
    }
    // Whatever buttons it has, one of these closes it.
    for (int button : {IDCANCEL, IDNO, IDOK}) {
        if (!IsWindow(window) || !IsWindowVisible(window))
            break;
        PressButton(window, button);
        WaitUntilSettled(window);
    }
}

void UiDriver::Run() {
    ULONGLONG stepStarted = GetTickCount64();
    ULONGLONG idleSince = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        const unsigned long events = WindowActivity::Events();
        if (nextStep_ < steps_.size()) {
            const DialogStep step = steps_[nextStep_];
            lock.unlock();
            HWND window = FindCandidate(step);
            if (window)
                HandleStep(window, step);
            lock.lock();
            if (window) {
                ++nextStep_;
                stepStarted = GetTickCount64();
                changed_.notify_all();
            } else if (GetTickCount64() - stepStarted > stepTimeoutMs_ && failure_.empty()) {
                failure_ = "step " + std::to_string(nextStep_ + 1) + ": no dialog" +
                           (step.caption.empty() ? std::string()
                                                 : " \"" + Narrow(step.caption) + "\"") +
                           " appeared within " + std::to_string(stepTimeoutMs_) + " ms";
                // The rest of the steps are given up and every window still
                // open counts as unexpected: whatever the code under test
                // shows instead is closed, and the test goes on to report
                // instead of waiting on a dialog that nobody will close.
                nextStep_ = steps_.size();
                handled_.clear();
                changed_.notify_all();
            }
        } else {
            stepStarted = GetTickCount64();
            lock.unlock();
            DialogStep anyNew;
            HWND stray = FindCandidate(anyNew);
            if (!stray) {
                idleSince = 0;
            } else if (idleSince == 0) {
                idleSince = GetTickCount64();
            } else if (GetTickCount64() - idleSince >= strayGraceMs_) {
                DismissUnexpected(stray);
                idleSince = 0;
            }
            lock.lock();
        }
        if (stopping_)
            break;
        // Until a window activates or goes, a step is queued, or the time of a
        // step or of a stray's grace is up.
        lock.unlock();
        WindowActivity::WaitAfter(events, kBackstopMs);
        lock.lock();
    }
}
