// Faults in time: the token taken out while a listing reads it, and slot
// events while the login dialog is open. The slot monitor runs beside the
// test's message loop; after each case the window shows the token as it is.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <set>
#include <string>

#include "HostileModule.h"
#include "RobustnessSupport.h"
#include "app/AppState.h"
#include "app/ControlIds.h"
#include "app/TokenPanel.h"
#include "cryptoki/ModuleLoader.h"
#include "import/ImportCertificate.h"
#include "import/ImportPfx.h"
#include "import/PfxImportState.h"
#include "objects/ObjectTables.h"
#include "res/resource.h"
#include "support/MainWindowFixture.h"
#include "support/ObjectTemplates.h"
#include "support/SlotMonitorRun.h"
#include "support/TestFiles.h"
#include "support/UiDriver.h"

namespace {

constexpr int kSlot = 0;

std::wstring TokenCell(int row, int column) {
    return MainWindowFixture::CellText(AppState.TokenListView, row, column);
}

class TimedFaultTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(window_.AddToken(kSlot, "Timed", "T0001"));
        std::vector<ObjectTemplate> objects;
        for (int i = 0; i < 20; ++i)
            objects.push_back(ObjectTemplate::Data("note " + std::to_string(i)));
        ASSERT_EQ(CKR_OK, AddTokenObjects(kSlot, objects));
        ASSERT_EQ(0, window_.StartWith([] { InstallHostileModule(HostileScript()); }));
        monitor_.reset(new SlotMonitorRun);
        ASSERT_TRUE(monitor_->Running());
    }

    void TearDown() override {
        if (monitor_) {
            EXPECT_TRUE(monitor_->Stop(window_)) << "the slot monitor did not end";
        }
        RemoveHostileModule();
    }

    bool ListingEnded() {
        return window_.PumpUntil([] { return !AppState.Busy && IsWindowEnabled(AppState.TokenListView); }, 30000);
    }

    // The window shows no token: blank row, nothing enabled, no objects.
    void ExpectNoTokenShown(const std::string& what) {
        window_.ExpectNoTokenShown(kSlot, what);
        EXPECT_EQ(0u, AppState.TokenCount) << what;
        EXPECT_TRUE(ProcessHeapsAreIntact()) << what;
    }

    // The token back in its slot: shown, selected, and listed in full.
    void ExpectTokenBack(const std::string& what, int objects = 20) {
        ASSERT_EQ(CKR_OK, TokenStore::Control().InsertToken(kSlot)) << what;
        ASSERT_TRUE(window_.PumpUntil([] { return TokenCell(kSlot, 0) == L"Timed"; }, 10000)) << what;
        EXPECT_TRUE(window_.PumpUntilMonitorIdle()) << what << ": the slot monitor did not settle";
        EXPECT_EQ(L"Not logged in", TokenCell(kSlot, 1)) << what;
        EXPECT_TRUE(window_.ButtonEnabled(kDisplayObjectsButton)) << what;
        AppState.PublicOnlyWarningArmed = false;
        window_.Click(kDisplayObjectsCommand);
        ASSERT_TRUE(ListingEnded()) << what;
        EXPECT_EQ(objects, MainWindowFixture::RowCount(AppState.ObjectListView)) << what;
    }

    static void SelectObjectRows(int count) {
        for (int row = 0; row < count; ++row) {
            LVITEMW item = {};
            item.stateMask = LVIS_SELECTED;
            item.state = LVIS_SELECTED;
            SendMessageW(AppState.ObjectListView, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                         reinterpret_cast<LPARAM>(&item));
        }
    }

    MainWindowFixture window_{1};
    std::unique_ptr<SlotMonitorRun> monitor_;
};

