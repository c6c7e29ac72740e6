// "Set user pincode policy": reading the policy, the fields as numbers, the
// level buttons, the SO login and every answer of the vendor setter.
#include "AdminFixture.h"
#include "res/resource.h"

#include <commctrl.h>

#include "app/AppState.h"
#include "cryptoki/ModuleLoader.h"
#include "support/CallCounter.h"
#include "support/TestFiles.h"

namespace {

const wchar_t kPolicyDialog[] = L"Set user pincode policy";
const wchar_t kStored[] = L"Successful pincode policy operation";
const wchar_t kCantSet[] = L"Can't set pincode policy";
const wchar_t kOutOfRangeText[] =
    L"Setting pincode policy failed duo to out of range argument.\nPlease check the entered numbers and try again.\r";
const int kLevelButtons[] = {IDC_POLICY_LEVEL1, IDC_POLICY_LEVEL2, IDC_POLICY_LEVEL3, IDC_POLICY_LEVEL4};

bool Checked(HWND dialog, int id) {
    return SendMessageW(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

const ExpectedWindow kCantGetPolicy = {
    L"Can't get pincode policy", L"Error in getting pincode policy. This function is not supported in this token\n\r"};

class PolicyCommandTest : public AdminTest {
protected:
    // The command on a token whose policy cannot be read: one box, owned
    // by the dialog, which ends without being shown.
    void RunExpectingOnlyTheCantGetBox() {
        ui_.Then(Step(kCantGetPolicy.caption));
        Run(kPinPolicyCommand);
        ASSERT_EQ(1u, Seen().size());
        ExpectWindow(0, kCantGetPolicy, Seen()[0].owner);
        EXPECT_NE(nullptr, Seen()[0].owner) << "owned by the dialog, which is never shown";
    }
};

class PinPolicyDialogTest : public PolicyCommandTest {
protected:
    void SetUp() override {
        AddToken(kTokenSlot);
        ASSERT_EQ(CKR_OK, TokenStore::Control().SetPolicy(kTokenSlot, 3, 7, 5, 12));
        Start();
    }

    // The four values stored on the token: level, max failed, min, max.
    std::vector<CK_ULONG> TokenPolicy() {
        CK_ULONG values[4] = {};
        Api()->C_GetUserPinPolicy(kTokenSlot, 1, &values[0], &values[1], &values[2], &values[3]);
        return {values[0], values[1], values[2], values[3]};
    }
};

TEST_F(PinPolicyDialogTest, OpensWithTheTokensValues) {
    std::wstring minLength, maxLength, maxFailed;
    bool levels[4] = {};
    int focus = 0;
    ui_.Then(Step(kPolicyDialog, {}, IDCANCEL, [&](HWND dialog) {
        minLength = ControlText(dialog, IDC_POLICY_MIN_LENGTH);
        maxLength = ControlText(dialog, IDC_POLICY_MAX_LENGTH);
        maxFailed = ControlText(dialog, IDC_POLICY_MAX_FAILED);
        for (int i = 0; i < 4; ++i)
            levels[i] = Checked(dialog, kLevelButtons[i]);
        focus = FocusedControlId(dialog);
    }));
    Run(kPinPolicyCommand);

    EXPECT_EQ(L"5", minLength);
    EXPECT_EQ(L"12", maxLength);
    EXPECT_EQ(L"7", maxFailed);
    EXPECT_FALSE(levels[0] || levels[1] || levels[3]);
    EXPECT_TRUE(levels[2]);
    EXPECT_EQ(IDC_POLICY_MIN_LENGTH, focus);
}

TEST_F(PinPolicyDialogTest, AModuleThatCannotReadThePolicyNeverShowsTheDialog) {
    Fault("C_GetUserPinPolicy", 1, CKR_FUNCTION_FAILED);
    RunExpectingOnlyTheCantGetBox();
}

// The fields are read as the run-time library reads a number.
TEST_F(PinPolicyDialogTest, FieldsAreReadAsLeadingDecimalNumbers) {
    const struct {
        const wchar_t* typed;
        CK_ULONG sent;
        bool stored;
    } rows[] = {
        {L"abc", 0, false},         // letters only: 0, out of range
        {L"6ab", 6, true},          // digits then letters: the digits
        {L"", 0, false},            // nothing: 0
        {L"  8", 8, true},          // leading blanks are skipped
        {L"-1", 0xFFFFFFFFu, false}, // a sign is read; the module sees a huge number
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Narrow(row.typed));
        CallCounter spy;
        ui_.Then(Step(kPolicyDialog, {{IDC_POLICY_MIN_LENGTH, row.typed}, {IDC_POLICY_SO_PIN, L"tolvane"}}))
            .Then(Step(row.stored ? kStored : kCantSet));
        if (!row.stored)
            ui_.Then(Step(kPolicyDialog, {}, IDCANCEL));
        Run(kPinPolicyCommand);

        const auto sets = spy.CallsOf("C_SetUserPinPolicy");
        ASSERT_EQ(1u, sets.size());
        EXPECT_EQ(row.sent, sets[0].numbers[2]);
        EXPECT_EQ(12u, sets[0].numbers[3]);
        EXPECT_EQ(7u, sets[0].numbers[1]);
        EXPECT_EQ(CKS_RW_PUBLIC_SESSION, SessionState());
    }
    EXPECT_EQ((std::vector<CK_ULONG>{3, 7, 8, 12}), TokenPolicy());
}

// No level button set gives level 0, which the token refuses; the SO stays
// logged in, so a second OK stores without a login whatever the SO PIN field
// holds.
TEST_F(PinPolicyDialogTest, NoLevelGivesZeroAndASecondOkNeedsNoSecondLogin) {
    CallCounter spy;
    CK_STATE stateWhileOpen = 0;
    int focus = 0;
    ui_.Then(Step(kPolicyDialog, {{IDC_POLICY_SO_PIN, L"tolvane"}}, IDOK,
                  [](HWND dialog) {
                      for (int id : kLevelButtons)
                          SendMessageW(GetDlgItem(dialog, id), BM_SETCHECK, BST_UNCHECKED, 0);
                  }))
        .Then(Step(kCantSet))
        .Then(Step(kPolicyDialog, {{IDC_POLICY_SO_PIN, L"garbage"}}, IDOK, [&](HWND dialog) {
            stateWhileOpen = SessionState();
            focus = FocusedControlId(dialog);
            SendMessageW(GetDlgItem(dialog, IDC_POLICY_LEVEL2), BM_SETCHECK, BST_CHECKED, 0);
        }))
        .Then(Step(kStored));
    Run(kPinPolicyCommand);

    ExpectWindow(1, {kCantSet, kOutOfRangeText}, Seen()[0].window);
    ExpectWindow(3, {kStored, L"User pincode policy stored successfully.\r\n"}, Seen()[0].window);
    EXPECT_EQ(CKS_RW_SO_FUNCTIONS, stateWhileOpen);
    EXPECT_EQ(IDC_POLICY_MIN_LENGTH, focus);
    const auto sets = spy.CallsOf("C_SetUserPinPolicy");
    ASSERT_EQ(2u, sets.size());
    EXPECT_EQ(0u, sets[0].numbers[0]);
    EXPECT_EQ(2u, sets[1].numbers[0]);
    EXPECT_EQ(1u, spy.CallsOf("C_Login").size());
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, SessionState());
    EXPECT_EQ((std::vector<CK_ULONG>{2, 7, 5, 12}), TokenPolicy());
}

TEST_F(PinPolicyDialogTest, CancelAfterAnOutOfRangeAnswerLogsTheSoOut) {
    ui_.Then(Step(kPolicyDialog, {{IDC_POLICY_MAX_FAILED, L"99"}, {IDC_POLICY_SO_PIN, L"tolvane"}}))
        .Then(Step(kCantSet))
        .Then(Step(kPolicyDialog, {}, IDCANCEL));
    Run(kPinPolicyCommand);

    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, SessionState());
    EXPECT_EQ((std::vector<CK_ULONG>{3, 7, 5, 12}), TokenPolicy());
}

