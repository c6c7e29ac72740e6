// "Unblock user pincode": the SO login step and C_InitPIN.
#include "AdminFixture.h"
#include "support/CallCounter.h"
#include "res/resource.h"

namespace {

const wchar_t kUnblockDialog[] = L"Unblock user pincode";

std::vector<std::pair<int, std::wstring>> Entries(const wchar_t* soPin, const wchar_t* userPin,
                                                  const wchar_t* confirmation) {
    return {{IDC_UNBLOCK_SO_PIN, soPin}, {IDC_UNBLOCK_USER_PIN, userPin}, {IDC_UNBLOCK_CONFIRM_PIN, confirmation}};
}

class UnblockPinDialogTest : public AdminTest {
protected:
    void SetUp() override {
        AddToken(kTokenSlot);
        Start();
    }
};

TEST_F(UnblockPinDialogTest, UnblocksALockedUserPinAndLogsTheSoOut) {
    for (int i = 0; i < 20 && !(TokenFlags() & CKF_USER_PIN_LOCKED); ++i)
        Login(CKU_USER, "0000");
    ASSERT_TRUE(TokenFlags() & CKF_USER_PIN_LOCKED);
    ui_.Then(Step(kUnblockDialog, Entries(L"tolvane", L"2468", L"2468"))).Then(Step(L""));
    Run(kUnblockPinCommand);

    ExpectWindow(1, {L"", L"User pincode initialized successfully.\r\n"}, Seen()[0].window);
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, SessionState());
    EXPECT_FALSE(TokenFlags() & CKF_USER_PIN_LOCKED);
    EXPECT_TRUE(PinWorks(CKU_USER, "2468"));
}

TEST_F(UnblockPinDialogTest, AShortUserPinIsRefusedEvenWithTheRightSoPin) {
    CallCounter spy;
    ui_.Then(Step(kUnblockDialog, Entries(L"tolvane", L"123", L"123")))
        .Then(Step(L"Invalid user pincode"))
        .Then(Step(kUnblockDialog, Entries(L"tolvane", L"1234", L"1235")))
        .Then(Step(L"Pincode mismatch"))
        .Then(Step(kUnblockDialog, {}, IDCANCEL));
    Run(kUnblockPinCommand);

    const HWND dialog = Seen()[0].window;
    ExpectWindow(1, {L"Invalid user pincode", L"User pincode is too short.\r\n"}, dialog);
    ExpectWindow(3, {L"Pincode mismatch", L"Pincode mismatch.\r\n"}, dialog);
    EXPECT_TRUE(spy.Calls().empty());
}

// The SO PIN's length is not looked at: even an empty one goes to the token.
TEST_F(UnblockPinDialogTest, AnEmptySoPinIsSentAndTheWrongPinReportKeepsTheDialog) {
    CallCounter spy;
    int focus = 0;
    ui_.Then(Step(kUnblockDialog, Entries(L"", L"2468", L"2468")))
        .Then(Step(L"Wrong SO pincode"))
        .Then(Step(kUnblockDialog, {}, IDCANCEL, [&](HWND dialog) { focus = FocusedControlId(dialog); }));
    Run(kUnblockPinCommand);

    const auto logins = spy.CallsOf("C_Login");
    ASSERT_EQ(1u, logins.size());
    EXPECT_EQ(CKU_SO, logins[0].userType);
    EXPECT_EQ("", logins[0].pin);
    ExpectWindow(1, {L"Wrong SO pincode", CkReport(L"CKR_PIN_INCORRECT 0xa0", L"The SO old pincode is wrong.\r\n")},
                 nullptr);
    EXPECT_EQ(IDC_UNBLOCK_SO_PIN, focus);
}

// Every SO login failure keeps the dialog open.
struct SoLoginRow {
    CK_RV fault;
    ExpectedWindow report;
};

TEST_F(UnblockPinDialogTest, LockedAndOtherSoLoginFailuresKeepTheDialog) {
    const SoLoginRow rows[] = {
        {CKR_PIN_LOCKED, {L"Locked SO pincode", CkReport(L"CKR_PIN_LOCKED 0xa4", L"The SO pincode is locked.\r\n")}},
        {CKR_DEVICE_ERROR,
         {L"SO login failure", CkReport(L"CKR_DEVICE_ERROR 0x30", L"An error occured during SO login.\r\n")}},
    };
    for (const SoLoginRow& row : rows) {
        const size_t first = Seen().size();
        Fault("C_Login", 1, row.fault);
        ui_.Then(Step(kUnblockDialog, Entries(L"tolvane", L"2468", L"2468")))
            .Then(Step(row.report.caption))
            .Then(Step(kUnblockDialog, {}, IDCANCEL));
        Run(kUnblockPinCommand);
        ExpectWindow(first + 1, row.report, nullptr);
    }
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, SessionState());
}

