// The slot monitor following tokens that softtoken.exe takes out and puts
// back while the main window runs: in this process with the monitor thread
// beside the test's message loop, and in whole-program runs of
// TokenManager.exe read from outside.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/ControlIds.h"
#include "app/SlotMonitor.h"
#include "app/TokenPanel.h"
#include "cryptoki/ModuleLoader.h"
#include "support/CallCounter.h"
#include "support/MainWindowFixture.h"
#include "support/ObjectTemplates.h"
#include "support/ProgramRun.h"
#include "support/TestFiles.h"
#include "support/UiDriver.h"

namespace {

const wchar_t kReportCaption[] = L"PKCS#11 error";
const wchar_t kWaitFailedContext[] = L"Wait for slot is failed with unkown error";
constexpr DWORD kEventMs = 10000;

// softtoken.exe on the store at `store`, as a user would run it.
void RunTool(const std::wstring& store, const std::wstring& arguments) {
    const std::wstring command =
        L"\"" + BinFolder() + L"\\softtoken.exe\" --store \"" + store + L"\" " + arguments;
    const ProcessResult result = RunProcess(command, {}, 30000);
    ASSERT_TRUE(result.started) << Narrow(command);
    ASSERT_FALSE(result.timedOut) << Narrow(command);
    ASSERT_EQ(0u, result.exitCode) << Narrow(command);
}

class SlotEventTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(window_.AddToken(0, "Alpha", "SERIAL-A"));
        ASSERT_TRUE(window_.AddToken(2, "Beta", "SERIAL-B"));
    }

    // The monitor is ended as the program ends it: asked to stop, then
    // C_Finalize ends its wait, without a report.
    void TearDown() override {
        if (!monitor_)
            return;
        RequestSlotMonitorStop();
        Cryptoki.FunctionList->C_Finalize(nullptr);
        EXPECT_TRUE(MonitorEnded()) << "the monitor did not end";
    }

    void Tool(const std::wstring& arguments) { RunTool(window_.Store().Path(), arguments); }

    // The main window, then the monitor for it.
    void Start(bool adminMode = false) {
        ASSERT_EQ(0, window_.Start(adminMode));
        StartMonitor();
    }
    void StartMonitor() {
        monitor_ = StartSlotMonitor(window_.Window());
        ASSERT_TRUE(monitor_);
    }
    // Pumps the test's messages (the monitor waits for them) until the
    // monitor has ended; its result in `result`.
    bool MonitorEnded(DWORD* result = nullptr) {
        const bool ended = window_.PumpUntil([result] { return WaitForSlotMonitor(0, result); }, kEventMs);
        monitor_ = !ended;
        return ended;
    }

    bool WaitFor(const std::function<bool()>& condition) { return window_.PumpUntil(condition, kEventMs); }
    // Until the monitor has taken every change and the window handled it.
    void Settle() { EXPECT_TRUE(window_.PumpUntilMonitorIdle()) << "the slot monitor did not settle"; }

    static std::wstring TokenCell(int row, int column) {
        return MainWindowFixture::CellText(AppState.TokenListView, row, column);
    }
    static int SelectedToken() { return MainWindowFixture::SelectedRow(AppState.TokenListView); }
    static int ObjectRows() { return MainWindowFixture::RowCount(AppState.ObjectListView); }
    static std::wstring PanelValue(int row) { return MainWindowFixture::CellText(AppState.TokenInfoView, row, 1); }

    void ListObjectsAsUser(CK_SLOT_ID slot) {
        CK_UTF8CHAR pin[] = "1234";
        ASSERT_EQ(CKR_OK, Cryptoki.FunctionList->C_Login(SessionTable[slot], CKU_USER, pin, 4));
        window_.Click(kDisplayObjectsCommand);
        ASSERT_TRUE(window_.PumpUntil([] { return !AppState.Busy && IsWindowEnabled(AppState.TokenListView); }, 30000));
    }

    MainWindowFixture window_;
    UiDriver ui_;  // any box nobody expects is recorded and closed
    bool monitor_ = false;  // a monitor runs
};