// The token goes at different points of a listing (45 calls for 20 data
// objects): before the search, in the middle of the attribute reads, before
// the last C_FindObjects, and before the buttons are restored.
TEST_F(TimedFaultTest, TokenRemovedDuringAListing) {
    for (long call : {2L, 9L, 30L, 43L, 45L}) {
        const std::string what = "removed before call " + std::to_string(call);
        HostileScript& script = ActiveScript();
        script.actionCall = call;
        script.action = [] { TokenStore::Control().RemoveToken(kSlot); };
        ResetHostileCalls();
        UiDriver ui(10000, UiDriver::kNoGrace);  // the listing's failure report, if it sees the removal
        AppState.PublicOnlyWarningArmed = false;
        window_.Click(kDisplayObjectsCommand);
        ASSERT_TRUE(ListingEnded()) << what << ": the listing never ended";
        ASSERT_GE(HostileCallLog().size(), static_cast<size_t>(call)) << what << ": the token was not removed";
        ExpectNoTokenShown(what);
        for (const SeenWindow& box : ui.Unexpected())
            EXPECT_TRUE(box.caption == L"Read object error" || box.caption == L"Find object error")
                << what << ": " << Narrow(box.caption) << " / " << Narrow(box.text);
        ActiveScript().actionCall = 0;
        ExpectTokenBack(what);
    }
}

// The token goes and comes back while a listing reads it: the monitor
// shows it again at once, but leaves the buttons and the object list to
// the listing, which gives them back for the token when it ends.
TEST_F(TimedFaultTest, TokenPulledAndPutBackDuringAListing) {
    HostileScript& script = ActiveScript();
    script.actionCall = 9;  // among the attribute reads
    script.action = [] {
        TokenStore::Control().RemoveToken(kSlot);
        for (int i = 0; i < 400 && !TokenCell(kSlot, 0).empty(); ++i)
            Sleep(25);
        TokenStore::Control().InsertToken(kSlot);
        for (int i = 0; i < 400 && TokenCell(kSlot, 0) != L"Timed"; ++i)
            Sleep(25);
    };
    ResetHostileCalls();
    UiDriver ui(10000, UiDriver::kNoGrace);  // the listing's report of its lost session
    AppState.PublicOnlyWarningArmed = false;
    window_.Click(kDisplayObjectsCommand);
    ASSERT_TRUE(ListingEnded());
    EXPECT_TRUE(window_.PumpUntilMonitorIdle()) << "the slot monitor did not settle";
    EXPECT_EQ(L"Timed", TokenCell(kSlot, 0));
    EXPECT_EQ(L"Not logged in", TokenCell(kSlot, 1));
    EXPECT_TRUE(IsWindowEnabled(AppState.ObjectListView)) << "the object list of the token back in";
    EXPECT_TRUE(window_.ButtonEnabled(kDisplayObjectsButton));
    EXPECT_TRUE(window_.ButtonEnabled(kLoginButton));
    ActiveScript().actionCall = 0;
    AppState.PublicOnlyWarningArmed = false;
    window_.Click(kDisplayObjectsCommand);
    ASSERT_TRUE(ListingEnded());
    EXPECT_EQ(20, MainWindowFixture::RowCount(AppState.ObjectListView));
}

// The token goes after the first of five objects is destroyed: the other
// four are reported, the rebuilt listing finds no token, and the window
// shows none, its object list included.
TEST_F(TimedFaultTest, TokenRemovedDuringADeletion) {
    CK_UTF8CHAR pin[] = "1234";
    ASSERT_EQ(CKR_OK, Cryptoki.FunctionList->C_Login(SessionTable[kSlot], CKU_USER, pin, 4));
    window_.Click(kDisplayObjectsCommand);
    ASSERT_TRUE(ListingEnded());
    ASSERT_EQ(20, MainWindowFixture::RowCount(AppState.ObjectListView));
    SelectObjectRows(5);

    HostileScript& script = ActiveScript();
    script.actionCall = 2;  // before the second C_DestroyObject
    script.action = [] { TokenStore::Control().RemoveToken(kSlot); };
    ResetHostileCalls();
    UiDriver ui;  // the confirmation, then the reports of the refused objects
    ui.Then({L"Remove object", {}, nullptr, IDYES});
    window_.Click(kDeleteObjectsCommand);
    window_.PumpUntil([&ui] { return ui.PendingSteps() == 0; }, 10000);
    std::string why;
    ASSERT_TRUE(ui.WaitDone(&why)) << why;
    ASSERT_TRUE(ListingEnded()) << "the deletion never ended";
    ASSERT_EQ("C_DestroyObject", HostileCallLog().at(0));
    ExpectNoTokenShown("after the deletion");
    for (const SeenWindow& box : ui.Unexpected())
        EXPECT_EQ(L"Object deletion problem", box.caption) << Narrow(box.text);
    ActiveScript().actionCall = 0;
    ExpectTokenBack("after the deletion", 19);
}