TEST_F(UnblockPinDialogTest, ALoggedInUserIsLoggedOutEvenWhenTheSoLoginFails) {
    LoginThroughDialog(kTestUserPin);
    ASSERT_EQ(L"Log out", LoginCaption());
    ui_.Then(Step(kUnblockDialog, Entries(L"wrongpin", L"2468", L"2468")))
        .Then(Step(L"Wrong SO pincode"))
        .Then(Step(kUnblockDialog, {}, IDCANCEL));
    Run(kUnblockPinCommand);

    EXPECT_EQ(L"Login", LoginCaption());
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, SessionState());
    EXPECT_FALSE(MainButtonEnabled(4)) << "\"Delete\" follows the public state";
}

// After CKR_PIN_LEN_RANGE the SO stays logged in; the next OK goes straight
// to C_InitPIN whatever the SO PIN field holds.
TEST_F(UnblockPinDialogTest, ASecondOkAfterALengthRefusalNeedsNoSecondSoLogin) {
    ASSERT_EQ(CKR_OK, TokenStore::Control().SetPolicy(kTokenSlot, 1, 5, 6, 32));
    CallCounter spy;
    int focus = 0;
    ui_.Then(Step(kUnblockDialog, Entries(L"tolvane", L"12345", L"12345")))
        .Then(Step(L"Invalid user pincode"))
        .Then(Step(kUnblockDialog, Entries(L"nonsense", L"123456", L"123456"), IDOK,
                   [&](HWND dialog) { focus = FocusedControlId(dialog); }))
        .Then(Step(L""));
    Run(kUnblockPinCommand);

    ExpectWindow(1,
                 {L"Invalid user pincode",
                  CkReport(L"CKR_PIN_LEN_RANGE 0xa2",
                           L"Init pin failed. The pin does not meet the minimum pin length requiement of the "
                           L"device.\r\n")},
                 nullptr);
    EXPECT_EQ(IDC_UNBLOCK_USER_PIN, focus);
    EXPECT_EQ(1u, spy.CallsOf("C_Login").size());
    EXPECT_EQ(2u, spy.CallsOf("C_InitPIN").size());
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, SessionState());
    EXPECT_TRUE(PinWorks(CKU_USER, "123456"));
}

// Any other refusal of C_InitPIN logs the SO out and keeps the dialog.
TEST_F(UnblockPinDialogTest, AComplexityRefusalLogsTheSoOut) {
    ASSERT_EQ(CKR_OK, TokenStore::Control().SetPolicy(kTokenSlot, 2, 5, 4, 32));
    CK_STATE stateWhileOpen = 0;
    ui_.Then(Step(kUnblockDialog, Entries(L"tolvane", L"2468", L"2468")))
        .Then(Step(L"Initialize pin error"))
        .Then(Step(kUnblockDialog, {}, IDCANCEL, [&](HWND) { stateWhileOpen = SessionState(); }));
    Run(kUnblockPinCommand);

    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, stateWhileOpen);

    ExpectWindow(1,
                 {L"Initialize pin error",
                  CkReport(L"CKR_PIN_INVALID 0xa1",
                           L"Init pin failed. The pin might not meet the minimum pin complexity requirements of the "
                           L"device.\r\n")},
                 nullptr);
}

TEST_F(UnblockPinDialogTest, ClosingWithTheSoLoggedInLogsTheSoOut) {
    ASSERT_EQ(CKR_OK, TokenStore::Control().SetPolicy(kTokenSlot, 1, 5, 6, 32));
    CK_STATE stateWhileOpen = 0;
    ui_.Then(Step(kUnblockDialog, Entries(L"tolvane", L"1234", L"1234")))
        .Then(Step(L"Invalid user pincode"))
        .Then(Step(kUnblockDialog, {}, IDCANCEL, [&](HWND) { stateWhileOpen = SessionState(); }));
    Run(kUnblockPinCommand);

    EXPECT_EQ(CKS_RW_SO_FUNCTIONS, stateWhileOpen);

    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, SessionState());
}

}  // namespace