TEST_F(SlotEventTest, RemovingTheLastTokenEmptiesAndDisablesEverything) {
    Tool(L"remove 2");
    ASSERT_EQ(CKR_OK, AddTokenObjects(0, {ObjectTemplate::Data("note")}));
    Start(true);
    ListObjectsAsUser(0);
    ASSERT_EQ(1, ObjectRows());
    ASSERT_TRUE(window_.ButtonEnabled(kLoginButton));

    Tool(L"remove 0");
    ASSERT_TRUE(WaitFor([] { return TokenCell(0, 0).empty() && !IsWindowEnabled(AppState.ObjectListView); }));
    Settle();
    EXPECT_EQ(L"", TokenCell(0, 1)) << "no login status";
    EXPECT_EQ(0u, AppState.TokenCount);
    EXPECT_EQ(0, MainWindowFixture::RowCount(AppState.TokenInfoView));
    EXPECT_EQ(0, ObjectRows());
    for (int i = 0; i < kMainButtonCount; ++i)
        EXPECT_FALSE(window_.ButtonEnabled(i)) << "button " << i;
    for (int i = 0; i < kAdminButtonCount; ++i)
        EXPECT_FALSE(window_.AdminButtonEnabled(i)) << "admin button " << i;
    EXPECT_TRUE(ui_.Unexpected().empty());
}

TEST_F(SlotEventTest, RemovingTheSelectedOfTwoTokensSelectsTheFirstLeft) {
    Start();
    window_.ClickTokenRow(2);
    ASSERT_EQ(2, AppState.CurrentSlot);

    Tool(L"remove 2");
    ASSERT_TRUE(WaitFor([] { return TokenCell(2, 0).empty() && SelectedToken() == 0; }));
    Settle();
    EXPECT_EQ(L"", TokenCell(2, 1));
    EXPECT_EQ(L"Alpha", TokenCell(0, 0));
    EXPECT_EQ(0, AppState.CurrentSlot);
    EXPECT_EQ(1u, AppState.TokenCount);
    EXPECT_EQ(0u, AppState.SlotList[0]);
    ASSERT_EQ(6, MainWindowFixture::RowCount(AppState.TokenInfoView)) << "filled once";
    EXPECT_EQ(L"0", PanelValue(0));
    EXPECT_EQ(L"SERIAL-A", PanelValue(2));
    EXPECT_TRUE(window_.ButtonEnabled(kLoginButton)) << "the remaining token's session state applies";
    EXPECT_TRUE(window_.ButtonEnabled(kDisplayObjectsButton));
    EXPECT_TRUE(IsWindowEnabled(AppState.ObjectListView));
    EXPECT_TRUE(ui_.Unexpected().empty());
}

TEST_F(SlotEventTest, RemovingATokenWithNoRowSelectedSelectsNothing) {
    Start();
    window_.ClickTokenRow(-1);
    ASSERT_EQ(-1, SelectedToken());

    Tool(L"remove 2");
    ASSERT_TRUE(WaitFor([] { return TokenCell(2, 0).empty(); }));
    Settle();
    EXPECT_EQ(-1, SelectedToken());
    EXPECT_EQ(1u, AppState.TokenCount) << "the slot list is refreshed";
    EXPECT_EQ(0u, AppState.SlotList[0]);
    EXPECT_EQ(L"Alpha", TokenCell(0, 0));
    EXPECT_EQ(0, MainWindowFixture::RowCount(AppState.TokenInfoView));
    EXPECT_FALSE(window_.ButtonEnabled(kLoginButton));
    EXPECT_TRUE(ui_.Unexpected().empty());
}

