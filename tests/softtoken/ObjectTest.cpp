// Objects: visibility of private objects, the attribute-reading rules,
// template validation and defaults, searching, changing, destroying, and
// the token's finite memory.
#include "SoftTokenFixture.h"

#include <wincrypt.h>

namespace {

CK_OBJECT_CLASS kData = CKO_DATA, kCertificate = CKO_CERTIFICATE, kPublic = CKO_PUBLIC_KEY,
                kPrivate = CKO_PRIVATE_KEY, kSecret = CKO_SECRET_KEY;
CK_KEY_TYPE kRsa = CKK_RSA, kAes = CKK_AES, kEc = CKK_EC;
CK_CERTIFICATE_TYPE kX509 = CKC_X_509;
CK_BBOOL kTrue = CK_TRUE, kFalse = CK_FALSE;
unsigned char kModulus[128] = {0xc5, 0x01, 0x02};  // 1024 bits
unsigned char kExponent[] = {0x01, 0x00, 0x01};
unsigned char kPrivateExponent[128] = {0x11, 0x22};
unsigned char kAesValue[16] = {1, 2, 3};
unsigned char kP256[] = {0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07};
unsigned char kPoint[67] = {0x04, 0x41, 0x04};

#define ATTR(type, value) CK_ATTRIBUTE{type, &value, sizeof value}

class ObjectTest : public SoftTokenTest {
protected:
    void SetUp() override {
        SoftTokenTest::SetUp();
        session_ = Open();
        ASSERT_EQ(CKR_OK, Login(session_, CKU_USER, kUserPin));
    }
    CK_RV Create(std::vector<CK_ATTRIBUTE> templ, CK_OBJECT_HANDLE* object = nullptr) {
        CK_OBJECT_HANDLE ignored = 0;
        return p11->C_CreateObject(session_, templ.data(), static_cast<CK_ULONG>(templ.size()),
                                   object ? object : &ignored);
    }
    CK_OBJECT_HANDLE RsaPrivateKey(bool token = false) {
        CK_OBJECT_HANDLE key = 0;
        CK_BBOOL tokenFlag = token ? CK_TRUE : CK_FALSE;
        EXPECT_EQ(CKR_OK, Create({ATTR(CKA_CLASS, kPrivate), ATTR(CKA_KEY_TYPE, kRsa),
                                  ATTR(CKA_TOKEN, tokenFlag), ATTR(CKA_MODULUS, kModulus),
                                  ATTR(CKA_PUBLIC_EXPONENT, kExponent),
                                  ATTR(CKA_PRIVATE_EXPONENT, kPrivateExponent),
                                  CK_ATTRIBUTE{CKA_ID, (void*)"k1", 2}},
                                 &key));
        return key;
    }
    CK_SESSION_HANDLE session_ = 0;
};

TEST_F(ObjectTest, PrivateObjectsAreHiddenUntilTheUserLogsIn) {
    CK_OBJECT_HANDLE secret = 0, open = 0;
    ASSERT_EQ(CKR_OK, CreateData(session_, "secret", true, true, &secret));
    ASSERT_EQ(CKR_OK, CreateData(session_, "open", true, false, &open));
    ASSERT_EQ(CKR_OK, p11->C_Logout(session_));
    EXPECT_EQ(std::vector<CK_OBJECT_HANDLE>{open}, FindByLabel(session_, ""));
    CK_ATTRIBUTE label = {CKA_LABEL, nullptr, 0};
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, p11->C_GetAttributeValue(session_, secret, &label, 1));
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, p11->C_DestroyObject(session_, secret));
    CK_OBJECT_HANDLE refused = 0;
    EXPECT_EQ(CKR_USER_NOT_LOGGED_IN, CreateData(session_, "x", false, true, &refused));
    ASSERT_EQ(CKR_OK, Login(session_, CKU_SO, kSoPin));
    EXPECT_EQ(1u, FindByLabel(session_, "").size()) << "the SO does not see private objects either";
    ASSERT_EQ(CKR_OK, p11->C_Logout(session_));
    ASSERT_EQ(CKR_OK, Login(session_, CKU_USER, kUserPin));
    EXPECT_EQ((std::vector<CK_OBJECT_HANDLE>{secret, open}), FindByLabel(session_, ""));
}

