// Entry point of every test executable: no crash dialogs, the version 6
// common controls, and a watchdog that ends a test that hangs (CI has nobody
// to close a forgotten dialog).
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "support/TestProgress.h"

namespace {

class Watchdog : public testing::EmptyTestEventListener {
public:
    explicit Watchdog(std::chrono::seconds limit) : limit_(limit) {
        std::thread([this] { Run(); }).detach();
    }

    void OnTestStart(const testing::TestInfo& info) override {
        std::lock_guard<std::mutex> lock(mutex_);
        name_ = std::string(info.test_suite_name()) + "." + info.name();
        deadline_ = std::chrono::steady_clock::now() + limit_;
        armed_ = true;
        wake_.notify_all();
    }

    void OnTestEnd(const testing::TestInfo&) override {
        std::lock_guard<std::mutex> lock(mutex_);
        armed_ = false;
    }

    void Progress() {
        std::lock_guard<std::mutex> lock(mutex_);
        deadline_ = std::chrono::steady_clock::now() + limit_;
    }

private:
    void Run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (!armed_) {
                wake_.wait(lock);
                continue;
            }
            if (wake_.wait_until(lock, deadline_) == std::cv_status::timeout && armed_ &&
                std::chrono::steady_clock::now() >= deadline_) {
                fprintf(stderr, "\nTIMEOUT: %s ran longer than %lld s\n", name_.c_str(),
                        static_cast<long long>(limit_.count()));
                fflush(stderr);
                TerminateProcess(GetCurrentProcess(), 99);
            }
        }
    }

    std::chrono::seconds limit_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::string name_;
    std::chrono::steady_clock::time_point deadline_;
    bool armed_ = false;
};

std::chrono::seconds TestTimeLimit() {
    char value[32];
    DWORD length = GetEnvironmentVariableA("TM_TEST_TIMEOUT", value, sizeof value);
    if (length > 0 && length < sizeof value && atoi(value) > 0)
        return std::chrono::seconds(atoi(value));
    return std::chrono::seconds(60);
}

Watchdog* watchdog = nullptr;

}  // namespace

void TestMadeProgress() {
    if (watchdog)
        watchdog->Progress();
}

int main(int argc, char** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_COOL_CLASSES |
                                                          ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);

    testing::InitGoogleTest(&argc, argv);
    watchdog = new Watchdog(TestTimeLimit());
    testing::UnitTest::GetInstance()->listeners().Append(watchdog);
    return RUN_ALL_TESTS();
}
