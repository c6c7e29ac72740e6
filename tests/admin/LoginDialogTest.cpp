// "Login to token" against the software token: every answer of C_Login,
// the final-try warning, the PIN length rules and the logout path.
#include "AdminFixture.h"
#include "support/CallCounter.h"
#include "res/resource.h"

#include <commctrl.h>

#include "app/AppState.h"
#include "app/MainWindowHost.h"
#include "objects/ObjectListing.h"

namespace {

const wchar_t kLoginDialog[] = L"Login to token";
const wchar_t kLoginError[] = L"Login error";
const wchar_t kKeyboardHint[] = L"Please note that your system keyboard language should be english (EN).\n\r";

class LoginDialogTest : public AdminTest {};

// One answer of C_Login and what the dialog does with it.
struct LoginRow {
    const char* name;
    CK_RV fault;           // 0: the token answers by itself
    const char* userPin;   // the token's user PIN; null: none set
    const wchar_t* typed;
    std::wstring report;   // empty: no report
    bool stays;
    const wchar_t* editAfter;  // the PIN edit when the dialog stays
};

const LoginRow kLoginRows[] = {
    // The right PIN logs in and closes the dialog.
    {"ok", 0, "1234", L"1234", L"", false, nullptr},
    // A wrong PIN empties the edit for another try.
    {"wrong", 0, "1234", L"9999",
     CkReport(L"CKR_PIN_INCORRECT 0xa0", L"The entered pincode is wrong\r\n"), true, L""},
    // A token without user PIN says how to get one; the PIN stays typed.
    {"not initialised", 0, nullptr, L"1234",
     CkReport(L"CKR_USER_PIN_NOT_INITIALIZED 0x102",
              L"User pincode is not initailized.\nYou should first login as SO and then initialize user "
              L"pincode using Init Pin.\r\n"),
     true, L"1234"},
    // A locked PIN closes the dialog.
    {"locked", CKR_PIN_LOCKED, "1234", L"1234", CkReport(L"CKR_PIN_LOCKED 0xa4", L"User pincode is locked.\r\n"),
     false, nullptr},
    // Out of the policy's range: the PIN stays for correction.
    {"length range", CKR_PIN_LEN_RANGE, "1234", L"1234",
     CkReport(L"CKR_PIN_LEN_RANGE 0xa2",
              std::wstring(L"The specified pincode is too long or too short according to pincode policy.\n") +
                  kKeyboardHint),
     true, L"1234"},
    {"arguments bad", CKR_ARGUMENTS_BAD, "1234", L"1234",
     CkReport(L"CKR_ARGUMENTS_BAD 0x7",
              std::wstring(L"The specified pincode is either too long/short or it's doesn't satisfy pincode "
                           L"policy.\n") +
                  kKeyboardHint),
     true, L"1234"},
    // Any other answer closes the dialog.
    {"device error", CKR_DEVICE_ERROR, "1234", L"1234", CkReport(L"CKR_DEVICE_ERROR 0x30", L"An error occured.\r\n"),
     false, nullptr},
};

class LoginResultTest : public AdminTest, public testing::WithParamInterface<LoginRow> {};

TEST_P(LoginResultTest, ReportsAndKeepsOrClosesTheDialog) {
    const LoginRow& row = GetParam();
    AddToken(kTokenSlot, row.userPin);
    Start(false);
    if (row.fault)
        Fault("C_Login", 1, row.fault);
    std::wstring editAfter;
    int focusAfter = 0;
    ui_.Then(Step(kLoginDialog, {{IDC_LOGIN_PIN, row.typed}}));
    if (!row.report.empty())
        ui_.Then(Step(kLoginError));
    if (row.stays)
        ui_.Then(Step(kLoginDialog, {}, IDCANCEL, [&](HWND dialog) {
            editAfter = ControlText(dialog, IDC_LOGIN_PIN);
            focusAfter = FocusedControlId(dialog);
        }));
    Run(kLoginCommand);

    const bool loggedIn = row.report.empty();
    if (!loggedIn)
        ExpectWindow(1, {kLoginError, row.report}, nullptr);
    if (row.stays) {
        EXPECT_EQ(row.editAfter, editAfter);
        EXPECT_EQ(IDC_LOGIN_PIN, focusAfter);
    }
    EXPECT_EQ(loggedIn ? L"Log out" : L"Login", LoginCaption());
    EXPECT_EQ(loggedIn ? L"Logged in" : L"Not logged in", RowStatus(kTokenSlot));
    EXPECT_EQ(loggedIn ? CKS_RW_USER_FUNCTIONS : CKS_RW_PUBLIC_SESSION, SessionState());
}

INSTANTIATE_TEST_SUITE_P(EveryAnswer, LoginResultTest, testing::ValuesIn(kLoginRows),
                         [](const testing::TestParamInfo<LoginRow>& info) {
                             std::string name = info.param.name;
                             for (char& c : name)
                                 if (c == ' ')
                                     c = '_';
                             return name;
                         });

TEST_F(LoginDialogTest, ThreeCharactersAreTooShortAndFourAreSent) {
    AddToken(kTokenSlot);
    Start(false);
    CallCounter spy;
    int focusAfterBox = 0;
    ui_.Then(Step(kLoginDialog, {{IDC_LOGIN_PIN, L"123"}}))
        .Then(Step(kLoginError))
        .Then(Step(kLoginDialog, {{IDC_LOGIN_PIN, L"1234"}}, IDOK,
                   [&](HWND dialog) { focusAfterBox = FocusedControlId(dialog); }));
    Run(kLoginCommand);

    ExpectWindow(1, {kLoginError, L"The entered pincode is too short\r\n"}, Seen()[0].window);
    EXPECT_EQ(IDC_LOGIN_PIN, focusAfterBox);
    const auto logins = spy.CallsOf("C_Login");
    ASSERT_EQ(1u, logins.size()) << "only the 4-character PIN reaches the token";
    EXPECT_EQ(CKU_USER, logins[0].userType);
    EXPECT_EQ("1234", logins[0].pin);
    EXPECT_EQ(CKS_RW_USER_FUNCTIONS, SessionState());
}

TEST_F(LoginDialogTest, APinTypedLongerThan32CharactersIsSentAsItsFirst32) {
    const char pin32[] = "abcdefghijklmnopqrstuvwxyz012345";
    AddToken(kTokenSlot, pin32);
    Start(false);
    CallCounter spy;
    ui_.Then(Step(kLoginDialog, {{IDC_LOGIN_PIN, L"abcdefghijklmnopqrstuvwxyz0123456789"}}));
    Run(kLoginCommand);

    const auto logins = spy.CallsOf("C_Login");
    ASSERT_EQ(1u, logins.size());
    EXPECT_EQ(pin32, logins[0].pin);
    EXPECT_EQ(CKS_RW_USER_FUNCTIONS, SessionState());
}

class FinalTryTest : public LoginDialogTest {
protected:
    void SetUp() override {
        AddToken(kTokenSlot);
        Start(false);
        for (int i = 0; i < 10 && !(TokenFlags() & CKF_USER_PIN_FINAL_TRY); ++i)
            Login(CKU_USER, "0000");
        ASSERT_TRUE(TokenFlags() & CKF_USER_PIN_FINAL_TRY);
    }
};

const wchar_t kFinalTryText[] =
    L"Note: This is your last chance to login as user.\nThis time, if the entered pincode is wrong, the user "
    L"pincode will be locked. Do you want to continue?\n\r";

// The warning comes before the length check.
TEST_F(FinalTryTest, WarnsEvenBeforeATooShortPin) {
    CallCounter spy;
    ui_.Then(Step(kLoginDialog, {{IDC_LOGIN_PIN, L"12"}}))
        .Then(Step(L"Warning", {}, IDYES))
        .Then(Step(kLoginError))
        .Then(Step(kLoginDialog, {}, IDCANCEL));
    Run(kLoginCommand);

    const HWND dialog = Seen()[0].window;
    ExpectWindow(1, {L"Warning", kFinalTryText}, dialog);
    ExpectWindow(2, {kLoginError, L"The entered pincode is too short\r\n"}, dialog);
    EXPECT_TRUE(spy.CallsOf("C_Login").empty());
}

TEST_F(FinalTryTest, NoClosesTheDialogAndLeavesTheTokenAsItWas) {
    CallCounter spy;
    ui_.Then(Step(kLoginDialog, {{IDC_LOGIN_PIN, L"1234"}})).Then(Step(L"Warning", {}, IDNO));
    Run(kLoginCommand);

    EXPECT_TRUE(spy.CallsOf("C_Login").empty());
    EXPECT_TRUE(TokenFlags() & CKF_USER_PIN_FINAL_TRY);
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, SessionState());
}

