// Start-up with slot lists and tokens that fail: what is listed, opened,
// selected and reported, and that nothing lands outside the tables.
#include <gtest/gtest.h>

#include <vector>

#include "app/AppState.h"
#include "app/StartUp.h"
#include "app/TokenPanel.h"
#include "cryptoki/ModuleLoader.h"
#include "support/MainWindowFixture.h"
#include "support/UiDriver.h"

namespace {

// A function list that answers the token-present slot list as the test
// says and records the slots whose token information was asked for; every
// other call goes to the software token.
struct SlotListScript {
    CK_RV rv = CKR_OK;
    std::vector<CK_SLOT_ID> slots;  // written as far as the caller has room
    CK_ULONG answeredCount = 0;     // the count reported back
};

SlotListScript g_script;
std::vector<CK_SLOT_ID> g_tokenInfoSlots;
VendorFunctionList* g_real = nullptr;
VendorFunctionList g_scripted;

CK_RV ScriptedGetSlotList(CK_BBOOL present, CK_SLOT_ID_PTR list, CK_ULONG_PTR count) {
    if (!present)
        return g_real->C_GetSlotList(present, list, count);
    for (CK_ULONG i = 0; i < g_script.slots.size() && i < *count; ++i)
        list[i] = g_script.slots[i];
    *count = g_script.answeredCount;
    return g_script.rv;
}

CK_RV RecordingGetTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO_PTR info) {
    g_tokenInfoSlots.push_back(slot);
    return g_real->C_GetTokenInfo(slot, info);
}

void InstallScript() {
    g_real = Cryptoki.FunctionList;
    g_scripted = *g_real;
    g_scripted.C_GetSlotList = ScriptedGetSlotList;
    g_scripted.C_GetTokenInfo = RecordingGetTokenInfo;
    Cryptoki.FunctionList = &g_scripted;
    g_tokenInfoSlots.clear();
}

constexpr CK_SLOT_ID kCanary = 0xC0FFEE;

class StartUpSlotListTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(window_.AddToken(0, "Zero", "0"));
        ASSERT_TRUE(window_.AddToken(2, "Two", "2"));
        ASSERT_TRUE(window_.AddToken(3, "Three", "3"));
    }

    int StartScripted(const SlotListScript& script) {
        g_script = script;
        return window_.StartWith([] {
            InstallScript();
            for (CK_SLOT_ID& entry : AppState.SlotList)
                entry = kCanary;
        });
    }

    std::wstring Name(int row) { return MainWindowFixture::CellText(AppState.TokenListView, row, 0); }
    std::wstring Status(int row) { return MainWindowFixture::CellText(AppState.TokenListView, row, 1); }

    MainWindowFixture window_{4};
};

TEST_F(StartUpSlotListTest, FailedTokenListShowsNoToken) {
    UiDriver ui;
    SlotListScript script;
    script.rv = CKR_GENERAL_ERROR;
    script.answeredCount = 3;
    ASSERT_EQ(0, StartScripted(script));
    EXPECT_EQ(0u, AppState.TokenCount);
    EXPECT_TRUE(g_tokenInfoSlots.empty());
    EXPECT_EQ(4, MainWindowFixture::RowCount(AppState.TokenListView));
    EXPECT_EQ(L" ", Name(0));
    EXPECT_EQ(-1, AppState.CurrentSlot);
    EXPECT_TRUE(ui.Unexpected().empty());
}

TEST_F(StartUpSlotListTest, LargerCountIsCutToTheRoomGiven) {
    UiDriver ui;
    SlotListScript script;
    script.slots = {0, 2, 3, 3};
    script.answeredCount = 100;
    ASSERT_EQ(0, StartScripted(script));
    EXPECT_EQ(4u, AppState.TokenCount) << "room for as many as there are slots";
    for (int i = 4; i < kMaxSlots; ++i)
        ASSERT_EQ(kCanary, AppState.SlotList[i]) << "entry " << i;
    EXPECT_EQ(L"Zero", Name(0));
    EXPECT_EQ(L"Two", Name(2));
    EXPECT_EQ(L"Three", Name(3));
    EXPECT_EQ(0, AppState.CurrentSlot);
    EXPECT_TRUE(ui.Unexpected().empty());
}