TEST_F(ObjectTest, TokenObjectsNeedAReadWriteSession) {
    CK_SESSION_HANDLE readOnly = Open(0, false);
    CK_OBJECT_HANDLE object = 0;
    EXPECT_EQ(CKR_SESSION_READ_ONLY, CreateData(readOnly, "t", true, false, &object));
    EXPECT_EQ(CKR_OK, CreateData(readOnly, "s", false, false, &object)) << "session objects are fine";
    CK_OBJECT_HANDLE tokenObject = 0;
    ASSERT_EQ(CKR_OK, CreateData(session_, "t", true, false, &tokenObject));
    EXPECT_EQ(CKR_SESSION_READ_ONLY, p11->C_DestroyObject(readOnly, tokenObject));
}

TEST_F(ObjectTest, ReadingMixedAttributesAnswersEachOne) {
    CK_OBJECT_HANDLE key = RsaPrivateKey();
    unsigned char modulus[256], id[1], label[8];
    CK_ATTRIBUTE templ[] = {
        {CKA_MODULUS, modulus, sizeof modulus},         // readable, fits
        {CKA_PRIVATE_EXPONENT, modulus, sizeof modulus},  // sensitive
        {CKA_VALUE_LEN, nullptr, 0},                   // not an attribute of RSA keys
        {CKA_ID, id, sizeof id},                       // too short
        {CKA_LABEL, nullptr, 0},                       // length query
        {CKA_SIGN, label, 1},
    };
    const CK_RV rv = p11->C_GetAttributeValue(session_, key, templ, 6);
    EXPECT_TRUE(rv == CKR_ATTRIBUTE_SENSITIVE || rv == CKR_ATTRIBUTE_TYPE_INVALID || rv == CKR_BUFFER_TOO_SMALL)
        << std::hex << rv;
    EXPECT_EQ(sizeof kModulus, templ[0].ulValueLen);
    EXPECT_EQ(0, memcmp(modulus, kModulus, sizeof kModulus));
    EXPECT_EQ(CK_UNAVAILABLE_INFORMATION, templ[1].ulValueLen);
    EXPECT_EQ(CK_UNAVAILABLE_INFORMATION, templ[2].ulValueLen);
    EXPECT_EQ(CK_UNAVAILABLE_INFORMATION, templ[3].ulValueLen);
    EXPECT_EQ(0u, templ[4].ulValueLen);
    EXPECT_EQ(1u, templ[5].ulValueLen);
    EXPECT_EQ(CK_TRUE, label[0]);
}

TEST_F(ObjectTest, EachReadingErrorAlone) {
    CK_OBJECT_HANDLE key = RsaPrivateKey();
    unsigned char small[2];
    struct Case {
        CK_ATTRIBUTE_TYPE type;
        void* buffer;
        CK_ULONG size;
        CK_RV rv;
        CK_ULONG length;
    };
    const Case cases[] = {
        {CKA_MODULUS, small, sizeof small, CKR_BUFFER_TOO_SMALL, CK_UNAVAILABLE_INFORMATION},
        {CKA_MODULUS, nullptr, 0, CKR_OK, sizeof kModulus},
        {CKA_PRIME_1, nullptr, 0, CKR_ATTRIBUTE_TYPE_INVALID, CK_UNAVAILABLE_INFORMATION},
        {CKA_PRIVATE_EXPONENT, nullptr, 0, CKR_ATTRIBUTE_SENSITIVE, CK_UNAVAILABLE_INFORMATION},
        {0x7fff0001, nullptr, 0, CKR_ATTRIBUTE_TYPE_INVALID, CK_UNAVAILABLE_INFORMATION},
        {CKA_ID, small, sizeof small, CKR_OK, 2},
    };
    for (const Case& c : cases) {
        CK_ATTRIBUTE a = {c.type, c.buffer, c.size};
        EXPECT_EQ(c.rv, p11->C_GetAttributeValue(session_, key, &a, 1)) << std::hex << c.type;
        EXPECT_EQ(c.length, a.ulValueLen) << std::hex << c.type;
    }
}