TEST_F(SlotEventTest, InsertedTokenIsSelectedWithANewSession) {
    Tool(L"remove 2");
    ASSERT_EQ(CKR_OK, AddTokenObjects(0, {ObjectTemplate::Data("note")}));
    Start();
    ListObjectsAsUser(0);
    ASSERT_EQ(1, ObjectRows());
    ASSERT_EQ(L" ", TokenCell(2, 0)) << "no token at start-up";

    Tool(L"insert 2");
    ASSERT_TRUE(WaitFor([] { return TokenCell(2, 0) == L"Beta" && TokenCell(2, 1) == L"Not logged in"; }));
    Settle();
    EXPECT_EQ(2, SelectedToken());
    EXPECT_EQ(2, AppState.CurrentSlot);
    EXPECT_EQ(2u, AppState.TokenCount);
    ASSERT_EQ(6, MainWindowFixture::RowCount(AppState.TokenInfoView));
    EXPECT_EQ(L"2", PanelValue(0));
    EXPECT_EQ(L"SERIAL-B", PanelValue(2));
    EXPECT_EQ(0, ObjectRows()) << "the other token's objects are gone";
    EXPECT_TRUE(IsWindowEnabled(AppState.ObjectListView));
    CK_SESSION_INFO session = {};
    ASSERT_EQ(CKR_OK, Cryptoki.FunctionList->C_GetSessionInfo(SessionTable[2], &session));
    EXPECT_EQ(2u, session.slotID);
    EXPECT_EQ(static_cast<CK_STATE>(CKS_RW_PUBLIC_SESSION), session.state);
    EXPECT_EQ(kLoginCaption, window_.ButtonCaption(kLoginButton));
    EXPECT_TRUE(window_.ButtonEnabled(kDisplayObjectsButton));
    EXPECT_FALSE(window_.ButtonEnabled(kDeleteButton)) << "public session";
    EXPECT_TRUE(ui_.Unexpected().empty());
}

// A token put in while another token's objects are being listed: the
// listing stops adding rows, so the list never shows one token's objects
// under another, nor rows that the handle table does not describe; the
// buttons then follow the newly selected token.
TEST_F(SlotEventTest, TokenInsertedDuringAListingEndsThatListing) {
    Tool(L"remove 2");
    ASSERT_TRUE(TokenStore::Control().SetCapacity(0, 1 << 20) == CKR_OK);
    ASSERT_EQ(CKR_OK, AddTokenObjects(0, NumberedDataObjects("data ", 1500)));
    Start();
    CK_UTF8CHAR pin[] = "1234";
    ASSERT_EQ(CKR_OK, Cryptoki.FunctionList->C_Login(SessionTable[0], CKU_USER, pin, 4));
    // The worker is held in the middle of its search until the new token
    // is selected, so the insertion always lands while the listing runs.
    CallCounter calls;
    calls.HoldAt("C_FindObjects", 300);
    window_.Click(kDisplayObjectsCommand);
    ASSERT_TRUE(window_.PumpEachUntil([&calls] { return ObjectRows() >= 20 && calls.Held(); }, kEventMs));
    ASSERT_TRUE(AppState.Busy) << "the listing should still run";

    Tool(L"insert 2");
    ASSERT_TRUE(window_.PumpEachUntil([] { return AppState.CurrentSlot == 2; }, kEventMs));
    calls.Release();
    ASSERT_TRUE(WaitFor([] { return !AppState.Busy && IsWindowEnabled(AppState.TokenListView) && AppState.CurrentSlot == 2 &&
               TokenCell(2, 1) == L"Not logged in";
    }));
    Settle();
    EXPECT_EQ(2, SelectedToken());
    EXPECT_EQ(0, ObjectRows());
    EXPECT_EQ(0, MainWindowFixture::RowCount(AppState.ObjectListView));
    EXPECT_EQ(kLoginCaption, window_.ButtonCaption(kLoginButton)) << "the buttons of token 2's public session";
    EXPECT_FALSE(window_.ButtonEnabled(kDeleteButton));
    EXPECT_TRUE(window_.ButtonEnabled(kDisplayObjectsButton));
    EXPECT_TRUE(IsWindowEnabled(AppState.TokenListView));
    EXPECT_TRUE(ui_.Unexpected().empty());
}

