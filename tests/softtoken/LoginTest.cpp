// Login, PIN counters and their flags, locking and unblocking, session
// states, PIN changes and token initialisation.
#include "SoftTokenFixture.h"

namespace {

constexpr CK_FLAGS kUserCounterFlags = CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_LOCKED;
constexpr CK_FLAGS kSoCounterFlags = CKF_SO_PIN_COUNT_LOW | CKF_SO_PIN_FINAL_TRY | CKF_SO_PIN_LOCKED;

CK_UTF8CHAR_PTR Text(const char* text) {
    return reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(text));
}

class LoginTest : public SoftTokenTest {};

TEST_F(LoginTest, WrongPinsCountDownToLockAndSoUnblocks) {
    ASSERT_EQ(CKR_OK, control.SetPolicy(0, 1, 3, 4, 32));
    CK_SESSION_HANDLE session = Open();
    struct Step {
        const char* pin;
        CK_RV rv;
        CK_FLAGS counterFlags;
    };
    const Step steps[] = {
        {"000000", CKR_PIN_INCORRECT, CKF_USER_PIN_COUNT_LOW},
        {"000000", CKR_PIN_INCORRECT, CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY},
        {"000000", CKR_PIN_INCORRECT, CKF_USER_PIN_LOCKED},
        {kUserPin, CKR_PIN_LOCKED, CKF_USER_PIN_LOCKED},
    };
    for (const Step& step : steps) {
        EXPECT_EQ(step.rv, Login(session, CKU_USER, step.pin)) << step.pin;
        EXPECT_EQ(step.counterFlags, TokenInfo().flags & kUserCounterFlags) << step.pin;
    }
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, State(session));

    ASSERT_EQ(CKR_OK, Login(session, CKU_SO, kSoPin));
    EXPECT_EQ(CKR_OK, p11->C_InitPIN(session, Text("654321"), 6));
    EXPECT_EQ(0u, TokenInfo().flags & kUserCounterFlags);
    EXPECT_NE(0u, TokenInfo().flags & CKF_USER_PIN_INITIALIZED);
    ASSERT_EQ(CKR_OK, p11->C_Logout(session));
    EXPECT_EQ(CKR_PIN_INCORRECT, Login(session, CKU_USER, kUserPin));
    EXPECT_EQ(CKR_OK, Login(session, CKU_USER, "654321"));
    EXPECT_EQ(0u, TokenInfo().flags & kUserCounterFlags) << "a good login clears the count";
}

TEST_F(LoginTest, SoPinHasItsOwnLimit) {
    CK_SESSION_HANDLE session = Open();
    for (int i = 1; i <= 9; ++i)
        ASSERT_EQ(CKR_PIN_INCORRECT, Login(session, CKU_SO, "wrong-so"));
    CK_TOKEN_INFO info = TokenInfo();
    EXPECT_EQ(CKF_SO_PIN_COUNT_LOW | CKF_SO_PIN_FINAL_TRY, info.flags & kSoCounterFlags);
    EXPECT_EQ(0u, info.flags & kUserCounterFlags) << "the user PIN is not touched";
    EXPECT_EQ(CKR_PIN_INCORRECT, Login(session, CKU_SO, "wrong-so"));
    EXPECT_EQ(CKF_SO_PIN_LOCKED, TokenInfo().flags & kSoCounterFlags);
    EXPECT_EQ(CKR_PIN_LOCKED, Login(session, CKU_SO, kSoPin));
    EXPECT_EQ(CKR_OK, Login(session, CKU_USER, kUserPin));
}

TEST_F(LoginTest, StatesFollowSessionKindAndUser) {
    CK_SESSION_HANDLE rw = Open(0, true);
    CK_SESSION_HANDLE ro = Open(0, false);
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, State(rw));
    EXPECT_EQ(CKS_RO_PUBLIC_SESSION, State(ro));
    ASSERT_EQ(CKR_OK, Login(ro, CKU_USER, kUserPin));
    // The login belongs to the token: every session of the process has it.
    EXPECT_EQ(CKS_RW_USER_FUNCTIONS, State(rw));
    EXPECT_EQ(CKS_RO_USER_FUNCTIONS, State(ro));
    EXPECT_EQ(CKR_USER_ALREADY_LOGGED_IN, Login(rw, CKU_USER, kUserPin));
    EXPECT_EQ(CKR_USER_ANOTHER_ALREADY_LOGGED_IN, Login(rw, CKU_SO, kSoPin));
    ASSERT_EQ(CKR_OK, p11->C_Logout(rw));
    EXPECT_EQ(CKR_USER_NOT_LOGGED_IN, p11->C_Logout(rw));
    EXPECT_EQ(CKS_RO_PUBLIC_SESSION, State(ro));
    EXPECT_EQ(CKR_SESSION_READ_ONLY_EXISTS, Login(rw, CKU_SO, kSoPin));
    ASSERT_EQ(CKR_OK, p11->C_CloseSession(ro));
    ASSERT_EQ(CKR_OK, Login(rw, CKU_SO, kSoPin));
    EXPECT_EQ(CKS_RW_SO_FUNCTIONS, State(rw));
    CK_SESSION_HANDLE refused = CK_INVALID_HANDLE;
    EXPECT_EQ(CKR_SESSION_READ_WRITE_SO_EXISTS,
              p11->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &refused));
}