TEST_F(ObjectTest, TemplatesAreValidated) {
    unsigned char shortAes[15] = {};
    CK_BBOOL wideBool[2] = {1, 1};
    CK_ULONG wrongBits = 2048;
    struct Case {
        const char* what;
        std::vector<CK_ATTRIBUTE> templ;
        CK_RV rv;
    };
    const Case cases[] = {
        {"no class", {ATTR(CKA_TOKEN, kFalse)}, CKR_TEMPLATE_INCOMPLETE},
        {"certificate without value", {ATTR(CKA_CLASS, kCertificate), ATTR(CKA_CERTIFICATE_TYPE, kX509)},
         CKR_TEMPLATE_INCOMPLETE},
        {"key without key type", {ATTR(CKA_CLASS, kSecret), ATTR(CKA_VALUE, kAesValue)}, CKR_TEMPLATE_INCOMPLETE},
        {"bool of two bytes", {ATTR(CKA_CLASS, kData), ATTR(CKA_TOKEN, wideBool)}, CKR_ATTRIBUTE_VALUE_INVALID},
        {"unknown attribute", {ATTR(CKA_CLASS, kData), CK_ATTRIBUTE{0x7fff0001, &kTrue, 1}},
         CKR_ATTRIBUTE_TYPE_INVALID},
        {"attribute of another class", {ATTR(CKA_CLASS, kData), ATTR(CKA_MODULUS, kModulus)},
         CKR_ATTRIBUTE_TYPE_INVALID},
        {"unknown class", {CK_ATTRIBUTE{CKA_CLASS, &wrongBits, sizeof wrongBits}}, CKR_ATTRIBUTE_VALUE_INVALID},
        {"token-set attribute", {ATTR(CKA_CLASS, kSecret), ATTR(CKA_KEY_TYPE, kAes), ATTR(CKA_VALUE, kAesValue),
                                 ATTR(CKA_LOCAL, kTrue)}, CKR_ATTRIBUTE_READ_ONLY},
        {"AES key of 15 bytes", {ATTR(CKA_CLASS, kSecret), ATTR(CKA_KEY_TYPE, kAes), ATTR(CKA_VALUE, shortAes)},
         CKR_ATTRIBUTE_VALUE_INVALID},
        {"contradicting repeat", {ATTR(CKA_CLASS, kData), ATTR(CKA_TOKEN, kTrue), ATTR(CKA_TOKEN, kFalse)},
         CKR_TEMPLATE_INCONSISTENT},
        {"modulus bits that disagree", {ATTR(CKA_CLASS, kPublic), ATTR(CKA_KEY_TYPE, kRsa),
                                        ATTR(CKA_MODULUS, kModulus), ATTR(CKA_PUBLIC_EXPONENT, kExponent),
                                        ATTR(CKA_MODULUS_BITS, wrongBits)}, CKR_TEMPLATE_INCONSISTENT},
        {"AES public key", {ATTR(CKA_CLASS, kPublic), ATTR(CKA_KEY_TYPE, kAes)}, CKR_TEMPLATE_INCONSISTENT},
        {"RSA public key without exponent", {ATTR(CKA_CLASS, kPublic), ATTR(CKA_KEY_TYPE, kRsa),
                                             ATTR(CKA_MODULUS, kModulus)}, CKR_TEMPLATE_INCOMPLETE},
        {"value without pointer", {ATTR(CKA_CLASS, kData), CK_ATTRIBUTE{CKA_VALUE, nullptr, 4}},
         CKR_ATTRIBUTE_VALUE_INVALID},
    };
    const size_t before = FindByLabel(session_, "").size();
    for (const Case& c : cases)
        EXPECT_EQ(c.rv, Create(c.templ)) << c.what;
    EXPECT_EQ(before, FindByLabel(session_, "").size()) << "refused templates leave nothing behind";
    CK_OBJECT_HANDLE object = 0;
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_CreateObject(session_, nullptr, 1, &object));
    CK_ATTRIBUTE data = ATTR(CKA_CLASS, kData);
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_CreateObject(session_, &data, 1, nullptr));
}

