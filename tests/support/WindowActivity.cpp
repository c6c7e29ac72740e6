#include "support/WindowActivity.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

std::mutex activityMutex;
std::condition_variable activityChanged;
unsigned long activityEvents = 0;

// Activation and destruction, as the window manager decides them. A
// message box is activated before it shows, so its showing is counted too.
LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE || code == HCBT_DESTROYWND)
        WindowActivity::Notify();
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// A window shown or hidden (once its procedure has handled the change, so
// that it is visible to whoever wakes), and one enabled or disabled, as a
// dialog is while a box stands on top of it.
LRESULT CALLBACK AfterMessageHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const CWPRETSTRUCT* message = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
        const bool shownOrHidden =
            message->message == WM_WINDOWPOSCHANGED &&
            (reinterpret_cast<const WINDOWPOS*>(message->lParam)->flags & (SWP_SHOWWINDOW | SWP_HIDEWINDOW)) != 0;
        if (shownOrHidden || message->message == WM_ENABLE)
            WindowActivity::Notify();
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

WindowActivity::WindowActivity(DWORD thread) {
    cbtHook_ = SetWindowsHookExW(WH_CBT, CbtHook, nullptr, thread);
    messageHook_ = SetWindowsHookExW(WH_CALLWNDPROCRET, AfterMessageHook, nullptr, thread);
}

WindowActivity::~WindowActivity() {
    if (messageHook_)
        UnhookWindowsHookEx(messageHook_);
    if (cbtHook_)
        UnhookWindowsHookEx(cbtHook_);
}

unsigned long WindowActivity::Events() {
    std::lock_guard<std::mutex> lock(activityMutex);
    return activityEvents;
}

unsigned long WindowActivity::WaitAfter(unsigned long seen, DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(activityMutex);
    activityChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [seen] { return activityEvents != seen; });
    return activityEvents;
}

void WindowActivity::Notify() {
    {
        std::lock_guard<std::mutex> lock(activityMutex);
        ++activityEvents;
    }
    activityChanged.notify_all();
}
