// The window thread alone changes the window and its state, and every
// command acts on the token it began with. A worker is held at a chosen
// Cryptoki call while tokens come and go and commands are tried; tokens are
// put in while a dialog is open. "Alpha" stays in slot 0; "Beta" comes into
// slot 2 in the middle of the story.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/ControlIds.h"
#include "app/SlotMonitor.h"
#include "app/TokenPanel.h"
#include "cryptoki/ModuleLoader.h"
#include "objects/ObjectTables.h"
#include "res/resource.h"
#include "support/CallCounter.h"
#include "support/MainWindowFixture.h"
#include "support/ObjectTemplates.h"
#include "support/SlotMonitorRun.h"
#include "support/TestFiles.h"
#include "support/UiDriver.h"

namespace {

constexpr CK_SLOT_ID kAlpha = 0;
constexpr CK_SLOT_ID kBeta = 2;
constexpr int kLongListing = 1500;
constexpr long kHeldSearchStep = 300;  // the first batch of rows is shown by then
constexpr DWORD kEventMs = 10000;
constexpr int kFileNameBox = 1148;  // the open-file dialog's "File name" box

std::wstring TokenCell(CK_SLOT_ID slot, int column) {
    return MainWindowFixture::CellText(AppState.TokenListView, static_cast<int>(slot), column);
}

int ObjectRows() {
    return MainWindowFixture::RowCount(AppState.ObjectListView);
}

// The minimum user-PIN length the token in `slot` holds.
CK_ULONG MinPinLength(CK_SLOT_ID slot) {
    CK_ULONG level = 0, maxFailed = 0, minLength = 0, maxLength = 0;
    Cryptoki.FunctionList->C_GetUserPinPolicy(slot, 1, &level, &maxFailed, &minLength, &maxLength);
    return minLength;
}

class ThreadBoundaryTest : public testing::Test {
protected:
    // Alpha with `alphaObjects` data objects; Beta with two, taken out.
    void Start(int alphaObjects, bool adminMode = false) {
        ASSERT_TRUE(window_.AddToken(kAlpha, "Alpha", "ALPHA"));
        ASSERT_TRUE(window_.AddToken(kBeta, "Beta", "BETA"));
        ASSERT_EQ(CKR_OK, TokenStore::Control().SetCapacity(kAlpha, 1 << 20));
        if (alphaObjects > 0) {
            ASSERT_EQ(CKR_OK, AddTokenObjects(kAlpha, NumberedDataObjects("alpha ", alphaObjects)));
        }
        ASSERT_EQ(CKR_OK, AddTokenObjects(kBeta, NumberedDataObjects("beta ", 2)));
        for (CK_SLOT_ID slot : {kAlpha, kBeta})
            ASSERT_EQ(CKR_OK, TokenStore::Control().SetPolicy(slot, 3, 7, 5, 12));
        ASSERT_EQ(CKR_OK, TokenStore::Control().RemoveToken(kBeta));
        ASSERT_EQ(0, window_.Start(adminMode));
        monitor_.reset(new SlotMonitorRun);
        ASSERT_TRUE(monitor_->Running());
        CK_UTF8CHAR pin[] = "1234";
        ASSERT_EQ(CKR_OK, Cryptoki.FunctionList->C_Login(SessionTable[kAlpha], CKU_USER, pin, 4));
        window_.ClickTokenRow(kAlpha);  // the buttons of the user's session
    }

    void TearDown() override {
        if (monitor_) {
            EXPECT_TRUE(monitor_->Stop(window_)) << "the slot monitor did not end";
        }
    }

    // Beta put in: the monitor's event selects it, carried out by the
    // window thread (also while a worker runs).
    void InsertBeta() {
        ASSERT_EQ(CKR_OK, TokenStore::Control().InsertToken(kBeta));
        ASSERT_TRUE(window_.PumpEachUntil(
            [] { return AppState.CurrentSlot == static_cast<int>(kBeta) && TokenCell(kBeta, 1) == L"Not logged in"; },
            kEventMs));
    }