TEST_F(ObjectTest, DefaultsAreFilledIn) {
    CK_OBJECT_HANDLE key = 0;
    ASSERT_EQ(CKR_OK, Create({ATTR(CKA_CLASS, kSecret), ATTR(CKA_KEY_TYPE, kAes), ATTR(CKA_VALUE, kAesValue)}, &key));
    struct Expected {
        CK_ATTRIBUTE_TYPE type;
        bool value;
    };
    const Expected flags[] = {
        {CKA_TOKEN, false},          {CKA_PRIVATE, true},        {CKA_SENSITIVE, true},
        {CKA_EXTRACTABLE, false},    {CKA_LOCAL, false},         {CKA_ALWAYS_SENSITIVE, false},
        {CKA_NEVER_EXTRACTABLE, false}, {CKA_MODIFIABLE, true},  {CKA_ENCRYPT, true},
    };
    for (const Expected& e : flags)
        EXPECT_EQ(e.value, BoolAttribute(session_, key, e.type)) << std::hex << e.type;
    EXPECT_EQ(16u, UlongAttribute(session_, key, CKA_VALUE_LEN));
    EXPECT_EQ(CK_UNAVAILABLE_INFORMATION, UlongAttribute(session_, key, CKA_KEY_GEN_MECHANISM));
    EXPECT_TRUE(Attribute(session_, key, CKA_LABEL).empty());
    CK_RV rv = CKR_OK;
    Attribute(session_, key, CKA_VALUE, &rv);
    EXPECT_EQ(CKR_ATTRIBUTE_SENSITIVE, rv);

    CK_OBJECT_HANDLE data = 0;
    ASSERT_EQ(CKR_OK, Create({ATTR(CKA_CLASS, kData)}, &data));
    EXPECT_FALSE(BoolAttribute(session_, data, CKA_PRIVATE));
    EXPECT_FALSE(BoolAttribute(session_, data, CKA_TOKEN));

    CK_OBJECT_HANDLE publicKey = 0;
    ASSERT_EQ(CKR_OK, Create({ATTR(CKA_CLASS, kPublic), ATTR(CKA_KEY_TYPE, kRsa), ATTR(CKA_MODULUS, kModulus),
                              ATTR(CKA_PUBLIC_EXPONENT, kExponent)}, &publicKey));
    EXPECT_EQ(1024u, UlongAttribute(session_, publicKey, CKA_MODULUS_BITS));
    EXPECT_FALSE(BoolAttribute(session_, publicKey, CKA_PRIVATE));

    CK_OBJECT_HANDLE ecKey = 0;
    ASSERT_EQ(CKR_OK, Create({ATTR(CKA_CLASS, kPublic), ATTR(CKA_KEY_TYPE, kEc), ATTR(CKA_EC_PARAMS, kP256),
                              ATTR(CKA_EC_POINT, kPoint)}, &ecKey));
    EXPECT_EQ(Bytes(kP256, kP256 + sizeof kP256), Attribute(session_, ecKey, CKA_EC_PARAMS));
    EXPECT_EQ(Bytes(kPoint, kPoint + sizeof kPoint), Attribute(session_, ecKey, CKA_EC_POINT));
}

