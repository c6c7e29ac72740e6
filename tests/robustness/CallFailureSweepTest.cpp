// Every Cryptoki call of each command failing in turn: for each command,
// the first call fails, then the second, and so on until the command gets
// through without reaching the failing call. Each run starts from a fresh
// token and window. Whatever the command then says, the program neither
// crashes nor hangs nor damages its heap, takes input again, and shows the
// session state the module reports.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
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
#include "support/DirectListing.h"
#include "support/MainWindowFixture.h"
#include "support/ObjectTemplates.h"
#include "support/TestFiles.h"

namespace {

constexpr int kSlot = 0;
constexpr int kFileNameBox = 1148;  // the file dialogs' "File name" box
constexpr long kMostCalls = 120;    // more than any command makes

struct Command {
    const char* what;
    bool userPin;                        // the token has one
    bool loggedIn;                       // the user logs in before the command
    bool listed;                         // the objects are listed, the last row selected
    std::wstring caption;                // the command's dialog; empty: none
    std::vector<std::pair<int, std::wstring>> edits;
    int button;
    DialogSweeper::Answers before;       // boxes on the way to the dialog
    std::function<void(MainWindowFixture&)> run;
};

std::function<void(MainWindowFixture&)> Click(int id) {
    return [id](MainWindowFixture& window) { window.Click(id); };
}

std::vector<Command> Commands(const std::wstring& exportPath) {
    const std::wstring pfx = FixturePath(L"imp_modern.pfx");
    const std::wstring certificate = FixturePath(L"cn_two.der");
    return {
        {"login", true, false, false, L"Login to token", {{IDC_LOGIN_PIN, L"1234"}}, IDOK, {}, Click(kLoginCommand)},
        {"logout", true, true, false, L"", {}, 0, {}, Click(kLoginCommand)},
        {"listing", true, true, false, L"", {}, 0, {}, Click(kDisplayObjectsCommand)},
        {"change PIN", true, true, false, L"Change pincode",
         {{IDC_CHANGE_OLD_PIN, L"1234"}, {IDC_CHANGE_NEW_PIN, L"5678"}, {IDC_CHANGE_CONFIRM_PIN, L"5678"}}, IDOK, {},
         Click(kChangePinCommand)},
        {"default user PIN", false, false, false, L"", {}, 0, {}, Click(kDefaultUserPinCommand)},
        {"clear token", true, false, false, L"Clear token", {{IDC_CLEAR_SO_PIN, L"tolvane"}, {IDC_CLEAR_LABEL, L"New"}},
         IDOK, {{L"Warning", IDYES}}, Click(kClearTokenCommand)},
        {"unblock", true, false, false, L"Unblock user pincode",
         {{IDC_UNBLOCK_SO_PIN, L"tolvane"}, {IDC_UNBLOCK_USER_PIN, L"5678"}, {IDC_UNBLOCK_CONFIRM_PIN, L"5678"}}, IDOK,
         {}, Click(kUnblockPinCommand)},
        {"change SO PIN", true, false, false, L"Change SO pincode",
         {{IDC_SOPIN_OLD, L"tolvane"}, {IDC_SOPIN_NEW, L"new-so"}, {IDC_SOPIN_CONFIRM, L"new-so"}}, IDOK, {},
         Click(kChangeSoPinCommand)},
        {"PIN policy", true, false, false, L"Set user pincode policy", {{IDC_POLICY_SO_PIN, L"tolvane"}}, IDOK, {},
         Click(kPinPolicyCommand)},
        {"certificate import", true, true, false, L"Open", {{kFileNameBox, certificate}}, IDOK, {},
         Click(kImportCommand)},
        {"PFX import", true, true, false, L"Import pfx properties", {{IDC_PFX_PASSWORD, L"secret"}}, IDOK, {},
         [pfx](MainWindowFixture& window) {
             PfxImportState = PfxImportStateRecord();
             wcsncpy(PfxImportState.PfxFilePath, pfx.c_str(), kPfxPathCapacity - 1);
             PfxImportState.DialogSlot = kSlot;
             OpenPfxImportDialog(BindObjectCommand());
         }},
        {"export", true, false, true, L"Save As", {{kFileNameBox, exportPath}}, IDOK, {},
         Click(kExportCertificateCommand)},
        {"deletion", true, true, true, L"Remove object", {}, IDYES, {}, Click(kDeleteObjectsCommand)},
        {"CSR", true, false, false, L"Generate CSR", {{IDC_CSR_PIN, L"1234"}}, IDOK, {},
         Click(kGenerateCsrCommand)},
    };
}

std::wstring TokenCell(int column) {
    return MainWindowFixture::CellText(AppState.TokenListView, kSlot, column);
}

// One run of `command` with call `failing` answering CKR_DEVICE_ERROR.
// Returns whether the command reached that call.
bool RunWithFailingCall(const Command& command, long failing, const std::string& what) {
    MainWindowFixture window(1);
    SoftTokenParams params = {};
    params.label = "Sweep";
    params.serial = "SW0001";
    params.userPin = command.userPin ? "1234" : nullptr;
    EXPECT_TRUE(window.AddToken(kSlot, params)) << what;
    std::vector<ObjectTemplate> objects = {ObjectTemplate::Data("note"),
                                           ObjectTemplate::Certificate(ReadFixture(L"cn_simple.der"), "Alice")};
    EXPECT_EQ(CKR_OK, AddTokenObjects(kSlot, objects)) << what;
    EXPECT_EQ(0, window.Start(true)) << what;
    VendorFunctionList* api = Cryptoki.FunctionList;
    CK_UTF8CHAR pin[] = "1234";
    if (command.loggedIn) {
        // As the login dialog leaves the window: buttons and row follow.
        EXPECT_EQ(CKR_OK, api->C_Login(SessionTable[kSlot], CKU_USER, pin, 4)) << what;
        UpdateButtonsForState(CKS_RW_USER_FUNCTIONS);
        SetTokenRowStatus(CKS_RW_USER_FUNCTIONS, kSlot);
    }
    if (command.listed) {
        EXPECT_EQ(0, ListTokenObjectsHere(AppState.ObjectListView, kSlot)) << what;
        window.ClickObjectRow(MainWindowFixture::RowCount(AppState.ObjectListView) - 1);
    }
    AppState.PublicOnlyWarningArmed = false;

    const SoftTokenFunctions& token = TokenStore::Control();
    token.SetFault("*", static_cast<CK_ULONG>(failing), CKR_DEVICE_ERROR);
    {
        DialogSweeper sweeper(
            command.caption,
            [&command](HWND dialog) {
                FillEdits(dialog, command.edits);
                PressButton(dialog, command.button);
            },
            [] { return !AppState.Busy; }, command.before);
        command.run(window);
        EXPECT_TRUE(window.PumpUntil([] { return !AppState.Busy && !DialogSweeper::AnyDialogOpen(); }, 30000))
            << what << ": the command never ended";
        // The end of the command gives the token list back to the user; the
        // check below fails when it never does.
        window.PumpUntil([] { return IsWindowEnabled(AppState.TokenListView) != FALSE; }, 5000);
    }
    CK_ULONG pending = 0;
    token.PendingFaults(&pending);
    char failed[64] = {};
    token.LastFaultFunction(failed, sizeof failed);
    token.ClearFaults();
    // A failed read of the state leaves the window showing what it showed.
    const bool stateRead = strcmp(failed, "C_GetSessionInfo") == 0 || strcmp(failed, "C_GetTokenInfo") == 0;

    EXPECT_TRUE(ProcessHeapsAreIntact()) << what;
    EXPECT_TRUE(IsWindowEnabled(AppState.TokenListView)) << what << ": the token list takes no input";
    // The row and the Login button tell the session's state as the module has it.
    CK_SESSION_INFO info = {};
    if (!stateRead && api->C_GetSessionInfo(SessionTable[kSlot], &info) == CKR_OK) {
        const bool user = info.state == CKS_RW_USER_FUNCTIONS;
        EXPECT_EQ(user ? L"Logged in" : L"Not logged in", TokenCell(1)) << what << " (" << failed << ")";
        EXPECT_EQ(user ? kLogoutCaption : kLoginCaption, window.ButtonCaption(kLoginButton))
            << what << " (" << failed << ")";
    }
    return pending == 0;
}

// One test a command, each within the per-test time limit.
class CallFailureSweep : public testing::TestWithParam<const char*> {};

TEST_P(CallFailureSweep, EveryCallFailsInTurn) {
    TempFolder files;
    const std::wstring exported = files.File(L"exported.crt");
    const std::vector<Command> commands = Commands(exported);
    const auto found = std::find_if(commands.begin(), commands.end(),
                                    [](const Command& c) { return std::string(c.what) == GetParam(); });
    ASSERT_NE(found, commands.end()) << GetParam();
    const Command& command = *found;
    long failing = 1;
    // Each export writes a new file: no overwrite prompt stands in the way.
    while (failing < kMostCalls && !HasFailure() && (DeleteFileW(exported.c_str()) || true) &&
           RunWithFailingCall(command, failing, std::string(command.what) + ", call " + std::to_string(failing) +
                                                    " failing"))
        ++failing;
    EXPECT_LT(failing, kMostCalls) << command.what << ": never got through";
    EXPECT_GT(failing, 1) << command.what << ": made no Cryptoki call";
    RecordProperty("failed_calls", static_cast<int>(failing - 1));
    printf("%s: each of %ld Cryptoki calls failed in turn\n", command.what, failing - 1);
}

INSTANTIATE_TEST_SUITE_P(Commands, CallFailureSweep,
                         testing::Values("login", "logout", "listing", "change PIN", "default user PIN", "clear token",
                                         "unblock", "change SO PIN", "PIN policy", "certificate import", "PFX import",
                                         "export", "deletion", "CSR"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             std::string name;
                             for (const char* c = info.param; *c; ++c)
                                 name += isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return name;
                         });

}  // namespace