    void RemoveBeta() {
        ASSERT_EQ(CKR_OK, TokenStore::Control().RemoveToken(kBeta));
        ASSERT_TRUE(window_.PumpEachUntil(
            [] { return TokenCell(kBeta, 0).empty() && AppState.CurrentSlot == static_cast<int>(kAlpha); }, kEventMs));
    }

    // Every button disabled, and the token list too: nothing to start
    // while the worker holds the session.
    void ExpectNothingEnabled(const std::string& when) {
        for (int i = 0; i < kMainButtonCount; ++i)
            EXPECT_FALSE(window_.ButtonEnabled(i)) << when << ": button " << i;
        EXPECT_FALSE(IsWindowEnabled(AppState.TokenListView)) << when;
    }

    bool WaitForWorkerEnd() {
        return window_.PumpUntil([] { return !AppState.Busy && IsWindowEnabled(AppState.TokenListView); }, 30000);
    }

    void DisplayObjects() {
        AppState.PublicOnlyWarningArmed = false;
        window_.Click(kDisplayObjectsCommand);
        ASSERT_TRUE(WaitForWorkerEnd());
    }

    // "Display objects" of Alpha's long listing, held at a search step once
    // the first rows show.
    void StartHeldListing(CallCounter& calls) {
        calls.HoldAt("C_FindObjects", kHeldSearchStep);
        AppState.PublicOnlyWarningArmed = false;
        window_.Click(kDisplayObjectsCommand);
        ASSERT_TRUE(window_.PumpEachUntil([&calls] { return ObjectRows() >= 20 && calls.Held(); }, kEventMs));
        ASSERT_TRUE(AppState.Busy);
    }

