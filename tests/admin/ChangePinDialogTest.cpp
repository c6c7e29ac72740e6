// "Change pincode": the local checks and every answer of C_SetPIN, in the
// user's and in the SO's wording.
#include "AdminFixture.h"
#include "support/CallCounter.h"
#include "res/resource.h"

namespace {

const wchar_t kChangePinDialog[] = L"Change pincode";
const wchar_t kNotLoggedInText[] = L"To change user pincode, you should login to token.\r\n";
const wchar_t kComplexityText[] =
    L"Changing pin failed. The pin might not meet the minimum pin complexity requirements of the device.\r\n";

enum class Session { Public, User, So };

struct ChangeRow {
    const char* name;
    Session session;
    CK_ULONG policyLevel;  // 0: the token's default policy
    CK_RV fault;           // 0: the token answers by itself
    const wchar_t* oldPin;
    const wchar_t* newPin;  // typed twice
    ExpectedWindow box;
    bool ownedByDialog;
    bool stays;
};

const ChangeRow kChangeRows[] = {
    {"user_ok", Session::User, 0, 0, L"1234", L"5678",
     {L"Successful change pin operation", L"The user pincode changed successfully.\r\n"}, true, false},
    {"user_wrong_old", Session::User, 0, 0, L"9999", L"5678",
     {L"Wrong user pincode", CkReport(L"CKR_PIN_INCORRECT 0xa0", L"The old user pincode is wrong.\r\n")}, false,
     true},
    {"user_locked", Session::User, 0, CKR_PIN_LOCKED, L"1234", L"5678",
     {L"Locked user pincode", CkReport(L"CKR_PIN_LOCKED 0xa4", L"The user pincode is locked.\r\n")}, false, false},
    // The new PIN's length is the token's to judge.
    {"user_too_short_for_token", Session::User, 0, 0, L"1234", L"12",
     {L"Invalid user pincode",
      CkReport(L"CKR_PIN_LEN_RANGE 0xa2", L"The entered pincode is invalid due to the device pin policy.\r\n")},
     false, true},
    // Nobody logged in: the token's two ways of saying so.
    {"public_user_type_invalid", Session::Public, 0, 0, L"1234", L"5678",
     {L"problem in changing user pincode", CkReport(L"CKR_USER_TYPE_INVALID 0x103", kNotLoggedInText)}, false, true},
    {"public_not_supported", Session::Public, 0, CKR_FUNCTION_NOT_SUPPORTED, L"1234", L"5678",
     {L"problem in changing user pincode", CkReport(L"CKR_FUNCTION_NOT_SUPPORTED 0x54", kNotLoggedInText)}, false,
     false},
    // Digits only where the policy wants letters too.
    {"user_complexity", Session::User, 2, 0, L"1234", L"5678",
     {L"Invalid user pincode", CkReport(L"CKR_PIN_INVALID 0xa1", kComplexityText)}, false, true},
    {"so_ok", Session::So, 0, 0, L"tolvane", L"newsopin", {L"", L"SO pincode changed successfully.\r\n"}, true,
     false},
    {"so_wrong_old", Session::So, 0, 0, L"wrongpin", L"newsopin",
     {L"Wrong SO pincode", CkReport(L"CKR_PIN_INCORRECT 0xa0", L"The old SO pincode is wrong.\r\n")}, false, true},
    {"so_locked", Session::So, 0, CKR_PIN_LOCKED, L"tolvane", L"newsopin",
     {L"Locked SO pincode", CkReport(L"CKR_PIN_LOCKED 0xa4", L"The SO pincode is locked.\r\n")}, false, false},
};

class ChangePinResultTest : public AdminTest, public testing::WithParamInterface<ChangeRow> {};

TEST_P(ChangePinResultTest, ReportsInTheWordingOfWhoIsLoggedIn) {
    const ChangeRow& row = GetParam();
    AddToken(kTokenSlot);
    if (row.policyLevel) {
        ASSERT_EQ(CKR_OK, TokenStore::Control().SetPolicy(kTokenSlot, row.policyLevel, 5, 4, 32));
    }
    Start(false);
    const CK_STATE before = row.session == Session::User ? CKS_RW_USER_FUNCTIONS
                            : row.session == Session::So ? CKS_RW_SO_FUNCTIONS
                                                         : CKS_RW_PUBLIC_SESSION;
    if (row.session != Session::Public) {
        ASSERT_EQ(CKR_OK, Login(row.session == Session::User ? CKU_USER : CKU_SO,
                                row.session == Session::User ? kTestUserPin : kFactorySo));
    }
    if (row.fault)
        Fault("C_SetPIN", 1, row.fault);
    ui_.Then(Step(kChangePinDialog,
                  {{IDC_CHANGE_OLD_PIN, row.oldPin}, {IDC_CHANGE_NEW_PIN, row.newPin}, {IDC_CHANGE_CONFIRM_PIN, row.newPin}}))
        .Then(Step(row.box.caption));
    if (row.stays)
        ui_.Then(Step(kChangePinDialog, {}, IDCANCEL));
    Run(kChangePinCommand);

    ExpectWindow(1, row.box, row.ownedByDialog ? Seen()[0].window : nullptr);
    EXPECT_EQ(before, SessionState()) << "the dialog neither logs in nor out";
}

INSTANTIATE_TEST_SUITE_P(EveryAnswer, ChangePinResultTest, testing::ValuesIn(kChangeRows),
                         [](const testing::TestParamInfo<ChangeRow>& info) { return std::string(info.param.name); });

class ChangePinDialogTest : public AdminTest {
protected:
    void SetUp() override {
        AddToken(kTokenSlot);
        Start(false);
        ASSERT_EQ(CKR_OK, Login(CKU_USER, kTestUserPin));
    }
};

TEST_F(ChangePinDialogTest, TheNewPinWorksAfterASuccessfulChange) {
    ui_.Then(Step(kChangePinDialog,
                  {{IDC_CHANGE_OLD_PIN, L"1234"}, {IDC_CHANGE_NEW_PIN, L"2468"}, {IDC_CHANGE_CONFIRM_PIN, L"2468"}}))
        .Then(Step(L"Successful change pin operation"));
    Run(kChangePinCommand);
    ASSERT_EQ(CKR_OK, Logout());

    EXPECT_TRUE(PinWorks(CKU_USER, "2468"));
    EXPECT_FALSE(PinWorks(CKU_USER, "1234"));
}

// The mismatch test comes first, so a too-short old PIN is not mentioned.
TEST_F(ChangePinDialogTest, MismatchIsReportedBeforeATooShortOldPin) {
    CallCounter spy;
    ui_.Then(Step(kChangePinDialog,
                  {{IDC_CHANGE_OLD_PIN, L"123"}, {IDC_CHANGE_NEW_PIN, L"5678"}, {IDC_CHANGE_CONFIRM_PIN, L"5679"}}))
        .Then(Step(L"Pincode mismatch"))
        .Then(Step(kChangePinDialog, {}, IDCANCEL));
    Run(kChangePinCommand);

    ExpectWindow(1, {L"Pincode mismatch", L"Pincode mismatch.\r\n"}, Seen()[0].window);
    EXPECT_EQ(3u, Seen().size());
    EXPECT_TRUE(spy.Calls().empty());
}

TEST_F(ChangePinDialogTest, AThreeCharacterOldPinIsRefusedWithoutCallingTheToken) {
    CallCounter spy;
    ui_.Then(Step(kChangePinDialog,
                  {{IDC_CHANGE_OLD_PIN, L"123"}, {IDC_CHANGE_NEW_PIN, L"5678"}, {IDC_CHANGE_CONFIRM_PIN, L"5678"}}))
        .Then(Step(L"Invalid user pincode"))
        .Then(Step(kChangePinDialog, {}, IDCANCEL));
    Run(kChangePinCommand);

    ExpectWindow(1, {L"Invalid user pincode", L"The entered old pincode is too short.\r\n"}, Seen()[0].window);
    EXPECT_TRUE(spy.Calls().empty());
}

TEST_F(ChangePinDialogTest, AnEmptyNewPinIsLeftToTheToken) {
    CallCounter spy;
    ui_.Then(Step(kChangePinDialog, {{IDC_CHANGE_OLD_PIN, L"1234"}}))
        .Then(Step(L"Invalid user pincode"))
        .Then(Step(kChangePinDialog, {}, IDCANCEL));
    Run(kChangePinCommand);

    const auto changes = spy.CallsOf("C_SetPIN");
    ASSERT_EQ(1u, changes.size());
    EXPECT_EQ("1234", changes[0].pin);
    EXPECT_EQ("", changes[0].newPin);
}

TEST_F(ChangePinDialogTest, CancelCallsNothing) {
    CallCounter spy;
    ui_.Then(Step(kChangePinDialog, {{IDC_CHANGE_OLD_PIN, L"1234"}}, IDCANCEL));
    Run(kChangePinCommand);

    EXPECT_TRUE(spy.Calls().empty());
    EXPECT_EQ(CKS_RW_USER_FUNCTIONS, SessionState());
}

}  // namespace
