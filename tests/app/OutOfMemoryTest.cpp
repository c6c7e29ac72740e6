// A full heap at any allocation of a command, a slot event or a worker: the
// failure is reported ("Error in allocating memory") and never escapes, and
// the window stays usable (not Busy, its buttons back for the token).
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/ControlIds.h"
#include "app/SlotMonitor.h"
#include "app/TokenPanel.h"
#include "app/Workers.h"
#include "res/resource.h"
#include "support/FailingAllocation.h"
#include "support/MainWindowFixture.h"
#include "support/TestFiles.h"
#include "support/TokenStore.h"
#include "support/UiDriver.h"

namespace {

const wchar_t kNoMemoryText[] = L"Error in allocating memory";
// Longer than a string keeps in itself: showing it allocates.
const char kLabel[] = "Heap of tokens";
// Allocations tried in turn for each command; the commands of this table
// make fewer before they end or wait for the user.
constexpr long kMostAllocations = 40;
constexpr int kFileNameBox = 1148;  // the open-file dialog's "File name" box

bool SawNoMemoryBox(UiDriver& ui) {
    for (const SeenWindow& seen : ui.Unexpected())
        if (seen.text == kNoMemoryText)
            return true;
    return false;
}

class OutOfMemoryTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(window_.AddToken(0, kLabel, "1"));
        ASSERT_EQ(0, window_.Start(true));
    }

    // Fails allocation n = 1, 2, ... of `act` on this (the window's) thread
    // until `act` runs through without reaching allocation n. Each failure
    // must be reported and leave the window usable; returns how many failed.
    // `steps` answer the dialogs the command opens; every other dialog and
    // box is closed.
    long SweepAllocations(const char* what, const std::function<void()>& act,
                          const std::vector<DialogStep>& steps = {}) {
        long failures = 0;
        for (long n = 1; n <= kMostAllocations; ++n) {
            UiDriver ui(2000, UiDriver::kNoGrace);
            for (const DialogStep& step : steps)
                ui.Then(step);
            bool failed = false;
            {
                FailingAllocation failing(n);
                act();
                failed = failing.Failed();
            }
            EXPECT_TRUE(window_.PumpUntil([] { return !AppState.Busy; })) << what << ", allocation " << n;
            window_.PumpUntil([&] { return failed ? SawNoMemoryBox(ui) : true; }, 3000);
            if (!failed)
                return failures;
            ++failures;
            EXPECT_TRUE(SawNoMemoryBox(ui)) << what << ": allocation " << n << " failed without a report";
            EXPECT_TRUE(IsWindow(window_.Window())) << what;
        }
        return failures;
    }

    MainWindowFixture window_;
};

// What allocates on the window thread: a login the token refuses (the
// report's text is made in the dialog's OK handler, inside the dialog
// manager's loop), the listing command (its job), a certificate import and a
// slot event (the label shown). The other commands allocate nothing before
// their dialog waits for the user.
TEST_F(OutOfMemoryTest, CommandsAndSlotEventsReportAFailedAllocation) {
    DialogStep login{L"Login to token", {{IDC_LOGIN_PIN, L"1234"}}};
    DialogStep cancelIfOpen{L"Login to token", {}, nullptr, IDCANCEL};  // a failed OK keeps the dialog
    DialogStep open{L"Open", {{kFileNameBox, FixturePath(L"cn_simple.pem")}}};
    const HWND window = window_.Window();
    const struct {
        const char* what;
        std::function<void()> act;
        std::vector<DialogStep> steps;
    } rows[] = {
        {"login refused by the token",
         [&] {
             TokenStore::Control().SetFault("C_Login", 1, CKR_DEVICE_ERROR);
             window_.Click(kLoginCommand);
             TokenStore::Control().ClearFaults();
         },
         {login, cancelIfOpen}},
        {"display objects", [&] { window_.Click(kDisplayObjectsCommand); }, {}},
        {"certificate import", [&] { window_.Click(kImportCommand); }, {open}},
        {"slot event", [&] { SendMessageW(window, kSlotEventMessage, 0, 0); }, {}},
    };
    for (const auto& row : rows)
        EXPECT_GT(SweepAllocations(row.what, row.act, row.steps), 0) << row.what << ": the sweep tried nothing";
    // The window works as before: a listing runs to its end.
    window_.Click(kDisplayObjectsCommand);
    EXPECT_TRUE(window_.PumpUntil([] { return !AppState.Busy; }));
    EXPECT_TRUE(window_.ButtonEnabled(kDisplayObjectsButton));
    EXPECT_EQ(L"Heap of tokens", MainWindowFixture::CellText(AppState.TokenListView, 0, 0));
}

// A job and a result that run out of memory on their own threads.
class ThrowingJob : public WorkerJob {
public:
    explicit ThrowingJob(bool inResult) : inResult_(inResult) {}
    std::unique_ptr<WorkerResult> Run(HWND) override {
        if (!inResult_)
            throw std::bad_alloc();
        return std::make_unique<ThrowingResult>();
    }

private:
    class ThrowingResult : public WorkerResult {
    public:
        void Apply(WorkerEnd&) override { throw std::bad_alloc(); }
    };
    bool inResult_;
};

TEST_F(OutOfMemoryTest, WorkerFailureIsHandedToTheWindowAndReported) {
    for (bool inResult : {false, true}) {
        SCOPED_TRACE(inResult ? "in the result's application" : "in the worker");
        UiDriver ui(2000, UiDriver::kNoGrace);
        ASSERT_TRUE(StartWorker(std::make_unique<ThrowingJob>(inResult), true));
        EXPECT_FALSE(window_.ButtonEnabled(kDisplayObjectsButton)) << "held while the worker runs";
        ASSERT_TRUE(window_.PumpUntil([] { return !AppState.Busy; }));
        EXPECT_TRUE(window_.PumpUntil([&] { return SawNoMemoryBox(ui); }));
        EXPECT_TRUE(window_.ButtonEnabled(kDisplayObjectsButton)) << "the buttons are back";
        EXPECT_TRUE(IsWindowEnabled(AppState.TokenListView));
    }
}

}  // namespace