TEST_F(StartUpSlotListTest, SlotsWithoutARowAreSkipped) {
    UiDriver ui;
    SlotListScript script;
    script.slots = {70, 5, 2};  // past the session table; past the slot count; a good one
    script.answeredCount = 3;
    ASSERT_EQ(0, StartScripted(script));
    EXPECT_EQ(std::vector<CK_SLOT_ID>{2}, g_tokenInfoSlots) << "the module is asked only about slot 2";
    EXPECT_EQ(L"Two", Name(2));
    EXPECT_EQ(L"Not logged in", Status(2));
    EXPECT_NE(0u, SessionTable[2]);
    for (int slot = 0; slot < kMaxSlots; ++slot) {
        if (slot != 2) {
            EXPECT_EQ(0u, SessionTable[slot]) << "slot " << slot;
        }
    }
    // The first entry was skipped, so no token is selected.
    EXPECT_EQ(-1, MainWindowFixture::SelectedRow(AppState.TokenListView));
    EXPECT_EQ(-1, AppState.CurrentSlot);
    EXPECT_TRUE(ui.Unexpected().empty());
}

TEST_F(StartUpSlotListTest, ModuleWithoutSlotsGivesAnEmptyList) {
    UiDriver ui;
    SlotListScript script;
    g_script = script;
    ASSERT_EQ(0, window_.StartWith([] {
        InstallScript();
        g_scripted.C_GetSlotList = [](CK_BBOOL, CK_SLOT_ID_PTR, CK_ULONG_PTR count) -> CK_RV {
            *count = 0;
            return CKR_OK;
        };
    }));
    EXPECT_EQ(0u, AppState.SlotCount);
    EXPECT_EQ(0, MainWindowFixture::RowCount(AppState.TokenListView));
    EXPECT_TRUE(IsWindow(window_.Window()));
    EXPECT_TRUE(ui.Unexpected().empty());
}

// The first token fails at one step: its report, later tokens still
// listed, nothing selected.
TEST(StartUpFailures, FirstTokenFailing) {
    const struct {
        const char* function;
        const wchar_t* report;
    } cases[] = {
        {"C_GetTokenInfo", L"An error occured due to CKR_DEVICE_ERROR 0x30\r\nCan't retreive token's information\r\n"},
        {"C_OpenSession", L"An error occured due to CKR_DEVICE_ERROR 0x30\r\nOpen session failed\r\n"},
    };
    for (const auto& c : cases) {
        MainWindowFixture window(4);
        ASSERT_TRUE(window.AddToken(0, "Zero", "0"));
        ASSERT_TRUE(window.AddToken(2, "Two", "2"));
        UiDriver ui;
        // The report comes in front of the window it is about.
        bool windowShownAtReport = false;
        ui.Then({L"", {}, [&windowShownAtReport](HWND) { windowShownAtReport = IsWindowVisible(AppState.MainWindow); },
                 IDOK});
        ASSERT_EQ(CKR_OK, TokenStore::Control().SetFault(c.function, 1, CKR_DEVICE_ERROR));
        ASSERT_EQ(0, window.Start());
        TokenStore::Control().ClearFaults();
        std::string why;
        ASSERT_TRUE(ui.WaitDone(&why)) << why;
        ASSERT_EQ(1u, ui.Seen().size());
        EXPECT_EQ(L"PKCS#11 error", ui.Seen()[0].caption) << c.function;
        EXPECT_EQ(c.report, ui.Seen()[0].text) << c.function;
        EXPECT_EQ(nullptr, ui.Seen()[0].owner);
        EXPECT_TRUE(windowShownAtReport) << c.function;
        EXPECT_TRUE(ui.Unexpected().empty());

        EXPECT_EQ(L" ", MainWindowFixture::CellText(AppState.TokenListView, 0, 0)) << c.function;
        EXPECT_EQ(L"", MainWindowFixture::CellText(AppState.TokenListView, 0, 1)) << c.function;
        EXPECT_EQ(L"Two", MainWindowFixture::CellText(AppState.TokenListView, 2, 0)) << c.function;
        EXPECT_EQ(L"Not logged in", MainWindowFixture::CellText(AppState.TokenListView, 2, 1)) << c.function;
        EXPECT_NE(0u, SessionTable[2]);
        EXPECT_EQ(-1, MainWindowFixture::SelectedRow(AppState.TokenListView));
        EXPECT_EQ(0, MainWindowFixture::RowCount(AppState.TokenInfoView));
        EXPECT_FALSE(window.ButtonEnabled(kLoginButton));
    }
}