// The token goes and comes back while the login dialog is open: the dialog
// is cancelled and the window shows the token as the module has it.
TEST_F(TimedFaultTest, SlotEventsWhileTheLoginDialogIsOpen) {
    UiDriver ui;
    bool removedSeen = false;
    ui.Then({L"Login to token", {},
             [this, &removedSeen](HWND) {
                 TokenStore::Control().RemoveToken(kSlot);
                 // The monitor's messages are carried out by the dialog's loop.
                 for (int i = 0; i < 200 && !removedSeen; ++i) {
                     removedSeen = TokenCell(kSlot, 0).empty();
                     Sleep(50);
                 }
             },
             IDCANCEL});
    window_.Click(kLoginCommand);
    std::string why;
    ASSERT_TRUE(ui.WaitDone(&why)) << why;
    EXPECT_TRUE(removedSeen) << "the row was blanked while the dialog was open";
    ExpectNoTokenShown("after the dialog");
    EXPECT_TRUE(IsWindow(window_.Window()));

    // Back in while the dialog is open again: this time the user logs in.
    ASSERT_EQ(CKR_OK, TokenStore::Control().InsertToken(kSlot));
    ASSERT_TRUE(window_.PumpUntil([] { return TokenCell(kSlot, 0) == L"Timed"; }, 10000));
    EXPECT_TRUE(window_.PumpUntilMonitorIdle()) << "the slot monitor did not settle";
    UiDriver login;
    login.Then({L"Login to token", {{IDC_LOGIN_PIN, L"1234"}},
                [](HWND) {
                    TokenStore::Control().RemoveToken(kSlot);
                    TokenStore::Control().InsertToken(kSlot);
                    // The events reach the window while the dialog is open.
                    EXPECT_TRUE(MainWindowFixture::WaitForMonitorIdle()) << "the slot monitor did not settle";
                },
                IDOK});
    window_.Click(kLoginCommand);
    ASSERT_TRUE(login.WaitDone(&why)) << why;
    EXPECT_TRUE(window_.PumpUntilMonitorIdle()) << "the slot monitor did not settle";
    // Whatever the order of events, the row and the buttons follow the
    // session the module reports.
    CK_SESSION_INFO info = {};
    const CK_RV rv = Cryptoki.FunctionList->C_GetSessionInfo(SessionTable[kSlot], &info);
    ASSERT_EQ(CKR_OK, rv) << "a session of the token in the slot";
    const bool loggedIn = info.state == CKS_RW_USER_FUNCTIONS;
    EXPECT_EQ(loggedIn ? L"Logged in" : L"Not logged in", TokenCell(kSlot, 1));
    EXPECT_EQ(loggedIn ? kLogoutCaption : kLoginCaption, window_.ButtonCaption(kLoginButton));
    EXPECT_TRUE(window_.ButtonEnabled(kLoginButton));
    EXPECT_TRUE(ProcessHeapsAreIntact());
}

// Public objects an import stored before the token went: the calls carried
// out before call `removedBefore` that created an object, at most the
// certificate and the public key (a private key is not listed publicly).
int PublicObjectsStoredBefore(long removedBefore) {
    int created = 0;
    const std::vector<std::string> log = HostileCallLog();
    for (long i = 0; i + 1 < removedBefore && i < static_cast<long>(log.size()); ++i)
        created += log[static_cast<size_t>(i)] == "C_CreateObject";
    return created < 2 ? created : 2;
}

