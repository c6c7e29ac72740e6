// The user-PIN policy entries and their enforcement on new PINs.
#include "SoftTokenFixture.h"

namespace {

class PolicyTest : public SoftTokenTest {
protected:
    struct Policy {
        CK_ULONG level, maxFailed, minLen, maxLen;
    };
    Policy Read(CK_SLOT_ID slot = 0) {
        Policy p = {};
        EXPECT_EQ(CKR_OK, p11->C_GetUserPinPolicy(slot, 1, &p.level, &p.maxFailed, &p.minLen, &p.maxLen));
        return p;
    }
    CK_RV Set(CK_SESSION_HANDLE session, const Policy& p) {
        return p11->C_SetUserPinPolicy(0, session, p.level, p.maxFailed, p.minLen, p.maxLen);
    }
    CK_RV InitPin(CK_SESSION_HANDLE session, const std::string& pin) {
        return p11->C_InitPIN(session, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin.data())),
                              static_cast<CK_ULONG>(pin.size()));
    }
};

TEST_F(PolicyTest, DefaultsAndReadingRules) {
    Policy p = Read();
    EXPECT_EQ(1u, p.level);
    EXPECT_EQ(5u, p.maxFailed);
    EXPECT_EQ(4u, p.minLen);
    EXPECT_EQ(32u, p.maxLen);
    CK_TOKEN_INFO info = TokenInfo();
    EXPECT_EQ(4u, info.ulMinPinLen);
    EXPECT_EQ(32u, info.ulMaxPinLen);
    CK_ULONG v = 0;
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_GetUserPinPolicy(0, 2, &v, &v, &v, &v));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_GetUserPinPolicy(0, 1, &v, nullptr, &v, &v));
    EXPECT_EQ(CKR_SLOT_ID_INVALID, p11->C_GetUserPinPolicy(17, 1, &v, &v, &v, &v));
    EXPECT_EQ(CKR_TOKEN_NOT_PRESENT, p11->C_GetUserPinPolicy(3, 1, &v, &v, &v, &v));
}

TEST_F(PolicyTest, SettingNeedsTheSecurityOfficerOnThatSession) {
    const Policy wanted = {3, 7, 6, 12};
    CK_SESSION_HANDLE session = Open();
    EXPECT_EQ(CKR_USER_NOT_LOGGED_IN, Set(session, wanted));
    ASSERT_EQ(CKR_OK, Login(session, CKU_USER, kUserPin));
    EXPECT_EQ(CKR_USER_NOT_LOGGED_IN, Set(session, wanted));
    ASSERT_EQ(CKR_OK, p11->C_Logout(session));
    ASSERT_EQ(CKR_OK, Login(session, CKU_SO, kSoPin));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, Set(session + 1000, wanted));
    ASSERT_EQ(CKR_OK, Set(session, wanted));
    Policy now = Read();
    EXPECT_EQ(3u, now.level);
    EXPECT_EQ(7u, now.maxFailed);
    EXPECT_EQ(6u, now.minLen);
    EXPECT_EQ(12u, now.maxLen);
    EXPECT_EQ(12u, TokenInfo().ulMaxPinLen);
}

TEST_F(PolicyTest, ValuesOutOfRangeAreBadArguments) {
    CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(CKR_OK, Login(session, CKU_SO, kSoPin));
    const Policy bad[] = {
        {0, 5, 4, 32}, {5, 5, 4, 32},    // level 1 to 4
        {1, 0, 4, 32}, {1, 16, 4, 32},   // max failed 1 to 15
        {1, 5, 3, 32}, {1, 5, 4, 33},    // lengths 4 to 32
        {1, 5, 9, 8},                    // min <= max
    };
    for (const Policy& p : bad)
        EXPECT_EQ(CKR_ARGUMENTS_BAD, Set(session, p))
            << p.level << " " << p.maxFailed << " " << p.minLen << " " << p.maxLen;
    const Policy edges[] = {{1, 1, 4, 4}, {4, 15, 32, 32}};
    for (const Policy& p : edges)
        EXPECT_EQ(CKR_OK, Set(session, p)) << p.level << " " << p.maxFailed;
}

TEST_F(PolicyTest, NewPinsObeyLevelAndLength) {
    struct Case {
        CK_ULONG level;
        const char* pin;
        CK_RV rv;
    };
    const Case cases[] = {
        {1, "123", CKR_PIN_LEN_RANGE},          {1, "1234567890123", CKR_PIN_LEN_RANGE},
        {1, "      ", CKR_OK},                  {1, "123456", CKR_OK},
        {2, "123456", CKR_PIN_INVALID},         {2, "abcdef", CKR_PIN_INVALID},
        {2, "abc123", CKR_OK},                  {2, "ABC123", CKR_OK},
        {3, "abc123", CKR_PIN_INVALID},         {3, "ABCdef", CKR_PIN_INVALID},
        {3, "Abc123", CKR_OK},                  {4, "Abc123", CKR_PIN_INVALID},
        {4, "Abc12!", CKR_OK},                  {4, "abc12!", CKR_PIN_INVALID},
    };
    CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(CKR_OK, Login(session, CKU_SO, kSoPin));
    for (const Case& c : cases) {
        ASSERT_EQ(CKR_OK, Set(session, {c.level, 5, 6, 12}));
        EXPECT_EQ(c.rv, InitPin(session, c.pin)) << "level " << c.level << " PIN \"" << c.pin << "\"";
    }
}

TEST_F(PolicyTest, SetPinObeysThePolicyToo) {
    CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(CKR_OK, Login(session, CKU_SO, kSoPin));
    ASSERT_EQ(CKR_OK, Set(session, {2, 5, 6, 8}));
    ASSERT_EQ(CKR_OK, p11->C_Logout(session));
    ASSERT_EQ(CKR_OK, Login(session, CKU_USER, kUserPin));
    auto setPin = [&](const char* pin) {
        return p11->C_SetPIN(session, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(kUserPin)), 6,
                             reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin)),
                             static_cast<CK_ULONG>(strlen(pin)));
    };
    EXPECT_EQ(CKR_PIN_LEN_RANGE, setPin("ab12"));
    EXPECT_EQ(CKR_PIN_INVALID, setPin("abcdefg"));
    EXPECT_EQ(0u, TokenInfo().flags & CKF_USER_PIN_COUNT_LOW) << "a refused new PIN costs no try";
    EXPECT_EQ(CKR_OK, setPin("abc1234"));
}

TEST_F(PolicyTest, MaxFailedFromThePolicyLocks) {
    ASSERT_EQ(CKR_OK, control.SetPolicy(0, 1, 2, 4, 32));
    CK_SESSION_HANDLE session = Open();
    EXPECT_EQ(CKR_PIN_INCORRECT, Login(session, CKU_USER, "0000"));
    EXPECT_NE(0u, TokenInfo().flags & CKF_USER_PIN_FINAL_TRY);
    EXPECT_EQ(CKR_PIN_INCORRECT, Login(session, CKU_USER, "0000"));
    EXPECT_EQ(CKR_PIN_LOCKED, Login(session, CKU_USER, kUserPin));
    // The tool's personalisation unblocks as well.
    ASSERT_EQ(CKR_OK, control.SetUserPin(0, "4321"));
    EXPECT_EQ(CKR_OK, Login(session, CKU_USER, "4321"));
}

}  // namespace