TEST_F(FinalTryTest, YesWithTheRightPinLogsIn) {
    ui_.Then(Step(kLoginDialog, {{IDC_LOGIN_PIN, L"1234"}})).Then(Step(L"Warning", {}, IDYES));
    Run(kLoginCommand);

    EXPECT_EQ(CKS_RW_USER_FUNCTIONS, SessionState());
    EXPECT_FALSE(TokenFlags() & CKF_USER_PIN_FINAL_TRY) << "a good login resets the count";
}

TEST_F(LoginDialogTest, LogOutCaptionLogsOutWithoutAnyDialog) {
    AddToken(kTokenSlot);
    Start(false);
    ui_.Then(Step(kLoginDialog, {{IDC_LOGIN_PIN, L"1234"}}));
    Run(kLoginCommand);
    ASSERT_EQ(L"Log out", LoginCaption());
    ASSERT_EQ(L"Logged in", RowStatus(kTokenSlot));

    Run(kLoginCommand);

    EXPECT_EQ(1u, Seen().size()) << "no second dialog was shown";
    EXPECT_EQ(L"Login", LoginCaption());
    EXPECT_EQ(L"Not logged in", RowStatus(kTokenSlot));
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, SessionState());
}

// The caption alone decides: a public session is "logged out" too.
TEST_F(LoginDialogTest, LogOutCaptionOnAPublicSessionOnlyTurnsTheCaption) {
    AddToken(kTokenSlot);
    Start(false);
    SetWindowTextW(AppState.MainButtons[0], L"Log out");
    CallCounter spy;
    Run(kLoginCommand);

    EXPECT_TRUE(Seen().empty());
    EXPECT_EQ("C_Logout", spy.Sequence());
    EXPECT_EQ(L"Login", LoginCaption());
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, SessionState());
}

