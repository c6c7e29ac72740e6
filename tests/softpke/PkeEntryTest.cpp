// vexpke.dll's exports and its set-up entry points: setCryptoki on the
// program's module instance, login as the whole program's login, the
// signing set-up, and the test control.
#include "PkeFixture.h"

#include "app/AppState.h"
#include "support/TestFiles.h"

namespace {

const char* const kInterface[] = {
    "scep_init", "scep_getcerts", "scep_reqcert", "verifyCertIssueReq", "initPKE", "initENG", "setCryptoki",
    "issueCert", "ocspReq", "getPubKeys", "getCertById", "initToken", "getKeyPairs", "getTokenCertsInfo",
    "injectCert", "ldapReq", "getKeysId", "genCSR", "exGenCSR", "getCertExtension", "verifyCert", "getIssuerCert",
    "genCertIssueReq", "genCertReReq", "verify", "signById", "validateChain", "genRandom", "getRandom",
    "genSymmetricKey", "encrypt", "decrypt", "getVCertErrMsg", "pkcs7Sign", "pkcs7Verify", "getPkcs7SignInfo",
    "pkcs7Encrypt", "pkcs7Decrypt", "getPkcs7EncInfo", "tspReq", "getInfoCertificate", "getExtByName",
    "deleteKeyPair", "getCertData", "scep_revokeCert", "scep_renewCert", "scep_getErrorString", "setIssueCertConf",
    "checkCertUsage", "normalize", "checkToken", "getSlotCount", "getSlotInfo", "getCN", "sign", "genHashByToken",
    "genHash", "verifySign", "login", "setSignMech", "genKeyPair", "getSecKeyHandle", "setCryptMech", "doCrypt",
    "initializeToken", "initializeUserPIN", "changePIN", "getPublicObject", "genHashFile", "import", "getCerts",
    "logout", "getTokenPubKeys", "deleteObj", "getEventLog",
};
const char* const kWorking[] = {"initPKE", "setCryptoki", "login", "setSignMech", "exGenCSR"};

bool IsWorking(const std::string& name) {
    for (const char* working : kWorking)
        if (name == working)
            return true;
    return false;
}

TEST_F(PkeTest, ExportsTheWholeInterfaceAndAnswersNotImplementedOutsideTheFive) {
    ASSERT_EQ(std::size(kInterface), 75u);
    for (const char* name : kInterface) {
        FARPROC entry = GetProcAddress(pke_.Handle(), name);
        ASSERT_NE(entry, nullptr) << name;
        if (IsWorking(name))
            continue;
        // Argument lists unknown: the answer is the return value alone.
        EXPECT_EQ(reinterpret_cast<int (*)()>(reinterpret_cast<void*>(entry))(), 904) << name;
    }
    // Undecorated names only: the internal names stay inside.
    EXPECT_EQ(GetProcAddress(pke_.Handle(), "VexLogin"), nullptr);
}

TEST_F(PkeTest, SetCryptokiUsesTheProgramsModuleAndNeverFinalisesIt) {
    ASSERT_EQ(pke_.InitPke(), 0);
    ASSERT_EQ(pke_.SetCryptoki(), 0);  // initialised by the program: accepted
    ASSERT_EQ(pke_.SetCryptoki(), 0);  // and again, as on every use
    ASSERT_EQ(pke_.Login(0, kTestUserPin), 0);
    // The same instance: the program's own session sees the login.
    EXPECT_EQ(SessionState(), CKS_RW_USER_FUNCTIONS);
    pke_.Unload();
    CK_INFO info;
    EXPECT_EQ(Functions()->C_GetInfo(&info), CKR_OK) << "the module is still initialised";
    EXPECT_EQ(SessionState(), CKS_RW_USER_FUNCTIONS) << "the program's session and login remain";
}

TEST_F(PkeTest, SetCryptokiInitialisesAModuleTheProgramHasNotInitialised) {
    ASSERT_EQ(Functions()->C_Finalize(nullptr), CKR_OK);
    ASSERT_EQ(pke_.InitPke(), 0);
    ASSERT_EQ(pke_.SetCryptoki(), 0);
    CK_INFO info;
    EXPECT_EQ(Functions()->C_GetInfo(&info), CKR_OK);
    EXPECT_EQ(pke_.Login(0, kTestUserPin), 0);
}

struct LinkCase {
    const char* module;
    const char* configuration;
    bool initialised;
    int status;
};

// Each refusal of setCryptoki.
const LinkCase kLinkCases[] = {
    {"tolvane11.dll", "", false, 511},        // before initPKE
    {nullptr, "", true, 903},                 // no module name
    {"", "", true, 903},                      // empty module name
    {"tolvane11.dll", "section", true, 529},  // a configuration this library does not have
    {"no-such-module.dll", "", true, 901},    // not there
    {"kernel32.dll", "", true, 902},          // a DLL that is no Cryptoki module
};

TEST_F(PkeTest, SetCryptokiRefusals) {
    for (const LinkCase& c : kLinkCases) {
        pke_.Unload();
        ASSERT_TRUE(pke_.Load());
        if (c.initialised) {
            ASSERT_EQ(pke_.InitPke(), 0);
        }
        EXPECT_EQ(pke_.SetCryptoki(c.module, c.configuration), c.status) << (c.module ? c.module : "(null)");
        EXPECT_EQ(pke_.Login(0, kTestUserPin), c.initialised ? 512 : 511) << "nothing was linked";
    }
}

TEST_F(PkeTest, SetCryptokiKeepsTheFirstModule) {
    ASSERT_EQ(pke_.InitPke(), 0);
    ASSERT_EQ(pke_.SetCryptoki("tolvane11.dll"), 0);
    EXPECT_EQ(pke_.SetCryptoki("TOLVANE11.DLL"), 0) << "the same module, spelt otherwise";
    EXPECT_EQ(pke_.SetCryptoki("other11.dll"), 900);
}

TEST_F(PkeTest, LoginStatusIsTheModulesAnswer) {
    ASSERT_EQ(pke_.InitPke(), 0);
    EXPECT_EQ(pke_.Login(0, kTestUserPin), 512) << "before setCryptoki";
    ASSERT_EQ(pke_.SetCryptoki(), 0);
    EXPECT_EQ(pke_.Login(0, "9999"), static_cast<int>(CKR_PIN_INCORRECT));
    EXPECT_EQ(SessionState(), CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(pke_.Login(1, kTestUserPin), static_cast<int>(CKR_SLOT_ID_INVALID)) << "one token only";
    EXPECT_EQ(pke_.Login(-1, kTestUserPin), static_cast<int>(CKR_SLOT_ID_INVALID));
    EXPECT_EQ(pke_.Login(0, nullptr), 903);
    EXPECT_EQ(pke_.Login(0, kTestUserPin, 7), static_cast<int>(CKR_USER_TYPE_INVALID));
    ASSERT_EQ(pke_.Login(0, kTestUserPin), 0);
    EXPECT_EQ(SessionState(), CKS_RW_USER_FUNCTIONS);
    // The token is logged in already (the program's session holds it).
    EXPECT_EQ(pke_.Login(0, kTestUserPin), static_cast<int>(CKR_USER_ALREADY_LOGGED_IN));
}

TEST_F(PkeTest, LoginSlotIndexCountsOnlySlotsWithATokenAndLeavesTheProgramsSessionsOpen) {
    ASSERT_TRUE(store_.AddToken(2, "Second token", "PKE0002", "5678"));
    ASSERT_TRUE(store_.OpenSession(2));
    ASSERT_EQ(pke_.InitPke(), 0);
    ASSERT_EQ(pke_.SetCryptoki(), 0);
    ASSERT_EQ(pke_.Login(1, "5678"), 0) << "index 1 is the token in slot 2";
    CK_SESSION_INFO info = {};
    ASSERT_EQ(Functions()->C_GetSessionInfo(SessionTable[2], &info), CKR_OK);
    EXPECT_EQ(info.state, CKS_RW_USER_FUNCTIONS);
    EXPECT_EQ(SessionState(), CKS_RW_PUBLIC_SESSION) << "slot 0 untouched";
}

struct SignMechCase {
    int scheme, format, hash;
    unsigned int word;
    int status;
};

// The one set-up this library signs with, and each way to miss it.
const SignMechCase kSignMechCases[] = {
    {1, 0, 1, 0, 0},    // RSA PKCS #1 v1.5, plain format, SHA-256
    {2, 0, 1, 0, 540},  // another scheme
    {1, 1, 1, 0, 541},  // another format
    {1, 0, 2, 0, 544},  // another hash
    {1, 0, 1, 5, 553},  // a parameter word set
};

TEST_F(PkeTest, SetSignMechAcceptsRsaPkcs1WithSha256Only) {
    ASSERT_EQ(pke_.InitPke(), 0);
    EXPECT_EQ(pke_.SetSignMech(), 512) << "before setCryptoki";
    ASSERT_EQ(pke_.SetCryptoki(), 0);
    for (const SignMechCase& c : kSignMechCases)
        EXPECT_EQ(pke_.SetSignMech(c.scheme, c.format, c.hash, c.word), c.status)
            << c.scheme << " " << c.format << " " << c.hash << " " << c.word;
}

TEST_F(PkeTest, TestControlAnswersChosenStatusesAndRecordsCalls) {
    ASSERT_EQ(pke_.SetFault("login", 2, 160), 0);
    ASSERT_EQ(pke_.SetFault("setSignMech", 1, 7, true), 0);
    EXPECT_NE(pke_.SetFault("notAnEntry", 1, 5), 0);
    ASSERT_EQ(pke_.InitPke(), 0);
    ASSERT_EQ(pke_.SetCryptoki(), 0);
    EXPECT_EQ(pke_.Login(0, "9999"), static_cast<int>(CKR_PIN_INCORRECT)) << "the first login runs";
    EXPECT_EQ(pke_.Login(0, kTestUserPin), 160) << "the second is answered";
    EXPECT_EQ(SessionState(), CKS_RW_PUBLIC_SESSION) << "an answered call does nothing";
    EXPECT_EQ(pke_.Login(0, kTestUserPin), 0) << "once only";
    EXPECT_EQ(pke_.SetSignMech(), 7);
    EXPECT_EQ(pke_.SetSignMech(), 7) << "repeated";

    EXPECT_EQ(pke_.CallCount("login"), 3);
    EXPECT_EQ(pke_.CallCount("setSignMech"), 2);
    EXPECT_EQ(pke_.LastArguments("login"), "1 0 4") << "user type, slot index, PIN length: never the PIN";
    EXPECT_EQ(pke_.LastArguments("setCryptoki"), "tolvane11.dll|");
    EXPECT_EQ(pke_.LastArguments("setSignMech"), "1 0 1 0 0 0");
}

// This process's environment, one "NAME=value" an entry: what every
// program it starts inherits.
std::vector<std::wstring> EnvironmentEntries() {
    std::vector<std::wstring> entries;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; entry && *entry; entry += wcslen(entry) + 1)
        entries.push_back(entry);
    FreeEnvironmentStringsW(block);
    return entries;
}

// Nothing of a call goes into the environment, where every program started
// later (the certificate viewer too) would find the key ID and the PIN's
// length. A normal run records nothing at all; a test that records reads
// the record through the library.
TEST_F(PkeTest, CallsLeaveNoTraceInTheEnvironment) {
    const Bytes id = {0x4B, 0x17, 0xC0, 0xDE};
    AddKeyPair(id);
    const struct {
        const char* what;
        bool recording;
        int csrCalls;
        std::string csrArguments;
    } rows[] = {
        {"a normal run", false, 0, "(none)"},
        {"a recorded run", true, 1, "4B17C0DE|1024||"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        if (!row.recording) {
            ASSERT_EQ(pke_.StopRecording(), 0);
        }
        ASSERT_EQ(pke_.Ready(), 0);
        CsrInput input;
        input.keyId = ToHex(id);
        input.subject = {{1, "Trace Test"}};
        ASSERT_EQ(Generate(input).status, 0);
        ASSERT_EQ(Functions()->C_Logout(Session()), CKR_OK);

        const std::wstring keyId(input.keyId.begin(), input.keyId.end());
        for (const std::wstring& entry : EnvironmentEntries()) {
            EXPECT_NE(_wcsnicmp(entry.c_str(), L"VEXPKE_", 7), 0) << Narrow(entry);
            EXPECT_EQ(entry.find(keyId), std::wstring::npos) << Narrow(entry);
        }
        EXPECT_EQ(pke_.CallCount("exGenCSR"), row.csrCalls);
        EXPECT_EQ(pke_.LastArguments("exGenCSR"), row.csrArguments);
        pke_.Unload();
        ASSERT_TRUE(pke_.Load());  // records again from here
    }
}

// For whole-program runs: the environment sets the fault, also before the
// library is loaded, and an unload keeps it.
TEST_F(PkeTest, FaultsComeFromTheEnvironment) {
    pke_.Unload();
    ASSERT_TRUE(SetEnvironmentVariableA("VEXPKE_FAULTS", "initPKE:1:6;exGenCSR:1:627"));
    HMODULE library = LoadLibraryW((BinFolder() + L"\\vexpke.dll").c_str());
    ASSERT_NE(library, nullptr);
    auto initPke = reinterpret_cast<void (*)(int*)>(reinterpret_cast<void*>(GetProcAddress(library, "initPKE")));
    int status = 0;
    initPke(&status);
    EXPECT_EQ(status, 6);
    FreeLibrary(library);
    char left[64] = {};
    GetEnvironmentVariableA("VEXPKE_FAULTS", left, sizeof left);
    EXPECT_STREQ(left, "exGenCSR:1:627") << "the used fault is gone, the other kept";
    ASSERT_TRUE(pke_.Load());  // clears the faults
    EXPECT_EQ(pke_.InitPke(), 0);
}

}  // namespace
