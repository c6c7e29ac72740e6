// A token's life through the dialogs, as an administrator and its user live
// it: cleared, given the default PIN, used, locked, unblocked, its SO PIN
// changed and its policy tightened until the token refuses a weak PIN.
#include "AdminFixture.h"
#include "res/resource.h"

namespace {

class AdminStoryTest : public AdminTest {};

TEST_F(AdminStoryTest, FromClearingToATightenedPolicy) {
    AddToken(kTokenSlot, "1234");
    Start();

    // Clear the token: no user PIN afterwards, the new label in its row.
    ui_.Then(Step(L"Warning", {}, IDYES))
        .Then(Step(L"Clear token", {{IDC_CLEAR_SO_PIN, L"tolvane"}, {IDC_CLEAR_LABEL, L"Story"}}))
        .Then(Step(L""));
    Run(kClearTokenCommand);
    ASSERT_EQ(L"Story", RowName(kTokenSlot));
    ASSERT_FALSE(TokenFlags() & CKF_USER_PIN_INITIALIZED);

    // The default user PIN, then a login with it and a PIN of the user's own.
    ui_.Then(Step(L"Successful set pin"));
    Run(kDefaultUserPinCommand);
    LoginThroughDialog("4826");
    ui_.Then(Step(L"Change pincode",
                  {{IDC_CHANGE_OLD_PIN, L"4826"}, {IDC_CHANGE_NEW_PIN, L"5150"}, {IDC_CHANGE_CONFIRM_PIN, L"5150"}}))
        .Then(Step(L"Successful change pin operation"));
    Run(kChangePinCommand);
    Run(kLoginCommand);  // "Log out": no dialog
    ASSERT_EQ(CKS_RW_PUBLIC_SESSION, SessionState());

    // Wrong PINs until the token warns of the last try, one more, and the
    // right PIN is then refused as locked.
    for (int i = 0; i < 4; ++i)
        ui_.Then(Step(L"Login to token", {{IDC_LOGIN_PIN, L"0000"}})).Then(Step(L"Login error"));
    ui_.Then(Step(L"Login to token", {{IDC_LOGIN_PIN, L"0000"}}))
        .Then(Step(L"Warning", {}, IDYES))
        .Then(Step(L"Login error"))
        .Then(Step(L"Login to token", {{IDC_LOGIN_PIN, L"5150"}}))
        .Then(Step(L"Login error"));
    Run(kLoginCommand);
    ExpectWindow(Seen().size() - 1,
                 {L"Login error", CkReport(L"CKR_PIN_LOCKED 0xa4", L"User pincode is locked.\r\n")}, nullptr);
    ASSERT_TRUE(TokenFlags() & CKF_USER_PIN_LOCKED);

    // The SO unblocks it with a new user PIN and changes the SO PIN.
    ui_.Then(Step(L"Unblock user pincode",
                  {{IDC_UNBLOCK_SO_PIN, L"tolvane"}, {IDC_UNBLOCK_USER_PIN, L"7777"}, {IDC_UNBLOCK_CONFIRM_PIN, L"7777"}}))
        .Then(Step(L""));
    Run(kUnblockPinCommand);
    ASSERT_FALSE(TokenFlags() & CKF_USER_PIN_LOCKED);
    ui_.Then(Step(L"Change SO pincode",
                  {{IDC_SOPIN_OLD, L"tolvane"}, {IDC_SOPIN_NEW, L"story-so"}, {IDC_SOPIN_CONFIRM, L"story-so"}}))
        .Then(Step(L"Successful change pin"));
    Run(kChangeSoPinCommand);

    // Letters and digits, at least 6: stored with the new SO PIN.
    ui_.Then(Step(L"Set user pincode policy", {{IDC_POLICY_MIN_LENGTH, L"6"}, {IDC_POLICY_SO_PIN, L"story-so"}}, IDOK,
                  [](HWND dialog) { CheckRadioButton(dialog, IDC_POLICY_LEVEL1, IDC_POLICY_LEVEL4, IDC_POLICY_LEVEL2); }))
        .Then(Step(L"Successful pincode policy operation"));
    Run(kPinPolicyCommand);

    // The user's next PIN must follow it: digits alone are refused.
    LoginThroughDialog("7777");
    ui_.Then(Step(L"Change pincode",
                  {{IDC_CHANGE_OLD_PIN, L"7777"}, {IDC_CHANGE_NEW_PIN, L"123456"}, {IDC_CHANGE_CONFIRM_PIN, L"123456"}}))
        .Then(Step(L"Invalid user pincode"))
        .Then(Step(L"Change pincode",
                   {{IDC_CHANGE_OLD_PIN, L"7777"}, {IDC_CHANGE_NEW_PIN, L"abc123"}, {IDC_CHANGE_CONFIRM_PIN, L"abc123"}}))
        .Then(Step(L"Successful change pin operation"));
    Run(kChangePinCommand);
    ExpectWindow(Seen().size() - 3,
                 {L"Invalid user pincode",
                  CkReport(L"CKR_PIN_INVALID 0xa1",
                           L"Changing pin failed. The pin might not meet the minimum pin complexity requirements of "
                           L"the device.\r\n")},
                 nullptr);

    Run(kLoginCommand);  // log out
    EXPECT_TRUE(PinWorks(CKU_USER, "abc123"));
    EXPECT_TRUE(PinWorks(CKU_SO, "story-so"));
    EXPECT_FALSE(PinWorks(CKU_SO, "tolvane"));
}

}  // namespace