// CKA_ALWAYS_SENSITIVE and CKA_NEVER_EXTRACTABLE tell a key's history: key
// material handed in from outside never earns them, whatever its flags
// are now; a key made on the token has them exactly when it was made
// sensitive and unextractable.
TEST_F(ObjectTest, KeyHistoryFollowsWhereTheKeyWasMade) {
    CK_MECHANISM generate = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_ULONG bits = 1024;
    const struct {
        const char* what;
        bool generated;
        CK_BBOOL sensitive, extractable;
        bool alwaysSensitive, neverExtractable;
    } rows[] = {
        {"created, sensitive and unextractable", false, CK_TRUE, CK_FALSE, false, false},
        {"created, readable", false, CK_FALSE, CK_TRUE, false, false},
        {"generated, sensitive and unextractable", true, CK_TRUE, CK_FALSE, true, true},
        {"generated, readable", true, CK_FALSE, CK_TRUE, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        CK_BBOOL sensitive = row.sensitive, extractable = row.extractable;
        CK_OBJECT_HANDLE key = 0, publicKey = 0;
        if (row.generated) {
            CK_ATTRIBUTE publicTemplate[] = {ATTR(CKA_MODULUS_BITS, bits)};
            CK_ATTRIBUTE privateTemplate[] = {ATTR(CKA_SENSITIVE, sensitive), ATTR(CKA_EXTRACTABLE, extractable)};
            ASSERT_EQ(CKR_OK, p11->C_GenerateKeyPair(session_, &generate, publicTemplate, 1, privateTemplate, 2,
                                                     &publicKey, &key));
        } else {
            ASSERT_EQ(CKR_OK, Create({ATTR(CKA_CLASS, kPrivate), ATTR(CKA_KEY_TYPE, kRsa), ATTR(CKA_MODULUS, kModulus),
                                      ATTR(CKA_PRIVATE_EXPONENT, kPrivateExponent), ATTR(CKA_SENSITIVE, sensitive),
                                      ATTR(CKA_EXTRACTABLE, extractable)},
                                     &key));
        }
        EXPECT_EQ(row.generated, BoolAttribute(session_, key, CKA_LOCAL));
        EXPECT_EQ(row.alwaysSensitive, BoolAttribute(session_, key, CKA_ALWAYS_SENSITIVE));
        EXPECT_EQ(row.neverExtractable, BoolAttribute(session_, key, CKA_NEVER_EXTRACTABLE));
    }
}

TEST_F(ObjectTest, CertificateNamesComeFromTheCertificate) {
    Bytes der = ReadFixture(L"cn_simple.der");
    ASSERT_FALSE(der.empty()) << "fixture cn_simple.der";
    CK_OBJECT_HANDLE certificate = 0;
    ASSERT_EQ(CKR_OK, Create({ATTR(CKA_CLASS, kCertificate), ATTR(CKA_CERTIFICATE_TYPE, kX509),
                              CK_ATTRIBUTE{CKA_VALUE, der.data(), static_cast<CK_ULONG>(der.size())},
                              ATTR(CKA_TOKEN, kTrue)},
                             &certificate));
    PCCERT_CONTEXT context = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    ASSERT_NE(nullptr, context);
    const CERT_INFO* info = context->pCertInfo;
    EXPECT_EQ(Bytes(info->Subject.pbData, info->Subject.pbData + info->Subject.cbData),
              Attribute(session_, certificate, CKA_SUBJECT));
    EXPECT_EQ(Bytes(info->Issuer.pbData, info->Issuer.pbData + info->Issuer.cbData),
              Attribute(session_, certificate, CKA_ISSUER));
    // The serial number attribute is the DER INTEGER; crypt32 keeps the
    // bytes little-endian.
    Bytes serial = Attribute(session_, certificate, CKA_SERIAL_NUMBER);
    ASSERT_GE(serial.size(), 2u);
    EXPECT_EQ(0x02, serial[0]);
    Bytes bigEndian(info->SerialNumber.pbData, info->SerialNumber.pbData + info->SerialNumber.cbData);
    std::reverse(bigEndian.begin(), bigEndian.end());
    EXPECT_EQ(bigEndian, Bytes(serial.begin() + 2, serial.end()));
    CertFreeCertificateContext(context);
    EXPECT_EQ(der, Attribute(session_, certificate, CKA_VALUE));
    EXPECT_EQ(CKC_X_509, UlongAttribute(session_, certificate, CKA_CERTIFICATE_TYPE));
}

TEST_F(ObjectTest, SearchesMatchTemplatesAndOneRunsAtATime) {
    CK_OBJECT_HANDLE a = 0, b = 0;
    ASSERT_EQ(CKR_OK, CreateData(session_, "alpha", true, false, &a));
    ASSERT_EQ(CKR_OK, CreateData(session_, "beta", false, true, &b));
    RsaPrivateKey(true);
    EXPECT_EQ(std::vector<CK_OBJECT_HANDLE>{a}, FindByLabel(session_, "alpha"));
    EXPECT_TRUE(FindByLabel(session_, "gamma").empty());
    CK_ATTRIBUTE byClass[] = {ATTR(CKA_CLASS, kData), ATTR(CKA_PRIVATE, kTrue)};
    ASSERT_EQ(CKR_OK, p11->C_FindObjectsInit(session_, byClass, 2));
    EXPECT_EQ(CKR_OPERATION_ACTIVE, p11->C_FindObjectsInit(session_, byClass, 2));
    CK_OBJECT_HANDLE found[4];
    CK_ULONG count = 0;
    ASSERT_EQ(CKR_OK, p11->C_FindObjects(session_, found, 4, &count));
    ASSERT_EQ(1u, count);
    EXPECT_EQ(b, found[0]);
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_FindObjects(session_, found, 4, nullptr));
    ASSERT_EQ(CKR_OK, p11->C_FindObjectsFinal(session_));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, p11->C_FindObjects(session_, found, 4, &count));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, p11->C_FindObjectsFinal(session_));
}