// Every entry that takes a session answers for the module and the session
// before anything of its own: not initialised, then an unknown or closed
// session, and only then its own answer (C_SeedRandom's refusal of seeds,
// the legacy parallel entries, C_SetPIN's "no user" that the change-PIN
// dialog relies on).
TEST_F(LoginTest, SessionCodesComeBeforeEachEntrysOwnAnswer) {
    unsigned char bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const struct {
        const char* entry;
        CK_RV (*call)(CK_SESSION_HANDLE session, CK_BYTE_PTR bytes);
        CK_RV onOpenSession;
    } rows[] = {
        {"C_SeedRandom", [](CK_SESSION_HANDLE s, CK_BYTE_PTR b) { return p11->C_SeedRandom(s, b, 8); },
         CKR_RANDOM_SEED_NOT_SUPPORTED},
        {"C_SeedRandom without a seed", [](CK_SESSION_HANDLE s, CK_BYTE_PTR) { return p11->C_SeedRandom(s, nullptr, 8); },
         CKR_ARGUMENTS_BAD},
        {"C_GetFunctionStatus", [](CK_SESSION_HANDLE s, CK_BYTE_PTR) { return p11->C_GetFunctionStatus(s); },
         CKR_FUNCTION_NOT_PARALLEL},
        {"C_CancelFunction", [](CK_SESSION_HANDLE s, CK_BYTE_PTR) { return p11->C_CancelFunction(s); },
         CKR_FUNCTION_NOT_PARALLEL},
        {"C_SetPIN without a login",
         [](CK_SESSION_HANDLE s, CK_BYTE_PTR) { return p11->C_SetPIN(s, Text(kUserPin), 6, Text("111111"), 6); },
         CKR_USER_TYPE_INVALID},
    };
    const CK_SESSION_HANDLE session = Open();
    const CK_SESSION_HANDLE closed = Open();
    ASSERT_EQ(CKR_OK, p11->C_CloseSession(closed));
    for (const auto& row : rows) {
        EXPECT_EQ(row.onOpenSession, row.call(session, bytes)) << row.entry;
        EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, row.call(0x5EED, bytes)) << row.entry << ", unknown session";
        EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, row.call(closed, bytes)) << row.entry << ", closed session";
    }
    ASSERT_EQ(CKR_OK, p11->C_Finalize(nullptr));
    for (const auto& row : rows)
        EXPECT_EQ(CKR_CRYPTOKI_NOT_INITIALIZED, row.call(session, bytes)) << row.entry;
    ASSERT_EQ(CKR_OK, p11->C_Initialize(nullptr));
}

TEST_F(LoginTest, ClosingTheLastSessionLogsOut) {
    CK_SESSION_HANDLE first = Open();
    CK_SESSION_HANDLE second = Open();
    ASSERT_EQ(CKR_OK, Login(first, CKU_USER, kUserPin));
    ASSERT_EQ(CKR_OK, p11->C_CloseSession(first));
    EXPECT_EQ(CKS_RW_USER_FUNCTIONS, State(second));
    ASSERT_EQ(CKR_OK, p11->C_CloseSession(second));
    CK_SESSION_HANDLE third = Open();
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, State(third));
    ASSERT_EQ(CKR_OK, Login(third, CKU_USER, kUserPin));
    ASSERT_EQ(CKR_OK, p11->C_CloseAllSessions(0));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, p11->C_GetSessionInfo(third, nullptr));
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, State(Open()));
}

TEST_F(LoginTest, UserLoginNeedsAnInitialisedPin) {
    MakeToken(1, "Blank", "0000000002", nullptr);
    EXPECT_EQ(0u, TokenInfo(1).flags & CKF_USER_PIN_INITIALIZED);
    CK_SESSION_HANDLE session = Open(1);
    EXPECT_EQ(CKR_USER_PIN_NOT_INITIALIZED, Login(session, CKU_USER, kUserPin));
    EXPECT_EQ(CKR_USER_TYPE_INVALID, Login(session, 7, kUserPin));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_Login(session, CKU_USER, nullptr, 4));
}

