// The token pulled out while each of the program's modal dialogs is open,
// then the dialog pressed as the user would: the slot monitor's messages
// are carried out by the dialog's own loop, so the window blanks the token
// while the dialog is still up; what the dialog then tries fails without a
// crash, never reports a success, and leaves the window showing no token.
// The token put back still has its PINs and its objects.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "RobustnessSupport.h"
#include "app/AppState.h"
#include "app/Commands.h"
#include "app/ControlIds.h"
#include "app/MainWindowHost.h"
#include "app/TokenPanel.h"
#include "cryptoki/ModuleLoader.h"
#include "import/PfxImportDialog.h"
#include "import/PfxImportState.h"
#include "res/resource.h"
#include "support/DialogSweeper.h"
#include "support/MainWindowFixture.h"
#include "support/ObjectTemplates.h"
#include "support/SlotMonitorRun.h"
#include "support/TestFiles.h"

namespace {

constexpr int kSlot = 0;
constexpr int kObjects = 3;
constexpr char kSoPin[] = "tolvane";

std::wstring TokenCell(int column) {
    return MainWindowFixture::CellText(AppState.TokenListView, kSlot, column);
}

bool SaysSuccess(const SeenWindow& box) {
    std::wstring all = box.caption + L" " + box.text;
    std::transform(all.begin(), all.end(), all.begin(), [](wchar_t c) { return static_cast<wchar_t>(towlower(c)); });
    return all.find(L"success") != std::wstring::npos;
}

struct ModalCase {
    const char* what;
    std::wstring caption;
    std::vector<std::pair<int, std::wstring>> edits;
    int button;
    bool userLoggedIn;                           // before the dialog opens
    std::function<void(MainWindowFixture&)> open;  // opens the dialog (modal)
    DialogSweeper::Answers before;                  // boxes on the way to it
};

void Command(MainWindowFixture& window, int id) {
    window.Click(id);
}

std::vector<ModalCase> Cases() {
    return {
        {"change PIN", L"Change pincode",
         {{IDC_CHANGE_OLD_PIN, L"1234"}, {IDC_CHANGE_NEW_PIN, L"5678"}, {IDC_CHANGE_CONFIRM_PIN, L"5678"}}, IDOK, true,
         [](MainWindowFixture& w) { Command(w, kChangePinCommand); }},
        {"clear token", L"Clear token", {{IDC_CLEAR_SO_PIN, L"tolvane"}, {IDC_CLEAR_LABEL, L"Cleared"}}, IDOK, false,
         [](MainWindowFixture& w) { Command(w, kClearTokenCommand); }, {{L"Warning", IDYES}}},
        {"unblock", L"Unblock user pincode",
         {{IDC_UNBLOCK_USER_PIN, L"5678"}, {IDC_UNBLOCK_CONFIRM_PIN, L"5678"}, {IDC_UNBLOCK_SO_PIN, L"tolvane"}}, IDOK,
         false, [](MainWindowFixture& w) { Command(w, kUnblockPinCommand); }},
        {"change SO PIN", L"Change SO pincode",
         {{IDC_SOPIN_OLD, L"tolvane"}, {IDC_SOPIN_NEW, L"sopin789"}, {IDC_SOPIN_CONFIRM, L"sopin789"}}, IDOK, false,
         [](MainWindowFixture& w) { Command(w, kChangeSoPinCommand); }},
        {"PIN policy", L"Set user pincode policy", {{IDC_POLICY_SO_PIN, L"tolvane"}}, IDOK, false,
         [](MainWindowFixture& w) { Command(w, kPinPolicyCommand); }},
        {"PFX options", L"Import pfx properties", {{IDC_PFX_PASSWORD, L"secret"}}, IDOK, true,
         [](MainWindowFixture& w) {
             PfxImportState = PfxImportStateRecord();
             wcsncpy(PfxImportState.PfxFilePath, FixturePath(L"imp_modern.pfx").c_str(), kPfxPathCapacity - 1);
             PfxImportState.DialogSlot = kSlot;
             OpenPfxImportDialog(BindObjectCommand());
         }},
        {"CSR", L"Generate CSR", {{IDC_CSR_PIN, L"1234"}}, IDOK, false,
         [](MainWindowFixture& w) { Command(w, kGenerateCsrCommand); }},
        {"deletion confirmation", L"Remove object", {}, IDYES, false,
         [](MainWindowFixture& w) {
             AppState.PublicOnlyWarningArmed = false;
             w.Click(kDisplayObjectsCommand);
             w.PumpUntil([] { return !AppState.Busy && MainWindowFixture::RowCount(AppState.ObjectListView) > 0; },
                         10000);
             w.ClickObjectRow(0);
             w.Click(kDeleteObjectsCommand);
         }},
    };
}

class ModalSlotEventTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(window_.AddToken(kSlot, "Modal", "M0001"));
        std::vector<ObjectTemplate> objects;
        for (int i = 0; i < kObjects; ++i)
            objects.push_back(ObjectTemplate::Data("kept " + std::to_string(i)));
        ASSERT_EQ(CKR_OK, AddTokenObjects(kSlot, objects));
        ASSERT_EQ(0, window_.Start(true));  // administrator mode: every dialog
        monitor_.reset(new SlotMonitorRun);
        ASSERT_TRUE(monitor_->Running());
    }
    void TearDown() override {
        if (monitor_) {
            EXPECT_TRUE(monitor_->Stop(window_)) << "the slot monitor did not end";
        }
    }

    CK_RV Login(CK_USER_TYPE user, const char* pin) {
        return Cryptoki.FunctionList->C_Login(SessionTable[kSlot], user,
                                              reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin)),
                                              static_cast<CK_ULONG>(strlen(pin)));
    }

    // Back in: shown as not logged in, with both PINs and every object.
    void ExpectTokenBackUnchanged(const std::string& what) {
        ASSERT_EQ(CKR_OK, TokenStore::Control().InsertToken(kSlot)) << what;
        ASSERT_TRUE(window_.PumpUntil([] { return TokenCell(0) == L"Modal"; }, 10000)) << what;
        EXPECT_TRUE(window_.PumpUntilMonitorIdle()) << what << ": the slot monitor did not settle";
        EXPECT_EQ(L"Not logged in", TokenCell(1)) << what;
        EXPECT_TRUE(window_.ButtonEnabled(kLoginButton)) << what;
        EXPECT_EQ(CKR_OK, Login(CKU_SO, kSoPin)) << what << ": the SO PIN";
        Cryptoki.FunctionList->C_Logout(SessionTable[kSlot]);
        ASSERT_EQ(CKR_OK, Login(CKU_USER, kTestUserPin)) << what << ": the user PIN";
        window_.Click(kDisplayObjectsCommand);
        EXPECT_TRUE(window_.PumpUntil([] { return !AppState.Busy && IsWindowEnabled(AppState.TokenListView); }, 10000));
        EXPECT_EQ(kObjects, MainWindowFixture::RowCount(AppState.ObjectListView)) << what;
        Cryptoki.FunctionList->C_Logout(SessionTable[kSlot]);
    }

    MainWindowFixture window_{1};
    std::unique_ptr<SlotMonitorRun> monitor_;
};