TEST_F(ObjectTest, ChangingAttributesFollowsTheRules) {
    CK_OBJECT_HANDLE key = RsaPrivateKey(true);
    const char newLabel[] = "renamed";
    CK_ATTRIBUTE label = {CKA_LABEL, (void*)newLabel, 7};
    ASSERT_EQ(CKR_OK, p11->C_SetAttributeValue(session_, key, &label, 1));
    EXPECT_EQ(Bytes(newLabel, newLabel + 7), Attribute(session_, key, CKA_LABEL));
    CK_ATTRIBUTE toData = ATTR(CKA_CLASS, kData);
    EXPECT_EQ(CKR_ATTRIBUTE_READ_ONLY, p11->C_SetAttributeValue(session_, key, &toData, 1));
    CK_ATTRIBUTE unsensitive = ATTR(CKA_SENSITIVE, kFalse);
    EXPECT_EQ(CKR_ATTRIBUTE_READ_ONLY, p11->C_SetAttributeValue(session_, key, &unsensitive, 1));
    CK_ATTRIBUTE modulus = ATTR(CKA_MODULUS, kModulus);
    EXPECT_EQ(CKR_ATTRIBUTE_READ_ONLY, p11->C_SetAttributeValue(session_, key, &modulus, 1));
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, p11->C_SetAttributeValue(session_, 999999, &label, 1));
    // The new label is on disk: another start of the module reads it.
    ASSERT_EQ(CKR_OK, p11->C_Finalize(nullptr));
    ASSERT_EQ(CKR_OK, p11->C_Initialize(nullptr));
    CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(CKR_OK, Login(session, CKU_USER, kUserPin));
    EXPECT_EQ(1u, FindByLabel(session, "renamed").size());
}

TEST_F(ObjectTest, DestroyedObjectsAreGone) {
    CK_OBJECT_HANDLE token = 0, session = 0;
    ASSERT_EQ(CKR_OK, CreateData(session_, "t", true, false, &token));
    ASSERT_EQ(CKR_OK, CreateData(session_, "s", false, false, &session));
    for (CK_OBJECT_HANDLE object : {token, session}) {
        ASSERT_EQ(CKR_OK, p11->C_DestroyObject(session_, object));
        EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, p11->C_DestroyObject(session_, object));
        CK_ULONG size = 0;
        EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, p11->C_GetObjectSize(session_, object, &size));
    }
    EXPECT_TRUE(FindByLabel(session_, "").empty());
}

TEST_F(ObjectTest, SessionObjectsEndWithTheirSession) {
    CK_SESSION_HANDLE other = Open();
    CK_OBJECT_HANDLE object = 0;
    ASSERT_EQ(CKR_OK, CreateData(other, "short-lived", false, false, &object));
    EXPECT_EQ(1u, FindByLabel(session_, "short-lived").size()) << "seen by every session of the process";
    ASSERT_EQ(CKR_OK, p11->C_CloseSession(other));
    EXPECT_TRUE(FindByLabel(session_, "short-lived").empty());
}