TEST_F(LoginTest, SetPinChangesThePinOfTheLoggedInUser) {
    CK_SESSION_HANDLE session = Open();
    EXPECT_EQ(CKR_USER_TYPE_INVALID, p11->C_SetPIN(session, Text(kUserPin), 6, Text("111111"), 6));
    ASSERT_EQ(CKR_OK, Login(session, CKU_USER, kUserPin));
    CK_SESSION_HANDLE readOnly = Open(0, false);
    EXPECT_EQ(CKR_SESSION_READ_ONLY, p11->C_SetPIN(readOnly, Text(kUserPin), 6, Text("111111"), 6));
    EXPECT_EQ(CKR_PIN_INCORRECT, p11->C_SetPIN(session, Text("999999"), 6, Text("111111"), 6));
    EXPECT_EQ(CKF_USER_PIN_COUNT_LOW, TokenInfo().flags & kUserCounterFlags);
    EXPECT_EQ(CKR_OK, p11->C_SetPIN(session, Text(kUserPin), 6, Text("111111"), 6));
    EXPECT_EQ(0u, TokenInfo().flags & kUserCounterFlags);
    ASSERT_EQ(CKR_OK, p11->C_Logout(session));
    EXPECT_EQ(CKR_PIN_INCORRECT, Login(session, CKU_USER, kUserPin));
    EXPECT_EQ(CKR_OK, Login(session, CKU_USER, "111111"));
    ASSERT_EQ(CKR_OK, p11->C_Logout(session));
    ASSERT_EQ(CKR_OK, p11->C_CloseSession(readOnly));

    ASSERT_EQ(CKR_OK, Login(session, CKU_SO, kSoPin));
    EXPECT_EQ(CKR_PIN_LEN_RANGE, p11->C_SetPIN(session, Text(kSoPin), 7, Text("abc"), 3));
    EXPECT_EQ(CKR_OK, p11->C_SetPIN(session, Text(kSoPin), 7, Text("new-so-pin"), 10));
    ASSERT_EQ(CKR_OK, p11->C_Logout(session));
    EXPECT_EQ(CKR_PIN_INCORRECT, Login(session, CKU_SO, kSoPin));
    EXPECT_EQ(CKR_OK, Login(session, CKU_SO, "new-so-pin"));
}

TEST_F(LoginTest, InitPinNeedsTheSecurityOfficer) {
    CK_SESSION_HANDLE session = Open();
    EXPECT_EQ(CKR_USER_NOT_LOGGED_IN, p11->C_InitPIN(session, Text("222222"), 6));
    ASSERT_EQ(CKR_OK, Login(session, CKU_USER, kUserPin));
    EXPECT_EQ(CKR_USER_NOT_LOGGED_IN, p11->C_InitPIN(session, Text("222222"), 6));
}

TEST_F(LoginTest, InitTokenErasesObjectsAndUserPin) {
    CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(CKR_OK, Login(session, CKU_USER, kUserPin));
    CK_OBJECT_HANDLE object = 0;
    ASSERT_EQ(CKR_OK, CreateData(session, "kept?", true, false, &object));
    CK_UTF8CHAR label[32];
    memset(label, ' ', sizeof label);
    memcpy(label, "Fresh", 5);
    EXPECT_EQ(CKR_SESSION_EXISTS, p11->C_InitToken(0, Text(kSoPin), 7, label));
    ASSERT_EQ(CKR_OK, p11->C_CloseAllSessions(0));
    EXPECT_EQ(CKR_PIN_INCORRECT, p11->C_InitToken(0, Text("not-it"), 6, label));
    EXPECT_EQ(CKF_SO_PIN_COUNT_LOW, TokenInfo().flags & kSoCounterFlags);
    ASSERT_EQ(CKR_OK, p11->C_InitToken(0, Text(kSoPin), 7, label));
    CK_TOKEN_INFO info = TokenInfo();
    EXPECT_EQ("Fresh", Unpadded(info.label, sizeof info.label));
    EXPECT_EQ(0u, info.flags & (CKF_USER_PIN_INITIALIZED | kSoCounterFlags));
    session = Open();
    EXPECT_TRUE(FindByLabel(session, "").empty());
    EXPECT_EQ(CKR_USER_PIN_NOT_INITIALIZED, Login(session, CKU_USER, kUserPin));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_InitToken(0, Text(kSoPin), 7, nullptr));
    EXPECT_EQ(CKR_SLOT_ID_INVALID, p11->C_InitToken(9, Text(kSoPin), 7, label));
}

}  // namespace