    MainWindowFixture window_;
    std::unique_ptr<SlotMonitorRun> monitor_;
    UiDriver ui_;  // any box nobody expects is recorded and closed
};

// Beta put in and taken out again while Alpha's listing is held: the list
// follows the selection at once, but no button is enabled until the
// listing's result arrives, and no row of Alpha ever stands under Beta.
// "Delete" afterwards destroys Beta's objects only, on Beta's session.
TEST_F(ThreadBoundaryTest, SlotEventsDuringAHeldListing) {
    ASSERT_NO_FATAL_FAILURE(Start(kLongListing));
    CallCounter calls;
    ASSERT_NO_FATAL_FAILURE(StartHeldListing(calls));

    ASSERT_NO_FATAL_FAILURE(InsertBeta());
    ExpectNothingEnabled("Beta put in during the listing");
    EXPECT_EQ(0, ObjectRows()) << "Alpha's rows under Beta";
    ASSERT_NO_FATAL_FAILURE(RemoveBeta());
    ExpectNothingEnabled("Beta taken out during the listing");
    ASSERT_NO_FATAL_FAILURE(InsertBeta());

    calls.Release();
    ASSERT_TRUE(WaitForWorkerEnd());
    EXPECT_EQ(0, ObjectRows()) << "the held listing's later rows are Alpha's";
    EXPECT_EQ(0, ObjectRowCount()) << "the tables describe no row of Alpha";
    EXPECT_EQ(1, calls.Count("C_FindObjectsFinal")) << "the search is ended once";
    EXPECT_TRUE(window_.ButtonEnabled(kDisplayObjectsButton)) << "Beta's buttons once the listing ended";
    EXPECT_FALSE(window_.ButtonEnabled(kDeleteButton)) << "Beta's session is public";

    DisplayObjects();
    ASSERT_EQ(2, ObjectRows());
    window_.SelectObjectRows({0, 1});
    ui_.Then({L"Remove object", {}, nullptr, IDYES});
    calls.Reset();
    window_.Click(kDeleteObjectsCommand);
    ASSERT_TRUE(WaitForWorkerEnd());
    EXPECT_EQ(2, calls.Count("C_DestroyObject"));
    EXPECT_EQ(0u, CountTokenObjects(kBeta));
    EXPECT_EQ(static_cast<size_t>(kLongListing), CountTokenObjects(kAlpha)) << "nothing of Alpha destroyed";
    EXPECT_TRUE(ui_.Unexpected().empty());
}

// Beta put in while Alpha's deletion is held: the deletion goes on with
// Alpha's objects on Alpha's session; nothing is enabled meanwhile, and the
// list is not rebuilt with Alpha's objects under Beta.
TEST_F(ThreadBoundaryTest, SlotEventDuringAHeldDeletion) {
    ASSERT_NO_FATAL_FAILURE(Start(5));
    DisplayObjects();
    ASSERT_EQ(5, ObjectRows());
    window_.SelectObjectRows({0, 1, 2});
    CallCounter calls;
    calls.HoldAt("C_DestroyObject", 2);
    ui_.Then({L"Remove object", {}, nullptr, IDYES});
    window_.Click(kDeleteObjectsCommand);
    ASSERT_TRUE(window_.PumpEachUntil([&calls] { return calls.Held(); }, kEventMs));

    ASSERT_NO_FATAL_FAILURE(InsertBeta());
    ExpectNothingEnabled("Beta put in during the deletion");
    EXPECT_FALSE(IsWindowEnabled(AppState.ObjectListView)) << "no input while objects are destroyed";
    EXPECT_EQ(0, ObjectRows());

    calls.Release();
    ASSERT_TRUE(WaitForWorkerEnd());
    EXPECT_EQ(3, calls.Count("C_DestroyObject"));
    EXPECT_EQ(0, calls.Count("C_FindObjectsInit")) << "no listing of Alpha under Beta";
    EXPECT_EQ(2u, CountTokenObjects(kAlpha)) << "the three selected objects of Alpha went";
    EXPECT_EQ(2u, CountTokenObjects(kBeta)) << "Beta's objects stay";
    EXPECT_EQ(0, ObjectRows());
    EXPECT_TRUE(window_.ButtonEnabled(kDisplayObjectsButton));
    EXPECT_TRUE(IsWindowEnabled(AppState.ObjectListView));
    EXPECT_TRUE(ui_.Unexpected().empty());
}

// Beta put in while the PIN-policy dialog is open for Alpha: the window
// selects Beta, but the dialog logs in and stores on Alpha, never on Beta.
TEST_F(ThreadBoundaryTest, TokenPutInWhileThePolicyDialogIsOpen) {
    ASSERT_NO_FATAL_FAILURE(Start(0, true));
    ASSERT_EQ(5u, MinPinLength(kAlpha));
    ui_.Then({L"Set user pincode policy",
              {{IDC_POLICY_SO_PIN, L"tolvane"}, {IDC_POLICY_MIN_LENGTH, L"6"}},
              [](HWND) {
                  TokenStore::Control().InsertToken(kBeta);
                  for (int i = 0; i < 400 && TokenCell(kBeta, 0) != L"Beta"; ++i)
                      Sleep(25);  // the dialog's own loop carries the event out
              },
              IDOK})
        .Then({L"Successful pincode policy operation", {}, nullptr, IDOK});
    window_.Click(kPinPolicyCommand);
    std::string why;
    ASSERT_TRUE(ui_.WaitDone(&why)) << why;

    EXPECT_EQ(static_cast<int>(kBeta), AppState.CurrentSlot) << "the selection followed the event";
    EXPECT_EQ(6u, MinPinLength(kAlpha));
    EXPECT_EQ(5u, MinPinLength(kBeta)) << "Beta got Alpha's SO PIN and policy";
    EXPECT_TRUE(ui_.Unexpected().empty());
}

// Beta put in while the user picks a file for Alpha: the certificate goes
// to Alpha, and the list, which shows Beta by then, is left alone.
TEST_F(ThreadBoundaryTest, TokenPutInWhileTheOpenFileDialogIsOpen) {
    ASSERT_NO_FATAL_FAILURE(Start(0));
    CallCounter calls;
    ui_.Then({L"Open",
              {{kFileNameBox, FixturePath(L"cn_simple.der")}},
              [](HWND) {
                  TokenStore::Control().InsertToken(kBeta);
                  for (int i = 0; i < 400 && TokenCell(kBeta, 0) != L"Beta"; ++i)
                      Sleep(25);  // the open-file dialog's loop carries the event out
              },
              IDOK});
    window_.Click(kImportCommand);
    std::string why;
    ASSERT_TRUE(ui_.WaitDone(&why)) << why;
    ASSERT_TRUE(WaitForWorkerEnd());

    EXPECT_EQ(1, calls.Count("C_CreateObject"));
    EXPECT_EQ(0, calls.Count("C_FindObjectsInit")) << "Alpha's objects listed under Beta";
    EXPECT_EQ(1u, CountTokenObjects(kAlpha, CKO_CERTIFICATE));
    EXPECT_EQ(0u, CountTokenObjects(kBeta, CKO_CERTIFICATE)) << "Beta got the certificate";
    EXPECT_EQ(static_cast<int>(kBeta), AppState.CurrentSlot);
    EXPECT_EQ(0, ObjectRows());
    EXPECT_TRUE(ui_.Unexpected().empty());
}

// Fifty insertion events for a token that never left, as the monitor hands
// them over: the token keeps its one session, and its login.
TEST_F(ThreadBoundaryTest, SpuriousInsertionEventsKeepTheSession) {
    ASSERT_NO_FATAL_FAILURE(Start(0));
    const CK_SESSION_HANDLE session = SessionTable[kAlpha];
    CallCounter calls;
    for (int i = 0; i < 50; ++i)
        SendMessageW(window_.Window(), kSlotEventMessage, kAlpha, 0);
    window_.Pump();

    EXPECT_EQ(0, calls.Count("C_OpenSession"));
    EXPECT_EQ(session, SessionTable[kAlpha]);
    CK_TOKEN_INFO info = {};
    ASSERT_EQ(CKR_OK, Cryptoki.FunctionList->C_GetTokenInfo(kAlpha, &info));
    EXPECT_EQ(1u, info.ulSessionCount) << "one open session of the slot";
    EXPECT_EQ(L"Logged in", TokenCell(kAlpha, 1));
    EXPECT_EQ(kLogoutCaption, window_.ButtonCaption(kLoginButton));
    EXPECT_TRUE(ui_.Unexpected().empty());
}

// While a listing runs, no command starts, however it is asked for: the
// import's button, a menu entry, a key, a double-click.
TEST_F(ThreadBoundaryTest, NoCommandStartsWhileAListingRuns) {
    ASSERT_NO_FATAL_FAILURE(Start(kLongListing));
    CallCounter calls;
    ASSERT_NO_FATAL_FAILURE(StartHeldListing(calls));
    calls.Reset();  // the worker waits: every call from now on is a command's

    window_.Click(kImportCommand);
    SendMessageW(window_.Window(), WM_SYSCOMMAND, kSystemMenuGenerateCsr, 0);
    window_.Click(kLoginCommand);
    window_.ClickObjectRow(0);
    NMLVKEYDOWN key = {};
    key.hdr.hwndFrom = AppState.ObjectListView;
    key.hdr.idFrom = kObjectListId;
    key.hdr.code = LVN_KEYDOWN;
    key.wVKey = VK_DELETE;
    SendMessageW(window_.Window(), WM_NOTIFY, kObjectListId, reinterpret_cast<LPARAM>(&key));
    NMITEMACTIVATE doubleClick = {};
    doubleClick.hdr = key.hdr;
    doubleClick.hdr.code = NM_DBLCLK;
    SendMessageW(window_.Window(), WM_NOTIFY, kObjectListId, reinterpret_cast<LPARAM>(&doubleClick));
    window_.Pump();
    EXPECT_EQ(0, calls.Total()) << calls.Summary();
    EXPECT_TRUE(ui_.Seen().empty());
    EXPECT_TRUE(ui_.Unexpected().empty()) << "no open-file dialog, no CSR dialog, no login dialog";

    calls.Release();
    ASSERT_TRUE(WaitForWorkerEnd());
    EXPECT_EQ(kLongListing, ObjectRows());
    EXPECT_EQ(0, calls.Count("C_CreateObject"));
}

}  // namespace