// A module that cannot block: the monitor polls, one blocking and one
// non-blocking attempt every 15 ms, and still follows the tokens.
TEST_F(SlotEventTest, PollsWhenTheBlockingWaitIsRefused) {
    ASSERT_EQ(0, window_.Start());
    ASSERT_EQ(CKR_OK, TokenStore::Control().SetFaultEx("C_WaitForSlotEvent:blocking", 1, CKR_FUNCTION_NOT_SUPPORTED,
                                                       SOFTTOKEN_FAULT_REPEAT));
    CallCounter calls;
    StartMonitor();

    Tool(L"remove 2");
    ASSERT_TRUE(WaitFor([] { return TokenCell(2, 0).empty(); }));
    Tool(L"insert 2");
    ASSERT_TRUE(WaitFor([] { return TokenCell(2, 0) == L"Beta" && SelectedToken() == 2; }));
    EXPECT_TRUE(ui_.Unexpected().empty());

    calls.Reset();
    // Real time is what this checks: how many passes the monitor makes in it.
    window_.PumpUntil([] { return false; }, 600);
    const long blocking = calls.Count("C_WaitForSlotEvent:blocking");
    const long polling = calls.Count("C_WaitForSlotEvent:nonblocking");
    EXPECT_LE(std::abs(blocking - polling), 1) << "one of each per pass";
    EXPECT_GE(blocking, 10) << "about 40 passes in 600 ms";
    EXPECT_LE(blocking, 60) << "a pause of 15 ms after every pass";
}

// The monitor's own failures: each is reported once, and the monitor ends
// with the result that names it.
TEST_F(SlotEventTest, WaitFailuresAreReportedAndEndTheMonitor) {
    ASSERT_EQ(0, window_.Start());
    const struct {
        CK_RV blockingRv;   // the blocking wait answers this every time
        CK_RV pollingRv;    // the non-blocking wait (0: no fault)
        const wchar_t* text;
        DWORD result;
    } cases[] = {
        {CKR_DEVICE_ERROR, 0, L"An error occured due to CKR_DEVICE_ERROR 0x30\r\nWait for slot is failed with unkown error",
         kMonitorBlockingWaitFailed},
        {CKR_FUNCTION_NOT_SUPPORTED, CKR_FUNCTION_NOT_SUPPORTED,
         L"An error occured due to CKR_FUNCTION_NOT_SUPPORTED 0x54\r\nWait for slot is not supported by the cryptoki",
         kMonitorWaitNotSupported},
        {CKR_FUNCTION_NOT_SUPPORTED, CKR_GENERAL_ERROR,
         L"An error occured due to CKR_GENERAL_ERROR 0x5\r\nWait for slot is failed with unkown error",
         kMonitorPollingFailed},
    };
    for (const auto& c : cases) {
        TokenStore::Control().ClearFaults();
        ASSERT_EQ(CKR_OK, TokenStore::Control().SetFaultEx("C_WaitForSlotEvent:blocking", 1, c.blockingRv,
                                                           SOFTTOKEN_FAULT_REPEAT));
        if (c.pollingRv) {
            ASSERT_EQ(CKR_OK, TokenStore::Control().SetFault("C_WaitForSlotEvent:nonblocking", 1, c.pollingRv));
        }
        UiDriver ui;
        ui.Then({kReportCaption, {}, nullptr, IDOK});
        StartMonitor();
        DWORD result = 0;
        ASSERT_TRUE(MonitorEnded(&result)) << c.result;
        std::string why;
        ASSERT_TRUE(ui.WaitDone(&why)) << why;
        ASSERT_EQ(1u, ui.Seen().size());
        EXPECT_EQ(c.text, ui.Seen()[0].text);
        EXPECT_EQ(nullptr, ui.Seen()[0].owner);
        EXPECT_EQ(c.result, result);
        EXPECT_TRUE(ui.Unexpected().empty());
    }
    TokenStore::Control().ClearFaults();
    EXPECT_TRUE(ui_.Unexpected().empty());
}

