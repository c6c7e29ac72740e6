// "Clear token": the warning, the SO PIN, the label field and the fresh
// session the slot gets.
#include "AdminFixture.h"
#include "support/CallCounter.h"
#include "res/resource.h"

#include <commctrl.h>

#include "app/AppState.h"

namespace {

const wchar_t kClearDialog[] = L"Clear token";
const wchar_t kWarningText[] =
    L"Initializing token removes all objects and closes all sessions.\nDo you want to continue?\n\r";

class ClearTokenDialogTest : public AdminTest {
protected:
    void SetUp() override {
        AddToken(kTokenSlot);
        Start();
    }

    // The warning, answered Yes; the dialog then opens.
    void AcceptWarning() { ui_.Then(Step(L"Warning", {}, IDYES)); }
};

TEST_F(ClearTokenDialogTest, NoToTheWarningLeavesTheTokenUntouched) {
    CallCounter spy;
    std::wstring ownerCaption;
    ui_.Then(Step(L"Warning", {}, IDNO, [&](HWND box) {
        wchar_t caption[64] = {};
        GetWindowTextW(GetWindow(box, GW_OWNER), caption, 64);
        ownerCaption = caption;
    }));
    Run(kClearTokenCommand);

    ExpectWindow(0, {L"Warning", kWarningText}, Seen()[0].owner);
    EXPECT_EQ(kClearDialog, ownerCaption) << "the warning belongs to the dialog";
    EXPECT_TRUE(spy.Calls().empty());
    EXPECT_TRUE(TokenFlags() & CKF_USER_PIN_INITIALIZED);
}

TEST_F(ClearTokenDialogTest, AThreeCharacterSoPinClosesAndInitialisesNothing) {
    CallCounter spy;
    int focus = 0;
    AcceptWarning();
    ui_.Then(Step(kClearDialog, {{IDC_CLEAR_SO_PIN, L"tol"}}))
        .Then(Step(L"Wrong pincode"))
        .Then(Step(kClearDialog, {}, IDCANCEL, [&](HWND dialog) { focus = FocusedControlId(dialog); }));
    Run(kClearTokenCommand);

    ExpectWindow(2, {L"Wrong pincode", L"The entered SO pincode is too short.\r\n"}, Seen()[1].window);
    EXPECT_EQ(IDC_CLEAR_SO_PIN, focus);
    EXPECT_TRUE(spy.Calls().empty());
}

// The session is replaced although the token was not initialised: the
// user's login is gone with the old one.
TEST_F(ClearTokenDialogTest, AWrongSoPinStillReplacesTheSession) {
    LoginThroughDialog(kTestUserPin);
    const CK_SESSION_HANDLE before = Session();
    const size_t first = Seen().size();
    std::wstring soPinAfter = L"unread";
    AcceptWarning();
    ui_.Then(Step(kClearDialog, {{IDC_CLEAR_SO_PIN, L"wrongpin"}}))
        .Then(Step(L"Wrong pincode"))
        .Then(Step(kClearDialog, {}, IDCANCEL, [&](HWND dialog) { soPinAfter = ControlText(dialog, IDC_CLEAR_SO_PIN); }));
    Run(kClearTokenCommand);

    ExpectWindow(first + 2,
                 {L"Wrong pincode", CkReport(L"CKR_PIN_INCORRECT 0xa0", L"The entered SO pincode is wrong.\r\n")},
                 nullptr);
    EXPECT_EQ(L"", soPinAfter);
    EXPECT_NE(before, Session());
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, SessionState());
    EXPECT_EQ(L"Not logged in", RowStatus(kTokenSlot));
    EXPECT_EQ(L"Login", LoginCaption());
    EXPECT_TRUE(PinWorks(CKU_USER, kTestUserPin)) << "the token was not initialised";
}

struct LabelRow {
    const wchar_t* typed;  // null: the preset label is kept
    std::string field;     // the 32 bytes C_InitToken gets
    const wchar_t* rowName;
};