TEST(StartUpFailures, SlotCountUnreadable) {
    MainWindowFixture window(2);
    ASSERT_TRUE(window.AddToken(0, "Zero", "0"));
    UiDriver ui;
    ui.Press(IDOK);
    ASSERT_EQ(CKR_OK, TokenStore::Control().SetFault("C_GetSlotList", 1, CKR_GENERAL_ERROR));
    EXPECT_EQ(kExitNoSlotCount, window.Start());
    TokenStore::Control().ClearFaults();
    std::string why;
    ASSERT_TRUE(ui.WaitDone(&why)) << why;
    ASSERT_EQ(1u, ui.Seen().size());
    EXPECT_EQ(L"PKCS#11 loading Failed", ui.Seen()[0].caption);
    EXPECT_EQ(L"Error in getting token slots\r\n", ui.Seen()[0].text);
    EXPECT_EQ(nullptr, window.Window()) << "no window";
    // The window made while the module loaded is gone without ending a
    // later message loop of this thread.
    MSG quit;
    EXPECT_FALSE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

// What the main window held when it was first shown.
struct ShownState {
    int shows = 0;
    int rows = -1;
    std::wstring firstName;
    int selected = -2;
    int panelRows = -1;
};
ShownState g_shown;

LRESULT CALLBACK RecordShow(int code, WPARAM wParam, LPARAM lParam) {
    const auto& call = *reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call.message == WM_SHOWWINDOW && call.wParam && call.hwnd == AppState.MainWindow &&
        g_shown.shows++ == 0) {
        g_shown.rows = MainWindowFixture::RowCount(AppState.TokenListView);
        g_shown.firstName = MainWindowFixture::CellText(AppState.TokenListView, 0, 0);
        g_shown.selected = MainWindowFixture::SelectedRow(AppState.TokenListView);
        g_shown.panelRows = MainWindowFixture::RowCount(AppState.TokenInfoView);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The window appears once, already filled: every row, the first token
// selected and its panel, and the keyboard in the token list.
TEST(StartUpShow, WindowAppearsOnceFilled) {
    MainWindowFixture window(4);
    ASSERT_TRUE(window.AddToken(0, "Zero", "0"));
    ASSERT_TRUE(window.AddToken(2, "Two", "2"));
    g_shown = ShownState();
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, RecordShow, nullptr, GetCurrentThreadId());
    ASSERT_TRUE(hook);
    const int result = window.Start();
    UnhookWindowsHookEx(hook);
    ASSERT_EQ(0, result);
    EXPECT_EQ(1, g_shown.shows);
    EXPECT_EQ(4, g_shown.rows);
    EXPECT_EQ(L"Zero", g_shown.firstName);
    EXPECT_EQ(0, g_shown.selected);
    EXPECT_EQ(6, g_shown.panelRows);
    EXPECT_EQ(AppState.TokenListView, GetFocus());
}

}  // namespace