TEST_F(PinPolicyDialogTest, AWrongSoPinKeepsTheEditedValues) {
    std::wstring minLength;
    int focus = 0;
    ui_.Then(Step(kPolicyDialog, {{IDC_POLICY_MIN_LENGTH, L"9"}, {IDC_POLICY_SO_PIN, L"wrongpin"}}))
        .Then(Step(L"Wrong SO pincode"))
        .Then(Step(kPolicyDialog, {}, IDCANCEL, [&](HWND dialog) {
            minLength = ControlText(dialog, IDC_POLICY_MIN_LENGTH);
            focus = FocusedControlId(dialog);
        }));
    Run(kPinPolicyCommand);

    ExpectWindow(1, {L"Wrong SO pincode", L"The SO pincode is wrong.\r\n"}, Seen()[0].window);
    EXPECT_EQ(L"9", minLength);
    EXPECT_EQ(IDC_POLICY_SO_PIN, focus);
}

// Failures that close the dialog, each with its plain box.
TEST_F(PinPolicyDialogTest, FailuresThatCloseTheDialog) {
    const struct {
        const char* function;
        CK_RV fault;
        ExpectedWindow box;
    } rows[] = {
        {"C_Login", CKR_PIN_LOCKED, {L"Locked SO pincode", L"The SO pincode is locked.\r\n"}},
        {"C_Login", CKR_DEVICE_ERROR, {L"SO login failure", L"An error occured during SO login.\r\n"}},
        {"C_SetUserPinPolicy", CKR_DEVICE_ERROR, {kCantSet, L"An error occured in setting pincode policy.\r"}},
    };
    for (const auto& row : rows) {
        const size_t first = Seen().size();
        Fault(row.function, 1, row.fault);
        ui_.Then(Step(kPolicyDialog, {{IDC_POLICY_SO_PIN, L"tolvane"}})).Then(Step(row.box.caption));
        Run(kPinPolicyCommand);
        ExpectWindow(first + 1, row.box, Seen()[first].window);
        EXPECT_EQ(CKS_RW_PUBLIC_SESSION, SessionState());
    }
    EXPECT_EQ((std::vector<CK_ULONG>{3, 7, 5, 12}), TokenPolicy());
}