TEST_F(ObjectTest, AFullTokenRefusesAndKeepsWhatItHas) {
    MakeToken(1, "Small", "0000000003", kUserPin, 1000);
    CK_SESSION_HANDLE session = Open(1);
    ASSERT_EQ(CKR_OK, Login(session, CKU_USER, kUserPin));
    const CK_TOKEN_INFO empty = TokenInfo(1);
    EXPECT_EQ(1000u, empty.ulTotalPublicMemory);
    EXPECT_EQ(1000u, empty.ulFreePublicMemory);
    CK_OBJECT_HANDLE object = 0;
    CK_RV rv = CKR_OK;
    int stored = 0;
    while ((rv = CreateData(session, "filler", true, false, &object, 150)) == CKR_OK)
        ++stored;
    EXPECT_EQ(CKR_DEVICE_MEMORY, rv);
    ASSERT_GT(stored, 2);
    const CK_TOKEN_INFO full = TokenInfo(1);
    EXPECT_LT(full.ulFreePublicMemory, empty.ulFreePublicMemory);
    Bytes fileBefore;
    ASSERT_TRUE(ReadFileBytes(StorePath() + L"\\slot1.token", &fileBefore));
    EXPECT_EQ(CKR_DEVICE_MEMORY, CreateData(session, "filler", true, false, &object, 150));
    Bytes fileAfter;
    ASSERT_TRUE(ReadFileBytes(StorePath() + L"\\slot1.token", &fileAfter));
    EXPECT_EQ(fileBefore, fileAfter);
    EXPECT_EQ(static_cast<size_t>(stored), FindByLabel(session, "filler").size());
    EXPECT_EQ(full.ulFreePublicMemory, TokenInfo(1).ulFreePublicMemory);
    EXPECT_EQ(CKR_OK, CreateData(session, "small", true, false, &object, 1)) << "what fits still goes in";
}

TEST_F(ObjectTest, BadHandlesAndPointersAreAnswered) {
    CK_ATTRIBUTE label = {CKA_LABEL, nullptr, 0};
    CK_OBJECT_HANDLE object = 0;
    ASSERT_EQ(CKR_OK, CreateData(session_, "x", false, false, &object));
    struct Case {
        const char* what;
        CK_RV rv;
        CK_RV expected;
    };
    CK_ULONG count = 0;
    CK_SESSION_INFO sessionInfo;
    CK_SLOT_INFO slotInfo;
    const Case cases[] = {
        {"unknown session", p11->C_GetAttributeValue(424242, object, &label, 1), CKR_SESSION_HANDLE_INVALID},
        {"unknown object", p11->C_GetAttributeValue(session_, 424242, &label, 1), CKR_OBJECT_HANDLE_INVALID},
        {"null template", p11->C_GetAttributeValue(session_, object, nullptr, 1), CKR_ARGUMENTS_BAD},
        {"null session info", p11->C_GetSessionInfo(session_, nullptr), CKR_ARGUMENTS_BAD},
        {"unknown slot", p11->C_GetSlotInfo(42, &slotInfo), CKR_SLOT_ID_INVALID},
        {"null slot info", p11->C_GetSlotInfo(0, nullptr), CKR_ARGUMENTS_BAD},
        {"null count", p11->C_GetSlotList(CK_FALSE, nullptr, nullptr), CKR_ARGUMENTS_BAD},
        {"null session out", p11->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, nullptr), CKR_ARGUMENTS_BAD},
        {"not serial", p11->C_OpenSession(0, 0, nullptr, nullptr, &object), CKR_SESSION_PARALLEL_NOT_SUPPORTED},
        {"empty slot", p11->C_OpenSession(2, CKF_SERIAL_SESSION, nullptr, nullptr, &object), CKR_TOKEN_NOT_PRESENT},
        {"closed session", p11->C_GetSessionInfo(session_ + 100, &sessionInfo), CKR_SESSION_HANDLE_INVALID},
        {"mechanisms of an unknown slot", p11->C_GetMechanismList(9, nullptr, &count), CKR_SLOT_ID_INVALID},
        {"random into null", p11->C_GenerateRandom(session_, nullptr, 8), CKR_ARGUMENTS_BAD},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, c.rv) << c.what;
}

}  // namespace
