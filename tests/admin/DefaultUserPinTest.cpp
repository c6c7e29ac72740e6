// "Set default user pincode": the default PIN through the factory SO PIN,
// and every refusal.
#include "AdminFixture.h"
#include "support/CallCounter.h"

namespace {

const wchar_t kSetPinError[] = L"Error in set pin";
const wchar_t kGeneralError[] = L"General error occured. Can't set pin.\r\n";

class DefaultUserPinTest : public AdminTest {};

TEST_F(DefaultUserPinTest, GivesATokenWithoutUserPin4826) {
    AddToken(kTokenSlot, nullptr);
    Start();
    CallCounter spy;
    ui_.Then(Step(L"Successful set pin"));
    Run(kDefaultUserPinCommand);

    ExpectWindow(0, {L"Successful set pin", L"User pincode is set to 4826"}, nullptr);
    EXPECT_EQ("C_Login C_InitPIN C_Logout", spy.Sequence());
    const auto login = spy.CallsOf("C_Login");
    ASSERT_EQ(1u, login.size());
    EXPECT_EQ(CKU_SO, login[0].userType);
    EXPECT_EQ("tolvane", login[0].pin);
    EXPECT_EQ("4826", spy.CallsOf("C_InitPIN")[0].pin);
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, SessionState());
    EXPECT_TRUE(PinWorks(CKU_USER, "4826"));
}

struct RefusalRow {
    const char* name;
    const char* userPin;  // the token's; null: none
    const char* soPin;    // the token's; null: the factory SO PIN
    bool soLoggedIn;      // the SO is logged in on the session before
    const char* faultFunction;
    CK_RV fault;
    ExpectedWindow box;
    const char* calls;    // the PIN calls made, in order
    CK_STATE stateAfter;
};

const RefusalRow kRefusals[] = {
    // A user PIN is there already: no login is tried.
    {"already_set", "1234", nullptr, false, nullptr, 0,
     {L"Error in setting default pin", L"User pin has been already set.\r\n"}, "", CKS_RW_PUBLIC_SESSION},
    // The SO PIN is no longer the factory's: no logout follows.
    {"so_pin_changed", nullptr, "changed1", false, nullptr, 0,
     {kSetPinError, L"SO pincode is chagnged. Can't set pin.\r\n"}, "C_Login", CKS_RW_PUBLIC_SESSION},
    // The SO logged in already: the login is refused and the SO stays.
    {"so_logged_in", nullptr, nullptr, true, nullptr, 0, {kSetPinError, kGeneralError}, "C_Login",
     CKS_RW_SO_FUNCTIONS},
    {"user_logged_in", nullptr, nullptr, false, "C_Login", CKR_USER_ANOTHER_ALREADY_LOGGED_IN,
     {kSetPinError, L"User is logged in. Can't set pin.\r\n"}, "C_Login", CKS_RW_PUBLIC_SESSION},
    // A failed C_InitPIN still logs the SO out.
    {"init_pin_fails", nullptr, nullptr, false, "C_InitPIN", CKR_DEVICE_ERROR, {kSetPinError, kGeneralError},
     "C_Login C_InitPIN C_Logout", CKS_RW_PUBLIC_SESSION},
    // No token information.
    {"no_token_info", nullptr, nullptr, false, "C_GetTokenInfo", CKR_DEVICE_ERROR,
     {L"Set default pincode error", L"General error occured.\r\n"}, "", CKS_RW_PUBLIC_SESSION},
};

class DefaultUserPinRefusalTest : public AdminTest, public testing::WithParamInterface<RefusalRow> {};

TEST_P(DefaultUserPinRefusalTest, ReportsWithoutOwnerAndLeavesNoUserPin) {
    const RefusalRow& row = GetParam();
    AddToken(kTokenSlot, row.userPin, row.soPin);
    Start();
    if (row.soLoggedIn) {
        ASSERT_EQ(CKR_OK, Login(CKU_SO, kFactorySo));
    }
    if (row.faultFunction)
        Fault(row.faultFunction, 1, row.fault);
    CallCounter spy;
    ui_.Then(Step(row.box.caption));
    Run(kDefaultUserPinCommand);

    ExpectWindow(0, row.box, nullptr);
    EXPECT_EQ(row.calls, spy.Sequence());
    EXPECT_EQ(row.stateAfter, SessionState());
    EXPECT_EQ(row.userPin != nullptr, (TokenFlags() & CKF_USER_PIN_INITIALIZED) != 0);
}

INSTANTIATE_TEST_SUITE_P(Refusals, DefaultUserPinRefusalTest, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<RefusalRow>& info) { return std::string(info.param.name); });

TEST_F(DefaultUserPinTest, WithoutASelectedTokenItReportsAGeneralError) {
    AddToken(kTokenSlot, nullptr);
    Start();
    SelectRow(-1);
    CallCounter spy;
    ui_.Then(Step(L"Set default pincode error"));
    Run(kDefaultUserPinCommand);

    ExpectWindow(0, {L"Set default pincode error", L"General error occured.\r\n"}, nullptr);
    EXPECT_TRUE(spy.Calls().empty());
}

}  // namespace