// The session of an inserted token cannot be opened: reported, and the
// pass goes on with the row named and "Not logged in"; later events are
// still followed.
TEST_F(SlotEventTest, SessionThatCannotBeOpenedIsReportedAndThePassGoesOn) {
    Tool(L"remove 2");
    Start();
    ASSERT_EQ(CKR_OK, TokenStore::Control().SetFault("C_OpenSession", 1, CKR_DEVICE_ERROR));
    UiDriver ui;
    ui.Then({kReportCaption, {}, nullptr, IDOK});
    Tool(L"insert 2");
    ASSERT_TRUE(WaitFor([] { return TokenCell(2, 1) == L"Not logged in"; }));
    std::string why;
    ASSERT_TRUE(ui.WaitDone(&why)) << why;
    ASSERT_EQ(1u, ui.Seen().size());
    EXPECT_EQ(L"An error occured due to CKR_DEVICE_ERROR 0x30\r\nOpen session failed\r\n", ui.Seen()[0].text);
    EXPECT_EQ(L"Beta", TokenCell(2, 0));
    EXPECT_EQ(2, SelectedToken());
    EXPECT_TRUE(IsWindowEnabled(AppState.ObjectListView));

    Tool(L"remove 0");
    ASSERT_TRUE(WaitFor([] { return TokenCell(0, 0).empty(); })) << "the monitor goes on";
    EXPECT_TRUE(ui_.Unexpected().empty());
}

// TokenManager.exe as the user runs it, with the blocking wait working and
// with the module refusing it (a fault for every process on the store).
TEST(SlotEventProgram, FollowsTokensTakenOutAndPutBack) {
    TokenStore store(4);
    ASSERT_TRUE(store.AddToken(0, "Alpha", "SERIAL-A"));
    ASSERT_TRUE(store.AddToken(2, "Beta", "SERIAL-B"));
    for (bool polling : {false, true}) {
        SCOPED_TRACE(polling ? "polling" : "blocking wait");
        TokenStore::Control().ClearStoreFaults();
        if (polling)
            RunTool(store.Path(), L"fault C_WaitForSlotEvent:blocking 1 0x54 --repeat");
        ProgramRun run(BinFolder() + L"\\TokenManager.exe", L"", {L"TOLVANE_SOFTTOKEN_STORE=" + store.Path()});
        HWND main = run.WaitForWindow(L"Window Class", 20000);
        ASSERT_TRUE(main);
        HWND list = GetDlgItem(main, kTokenListId);
        auto waitFor = [](const std::function<bool()>& condition) {
            for (int i = 0; i < 1000; ++i) {
                if (condition())
                    return true;
                Sleep(10);
            }
            return false;
        };
        ASSERT_TRUE(waitFor([&] { return RemoteListViewSelectedRow(list) == 0; }));

        RunTool(store.Path(), L"remove 0");
        EXPECT_TRUE(waitFor([&] { return RemoteListViewText(list, 0, 0).empty() && RemoteListViewSelectedRow(list) == 2; }))
            << "the remaining token is selected";
        EXPECT_EQ(L"", RemoteListViewText(list, 0, 1));

        RunTool(store.Path(), L"insert 0");
        // The name comes first in the pass, the login status last.
        EXPECT_TRUE(waitFor([&] {
            return RemoteListViewText(list, 0, 0) == L"Alpha" && RemoteListViewSelectedRow(list) == 0 &&
                   RemoteListViewText(list, 0, 1) == L"Not logged in";
        }));

        RunTool(store.Path(), L"remove 0");
        RunTool(store.Path(), L"remove 2");
        EXPECT_TRUE(waitFor([&] {
            return RemoteListViewText(list, 2, 0).empty() && !IsWindowEnabled(GetDlgItem(main, kLoginCommand));
        })) << "no token left";
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(main, kObjectListId)));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(main, kDisplayObjectsCommand)));

        ProgramRun::Close(main);
        DWORD exitCode = 99;
        ASSERT_TRUE(run.WatchUntilExit(20000, &exitCode));
        EXPECT_EQ(0u, exitCode);
        EXPECT_TRUE(run.Boxes().empty()) << "no report";
        RunTool(store.Path(), L"insert 0");
        RunTool(store.Path(), L"insert 2");
    }
    TokenStore::Control().ClearStoreFaults();
}

}  // namespace