const LabelRow kLabelRows[] = {
    // The preset label.
    {nullptr, "Tolvane                         ", L"Tolvane"},
    // An empty field gives 32 blanks and an empty row name.
    {L"", std::string(32, ' '), L""},
    // 32 characters fill the field without blanks.
    {L"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", L"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"},
    // Longer input is cut at 32 characters.
    {L"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345",
     L"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"},
    // Blanks inside stay.
    {L"New token 2", "New token 2                     ", L"New token 2"},
};

TEST_F(ClearTokenDialogTest, ClearsTheTokenAndShowsItsNewLabelAndInformation) {
    for (const LabelRow& row : kLabelRows) {
        SCOPED_TRACE(Narrow(row.rowName));
        ASSERT_EQ(CKR_OK, TokenStore::Control().SetUserPin(kTokenSlot, kTestUserPin));
        SendMessageW(AppState.TokenInfoView, LVM_DELETEALLITEMS, 0, 0);
        CallCounter spy;
        const size_t first = Seen().size();
        std::vector<std::pair<int, std::wstring>> edits = {{IDC_CLEAR_SO_PIN, L"tolvane"}};
        if (row.typed)
            edits.push_back({IDC_CLEAR_LABEL, row.typed});
        AcceptWarning();
        ui_.Then(Step(kClearDialog, edits)).Then(Step(L""));
        Run(kClearTokenCommand);

        ExpectWindow(first + 2, {L"", L"Token initialized successfully.\r\n"}, Seen()[first + 1].window);
        const auto inits = spy.CallsOf("C_InitToken");
        ASSERT_EQ(1u, inits.size());
        EXPECT_EQ(row.field, inits[0].label);
        EXPECT_EQ("tolvane", inits[0].pin);
        EXPECT_EQ("C_CloseAllSessions C_InitToken C_OpenSession", spy.Sequence());
        EXPECT_EQ(row.rowName, RowName(kTokenSlot));
        EXPECT_EQ(L"0", PanelValue(0)) << "the panel was filled again";
        EXPECT_EQ(L"Tolvane", PanelValue(1));
        EXPECT_FALSE(TokenFlags() & CKF_USER_PIN_INITIALIZED) << "the user PIN went with the token's contents";
        EXPECT_EQ(CKS_RW_PUBLIC_SESSION, SessionState());
    }
}

TEST_F(ClearTokenDialogTest, LockedAndOtherFailuresCloseTheDialogAndKeepTheRowLabel) {
    const struct {
        CK_RV fault;
        ExpectedWindow report;
    } rows[] = {
        {CKR_PIN_LOCKED, {L"Locked pincode", CkReport(L"CKR_PIN_LOCKED 0xa4", L"The SO pincode is locked.\r\n")}},
        {CKR_DEVICE_ERROR, {L"Error", CkReport(L"CKR_DEVICE_ERROR 0x30", L"An error occured.\r\n")}},
    };
    const std::wstring label = RowName(kTokenSlot);
    for (const auto& row : rows) {
        const size_t first = Seen().size();
        Fault("C_InitToken", 1, row.fault);
        AcceptWarning();
        ui_.Then(Step(kClearDialog, {{IDC_CLEAR_SO_PIN, L"tolvane"}, {IDC_CLEAR_LABEL, L"Other"}}))
            .Then(Step(row.report.caption));
        Run(kClearTokenCommand);
        ExpectWindow(first + 2, row.report, nullptr);
        EXPECT_EQ(label, RowName(kTokenSlot));
        EXPECT_EQ(CKS_RW_PUBLIC_SESSION, SessionState()) << "the slot has a new public session";
    }
}

// A slot whose new session cannot be opened keeps no handle at all, not
// the closed one, which the module may give to another session later.
TEST_F(ClearTokenDialogTest, ASessionThatCannotBeReopenedLeavesNoStaleHandle) {
    Fault("C_OpenSession", 1, CKR_DEVICE_ERROR);
    AcceptWarning();
    ui_.Then(Step(kClearDialog, {{IDC_CLEAR_SO_PIN, L"tolvane"}})).Then(Step(L""));
    Run(kClearTokenCommand);

    EXPECT_EQ(CK_INVALID_HANDLE, Session());
    EXPECT_FALSE(TokenFlags() & CKF_USER_PIN_INITIALIZED) << "the token itself was initialised";
}

}  // namespace