TEST_F(LoginDialogTest, WithoutASelectedTokenNothingHappens) {
    AddToken(kTokenSlot);
    Start(false);
    SelectRow(-1);
    CallCounter spy;
    Run(kLoginCommand);

    EXPECT_TRUE(Seen().empty());
    EXPECT_TRUE(spy.Calls().empty());
}

// A character that the 8-bit conversion cannot express: the PIN is refused
// before C_Login, and neither an empty PIN nor the part before that
// character ("ab", the token's PIN) reaches the token.
TEST_F(LoginDialogTest, APinTheConversionCannotExpressIsRefusedUnsent) {
    AddToken(kTokenSlot, "ab");
    Start(false);
    CallCounter spy;
    ui_.Then(Step(kLoginDialog, {{IDC_LOGIN_PIN, L"ab\u20acd"}}))
        .Then(Step(L"Invalid pincode"))
        .Then(Step(kLoginDialog, {}, IDCANCEL));
    Run(kLoginCommand);

    EXPECT_TRUE(spy.CallsOf("C_Login").empty());
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, SessionState());
}

// Lists the token's objects as the listing worker does; the number of rows.
int ListObjects(MainWindowFixture& window) {
    ObjectCommand command = BindObjectCommand();
    command.slot = kTokenSlot;
    if (!StartObjectListing(command) || !AppState.Busy)
        return -1;
    if (!window.PumpUntil([] { return !AppState.Busy; }, 10000))
        return -1;
    return MainWindowFixture::RowCount(AppState.ObjectListView);
}

TEST_F(LoginDialogTest, PrivateObjectsAppearInTheListingAfterLogin) {
    AddToken(kTokenSlot);
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    char publicLabel[] = "public note", privateLabel[] = "private note";
    CK_ATTRIBUTE publicObject[] = {{CKA_CLASS, &dataClass, sizeof dataClass},
                                   {CKA_TOKEN, &yes, sizeof yes},
                                   {CKA_PRIVATE, &no, sizeof no},
                                   {CKA_LABEL, publicLabel, sizeof publicLabel - 1}};
    CK_ATTRIBUTE privateObject[] = {{CKA_CLASS, &dataClass, sizeof dataClass},
                                    {CKA_TOKEN, &yes, sizeof yes},
                                    {CKA_PRIVATE, &yes, sizeof yes},
                                    {CKA_LABEL, privateLabel, sizeof privateLabel - 1}};
    const CK_ATTRIBUTE* templates[] = {publicObject, privateObject};
    const CK_ULONG counts[] = {4, 4};
    ASSERT_EQ(CKR_OK, TokenStore::Control().AddObjects(kTokenSlot, templates, counts, 2));
    Start(false);
    ASSERT_EQ(1, ListObjects(window_));

    LoginThroughDialog(kTestUserPin);

    EXPECT_EQ(2, ListObjects(window_));
}

// A worker (the object listing) uses the session: no command may log in,
// out or change a PIN meanwhile, whether or not a button issued it.
TEST_F(LoginDialogTest, NoCommandRunsWhileAWorkerUsesTheSessions) {
    AddToken(kTokenSlot, nullptr);
    Start();
    CallCounter spy;
    AppState.Busy = true;
    for (int command : {kLoginCommand, kDefaultUserPinCommand, kChangePinCommand, kClearTokenCommand,
                        kUnblockPinCommand, kChangeSoPinCommand, kPinPolicyCommand})
        Run(command);
    AppState.Busy = false;

    EXPECT_TRUE(Seen().empty());
    EXPECT_TRUE(spy.Calls().empty());
}

}  // namespace