// The token goes while a certificate and while a PFX is imported, before
// each of the import's Cryptoki calls in turn: the import reports a
// failure, no key container is left, the window shows no token, and the
// token, put back, holds its objects and what was stored before the pull.
TEST_F(TimedFaultTest, TokenRemovedDuringAnImport) {
    const std::set<std::string> containersBefore = KeyContainerNames();
    for (bool pfx : {false, true}) {
        for (long call = 1; call <= (pfx ? 3 : 1); ++call) {
            const std::string what = std::string(pfx ? "PFX" : "certificate") + ", removed before call " +
                                     std::to_string(call);
            CK_UTF8CHAR pin[] = "1234";
            ASSERT_EQ(CKR_OK, Cryptoki.FunctionList->C_Login(SessionTable[kSlot], CKU_USER, pin, 4)) << what;
            HostileScript& script = ActiveScript();
            script.actionCall = call;
            script.action = [] { TokenStore::Control().RemoveToken(kSlot); };
            ResetHostileCalls();
            long long result = 0;
            if (pfx) {
                const std::wstring path = FixturePath(L"imp_modern.pfx");
                wcsncpy(PfxImportState.PfxFilePath, path.c_str(), kPfxPathCapacity - 1);
                PfxImportState.PfxImportChain = false;
                PfxImportState.PfxKeyExtractable = false;
                PfxImportState.DialogSlot = kSlot;
                result = ImportPfx(L"secret");
            } else {
                result = ImportCertificate(kSlot, FixturePath(L"cn_simple.der").c_str(), nullptr, nullptr);
            }
            EXPECT_NE(0, result) << what << ": an import onto a token that went reported success";
            ASSERT_GE(HostileCallLog().size(), static_cast<size_t>(call)) << what << ": the token was not removed";
            EXPECT_EQ(containersBefore, KeyContainerNames()) << what;
            const int stored = PublicObjectsStoredBefore(call);
            ExpectNoTokenShown(what);
            ActiveScript().actionCall = 0;
            ExpectTokenBack(what, 20 + stored);
            if (stored > 0) {
                // What the import stored before the pull goes again, for the next case.
                CK_UTF8CHAR userPin[] = "1234";
                CK_SESSION_HANDLE session = SessionTable[kSlot];
                ASSERT_EQ(CKR_OK, Cryptoki.FunctionList->C_Login(session, CKU_USER, userPin, 4)) << what;
                for (int row = 20; row < 20 + stored; ++row)
                    Cryptoki.FunctionList->C_DestroyObject(session, ObjectHandleAt(row));
                Cryptoki.FunctionList->C_Logout(session);
            }
        }
    }
}

// Events for slots that have no row or no session entry, for a token
// whose fields are arbitrary bytes: nothing lands outside the tables, at
// most one row is selected, and the window lists the real token after.
TEST_F(TimedFaultTest, EventsForSlotsWithoutARow) {
    UiDriver ui;
    for (bool present : {true, false}) {
        const std::string what = present ? "tokens that appear" : "tokens that go";
        ActiveScript().hostileTokenInfo = present;
        ActiveScript().tokenFieldByte = 0xC3;
        QueueSlotEvents({64, 0xFFFFFFFF, 5000, 199, 0x7FFFFFFF});
        ASSERT_TRUE(window_.PumpUntil([] { return !SlotEventsPending(); }, 10000)) << what;
        EXPECT_TRUE(window_.PumpUntilMonitorIdle()) << what << ": the slot monitor did not settle";
        ActiveScript().hostileTokenInfo = false;
        EXPECT_TRUE(IsWindow(window_.Window())) << what;
        EXPECT_LE(SendMessageW(AppState.TokenListView, LVM_GETSELECTEDCOUNT, 0, 0), 1) << what;
        EXPECT_EQ(1, MainWindowFixture::RowCount(AppState.TokenListView)) << what;
        EXPECT_TRUE(ProcessHeapsAreIntact()) << what;
        window_.ClickTokenRow(kSlot);
        EXPECT_EQ(L"Timed", TokenCell(kSlot, 0)) << what;
        AppState.PublicOnlyWarningArmed = false;
        window_.Click(kDisplayObjectsCommand);
        ASSERT_TRUE(ListingEnded()) << what;
        EXPECT_EQ(20, MainWindowFixture::RowCount(AppState.ObjectListView)) << what;
    }
    EXPECT_TRUE(ui.Unexpected().empty()) << Narrow(ui.Unexpected()[0].caption) << " / "
                                         << Narrow(ui.Unexpected()[0].text);
}

}  // namespace