TEST_F(PinPolicyDialogTest, ALoggedInUserIsLoggedOutByTheSoLogin) {
    LoginThroughDialog(kTestUserPin);
    ui_.Then(Step(kPolicyDialog, {{IDC_POLICY_SO_PIN, L"tolvane"}})).Then(Step(kStored));
    Run(kPinPolicyCommand);

    EXPECT_EQ(L"Login", LoginCaption());
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, SessionState());
}

// OK acts on the token of the opening, whatever is selected by then: the
// selection cleared while the dialog is open changes nothing of the run.
TEST_F(PinPolicyDialogTest, OkActsOnTheTokenOfTheOpeningWhateverIsSelectedThen) {
    CallCounter spy;
    ui_.Then(Step(kPolicyDialog, {{IDC_POLICY_SO_PIN, L"tolvane"}, {IDC_POLICY_MIN_LENGTH, L"6"}}, IDOK, [](HWND) {
           LVITEMW item = {};
           item.stateMask = LVIS_SELECTED;
           SendMessageW(AppState.TokenListView, LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
                        reinterpret_cast<LPARAM>(&item));
       })).Then(Step(kStored));
    Run(kPinPolicyCommand);

    EXPECT_EQ((std::vector<CK_ULONG>{3, 7, 6, 12}), TokenPolicy());
    EXPECT_EQ(1u, spy.CallsOf("C_SetUserPinPolicy").size());
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, SessionState());
}

// A module whose function list ends at the standard entries, followed by
// bytes that are no entries (a heap pointer, a made-up value): the program
// keeps no policy entries for it, so the command reports that the token
// cannot do it and ends the dialog without calling anything.
class PinPolicyWithoutVendorEntriesTest : public PolicyCommandTest {
protected:
    void SetUp() override {
        AddToken(kTokenSlot);
        const int started = window_.StartWith(
            [] {
                const std::wstring probe = BinFolder() + L"\\probes\\probe_no_vendor.dll";
                ASSERT_EQ(kModuleLoaded, LoadCryptokiModuleFrom(probe.c_str()));
            },
            true);
        ASSERT_EQ(0, started);
    }
};

TEST_F(PinPolicyWithoutVendorEntriesTest, TheCommandReportsNotSupportedAndCallsNothing) {
    ASSERT_EQ(nullptr, Cryptoki.FunctionList->C_GetUserPinPolicy);
    ASSERT_EQ(nullptr, Cryptoki.FunctionList->C_SetUserPinPolicy);
    CallCounter calls;
    RunExpectingOnlyTheCantGetBox();
    EXPECT_EQ(0, calls.Total()) << calls.Summary();
    EXPECT_TRUE(IsWindowEnabled(window_.Window())) << "the main window is usable again";
    EXPECT_EQ(nullptr, FindWindowW(L"#32770", kPolicyDialog)) << "the dialog is gone";
}

}  // namespace