TEST_F(ModalSlotEventTest, TokenPulledWhileEachDialogIsOpen) {
    for (const ModalCase& c : Cases()) {
        const std::string what = c.what;
        if (c.userLoggedIn) {
            ASSERT_EQ(CKR_OK, Login(CKU_USER, kTestUserPin)) << what;
        }
        window_.ClickTokenRow(kSlot);
        bool blankedWhileOpen = false;
        DialogSweeper sweeper(
            c.caption,
            [&c, &blankedWhileOpen](HWND dialog) {
                FillEdits(dialog, c.edits);
                TokenStore::Control().RemoveToken(kSlot);
                for (int i = 0; i < 200 && !blankedWhileOpen; ++i) {
                    blankedWhileOpen = TokenCell(0).empty();
                    Sleep(25);
                }
                PressButton(dialog, c.button);
            },
            [] { return !AppState.Busy; }, c.before);
        c.open(window_);
        EXPECT_TRUE(window_.PumpUntil([] { return !AppState.Busy && !DialogSweeper::AnyDialogOpen(); }, 20000))
            << what << ": the dialog's work never ended";
        EXPECT_TRUE(sweeper.Started()) << what << ": the dialog did not open; seen: " << Captions(sweeper.Closed());
        EXPECT_TRUE(blankedWhileOpen) << what << ": the window did not follow the pull while the dialog was open";
        for (const SeenWindow& box : sweeper.Closed())
            EXPECT_FALSE(SaysSuccess(box)) << what << ": " << Narrow(box.caption) << " / " << Narrow(box.text);
        window_.ExpectNoTokenShown(kSlot, what);
        EXPECT_TRUE(ProcessHeapsAreIntact()) << what;
        ExpectTokenBackUnchanged(what);
    }
}

}  // namespace
