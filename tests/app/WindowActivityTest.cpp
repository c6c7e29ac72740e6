// The events the dialog driver wakes on (support/WindowActivity): each
// change a dialog goes through on the thread that made the watcher counts
// once it has happened, and nothing else wakes a waiter before its time.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <thread>

#include "support/WindowActivity.h"

namespace {

struct Change {
    const char* what;
    std::function<void(HWND)> make;
    bool visibleAfter;
    bool enabledAfter;
};

TEST(WindowActivityTest, EachChangeOfADialogCountsOnceItHasHappened) {
    WindowActivity watch;
    HWND dialog = CreateWindowExW(0, L"#32770", L"Watched", WS_POPUP | WS_CAPTION, 10, 10, 200, 100, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(dialog);
    const Change changes[] = {
        {"shown (without activation)", [](HWND w) { ShowWindow(w, SW_SHOWNOACTIVATE); }, true, true},
        {"disabled, as under a box", [](HWND w) { EnableWindow(w, FALSE); }, true, false},
        {"enabled again", [](HWND w) { EnableWindow(w, TRUE); }, true, true},
        {"hidden, as by EndDialog", [](HWND w) { ShowWindow(w, SW_HIDE); }, false, true},
    };
    for (const Change& change : changes) {
        const unsigned long before = WindowActivity::Events();
        change.make(dialog);
        EXPECT_NE(before, WindowActivity::Events()) << change.what;
        EXPECT_EQ(change.visibleAfter, IsWindowVisible(dialog) != FALSE) << change.what;
        EXPECT_EQ(change.enabledAfter, IsWindowEnabled(dialog) != FALSE) << change.what;
    }
    const unsigned long beforeDestroy = WindowActivity::Events();
    DestroyWindow(dialog);
    EXPECT_NE(beforeDestroy, WindowActivity::Events()) << "destroyed";
}

TEST(WindowActivityTest, AWaiterWakesOnANotificationAndOtherwiseOnItsTime) {
    const unsigned long start = WindowActivity::Events();
    // Real time is what this checks: a wait with no event lasts its timeout.
    const ULONGLONG before = GetTickCount64();
    EXPECT_EQ(start, WindowActivity::WaitAfter(start, 100));
    EXPECT_GE(GetTickCount64() - before, 80u) << "a wait with nothing to wake it";

    std::thread notifier([] { WindowActivity::Notify(); });
    const unsigned long woken = WindowActivity::WaitAfter(start, 10000);
    notifier.join();
    EXPECT_NE(start, woken) << "the notification ends the wait, not the timeout";
    EXPECT_EQ(woken, WindowActivity::WaitAfter(start, 10000)) << "an event already counted needs no wait";
}

}  // namespace
