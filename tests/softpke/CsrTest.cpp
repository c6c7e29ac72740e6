// exGenCSR on the software token: requests for a key on the token and for
// a new key pair, each field where openssl shows it (the openssl step
// checks the saved requests), and every failure with nothing left behind.
#include "PkeFixture.h"

#include <wincrypt.h>

namespace {

const Bytes kExistingId = {0x0A, 0xFF};

class CsrTest : public PkeTest {
protected:
    void SetUp() override {
        PkeTest::SetUp();
        ASSERT_EQ(pke_.Ready(), 0);
    }
    // What the worker and the dialog do before the next request: the
    // program logs out, the library logs in again.
    void ReadyAgain() {
        Functions()->C_Logout(Session());
        ASSERT_EQ(pke_.Login(0, kTestUserPin), 0);
        ASSERT_EQ(pke_.SetSignMech(), 0);
    }
    Bytes PublicModulus(const Bytes& id) {
        auto keys = Objects(CKO_PUBLIC_KEY, &id);
        return keys.size() == 1 ? Attribute(keys[0], CKA_MODULUS) : Bytes();
    }
};

bool IsPem(const std::string& pem) {
    return pem.rfind("-----BEGIN CERTIFICATE REQUEST-----\r\n", 0) == 0 &&
           pem.size() > 36 && pem.compare(pem.size() - 35, 35, "-----END CERTIFICATE REQUEST-----\r\n") == 0;
}

TEST_F(CsrTest, ExistingKeyRequestCarriesTheTokensPublicKey) {
    AddKeyPair(kExistingId, 2048);
    ReadyAgain();
    const size_t objects = ObjectCount();
    CsrInput input;
    input.keyId = "0AFF";
    input.subject = {{0, "SE"}, {1, "Existing Key Holder"}, {2, "Tolvane AB"}};
    input.keyUsage = "digitalSignature";
    const CsrOutput out = Generate(input);
    ASSERT_EQ(out.status, 0);
    EXPECT_TRUE(IsPem(out.pem)) << out.pem;
    EXPECT_EQ(out.auxiliary, "0AFF");
    EXPECT_EQ(ObjectCount(), objects) << "nothing made for an existing key";

    Bytes modulus, keyIdentifier;
    ASSERT_TRUE(RequestPublicKey(PemToDer(out.pem), &modulus, &keyIdentifier));
    EXPECT_EQ(ToHex(modulus), ToHex(PublicModulus(kExistingId)));
    SaveForOpenssl("existing_key", out.pem,
                   {"Modulus=" + ToHex(modulus), "Subject: C=SE,O=Tolvane AB,CN=Existing Key Holder",
                    "Public-Key: (2048 bit)", "Signature Algorithm: sha256WithRSAEncryption"});
}

TEST_F(CsrTest, LowerCaseKeyIdFindsTheKeyToo) {
    AddKeyPair(kExistingId);
    ReadyAgain();
    CsrInput input;
    input.keyId = "0aff";
    input.subject = {{1, "lower"}};
    EXPECT_EQ(Generate(input).status, 0);
}

// The key pair is on the token afterwards under the identifier the
// certificate import gives its certificate: the SHA-1 of the public key's
// bit-string contents, here taken from the request by the platform.
TEST_F(CsrTest, NewKeyPairStaysOnTheTokenWithTheCertificatesIdentifier) {
    const size_t objects = ObjectCount();
    CsrInput input;
    input.subject = {{0, "SE"}, {1, "\xC3\x85sa \xC3\x96" "berg"}};  // Åsa Öberg
    input.keyBits = 1024;
    const CsrOutput out = Generate(input);
    ASSERT_EQ(out.status, 0);
    ASSERT_EQ(ObjectCount(), objects + 2);

    Bytes modulus, keyIdentifier;
    ASSERT_TRUE(RequestPublicKey(PemToDer(out.pem), &modulus, &keyIdentifier));
    EXPECT_EQ(out.auxiliary, ToHex(keyIdentifier));
    auto privateKeys = Objects(CKO_PRIVATE_KEY, &keyIdentifier);
    auto publicKeys = Objects(CKO_PUBLIC_KEY, &keyIdentifier);
    ASSERT_EQ(privateKeys.size(), 1u);
    ASSERT_EQ(publicKeys.size(), 1u);
    EXPECT_EQ(modulus.size(), 128u);
    EXPECT_EQ(ToHex(Attribute(publicKeys[0], CKA_MODULUS)), ToHex(modulus));
    const Bytes label = Attribute(privateKeys[0], CKA_LABEL);
    EXPECT_EQ(std::string(label.begin(), label.end()), input.subject[1]);
    EXPECT_EQ(Attribute(publicKeys[0], CKA_LABEL), label);
    EXPECT_FALSE(Attribute(privateKeys[0], CKA_SUBJECT).empty());
    // A signing key that never leaves the token.
    const struct {
        CK_ATTRIBUTE_TYPE type;
        CK_BBOOL value;
    } flags[] = {{CKA_TOKEN, CK_TRUE}, {CKA_PRIVATE, CK_TRUE}, {CKA_SENSITIVE, CK_TRUE},
                 {CKA_EXTRACTABLE, CK_FALSE}, {CKA_SIGN, CK_TRUE}};
    for (const auto& flag : flags)
        EXPECT_EQ(Attribute(privateKeys[0], flag.type), Bytes{flag.value}) << "attribute " << flag.type;
    EXPECT_EQ(Attribute(publicKeys[0], CKA_TOKEN), Bytes{CK_TRUE});

    SaveForOpenssl("new_key", out.pem,
                   {"Modulus=" + ToHex(modulus), "Subject: C=SE,CN=\xC3\x85sa \xC3\x96" "berg",
                    "UTF8STRING :\xC3\x85sa \xC3\x96" "berg", "PRINTABLESTRING :SE", "Public-Key: (1024 bit)"});
}

TEST_F(CsrTest, EveryFieldArrivesWhereOpensslShowsIt) {
    AddKeyPair(kExistingId, 2048);
    ReadyAgain();
    CsrInput input;
    input.keyId = "0AFF";
    input.subject = {{0, "SE"},         {1, "Alice Example"}, {2, "Tolvane AB"},       {3, "PKI"},
                     {4, "Kista"},      {5, "Stockholm"},     {6, "alice@example.com"}, {7, "Alice"},
                     {8, "19800101-1234"}, {9, "Example"}};
    input.altNames = {{0, "www.example.com"}, {3, "https://www.example.com/enrol"}, {4, "alice@example.com"}};
    input.keyUsage = "digitalSignature, nonRepudiation, keyEncipherment, cRLSign";
    input.extendedKeyUsage = "serverAuth, clientAuth, OCSPSigning, timeStamping";
    const CsrOutput out = Generate(input);
    ASSERT_EQ(out.status, 0);
    SaveForOpenssl("every_field", out.pem,
                   {"Subject: C=SE,ST=Stockholm,L=Kista,O=Tolvane AB,OU=PKI,CN=Alice Example,SN=Example,GN=Alice,"
                    "serialNumber=19800101-1234,emailAddress=alice@example.com",
                    "IA5STRING :alice@example.com", "X509v3 Key Usage: critical",
                    "Digital Signature, Non Repudiation, Key Encipherment, CRL Sign",
                    "TLS Web Server Authentication, TLS Web Client Authentication, OCSP Signing, Time Stamping",
                    "X509v3 Subject Alternative Name: ",
                    "DNS:www.example.com, URI:https://www.example.com/enrol, othername: UPN:alice@example.com"});
}

TEST_F(CsrTest, WithoutSubjectTheAlternativeNamesAreCritical) {
    CsrInput input;
    input.altNames = {{4, "bob@example.com"}};
    const CsrOutput out = Generate(input);
    ASSERT_EQ(out.status, 0);
    SaveForOpenssl("names_only", out.pem,
                   {"X509v3 Subject Alternative Name: critical", "othername: UPN:bob@example.com"});
}

TEST_F(CsrTest, RequestWithoutExtensions) {
    CsrInput input;
    input.subject = {{1, "Plain"}};
    const CsrOutput out = Generate(input);
    ASSERT_EQ(out.status, 0);
    SaveForOpenssl("no_extensions", out.pem, {"Subject: CN=Plain"});
    EXPECT_EQ(out.pem.find("X509v3"), std::string::npos);
}

// A token without CKM_SHA256_RSA_PKCS: the library hashes and the token
// signs the DigestInfo with CKM_RSA_PKCS.
TEST_F(CsrTest, TokenWithoutSha256SigningStillSigns) {
    ASSERT_EQ(TokenStore::Control().SetFault("C_SignInit", 1, CKR_MECHANISM_INVALID), CKR_OK);
    CsrInput input;
    input.subject = {{1, "Raw PKCS1 signer"}};
    const CsrOutput out = Generate(input);
    ASSERT_EQ(out.status, 0);
    SaveForOpenssl("raw_pkcs1", out.pem, {"Subject: CN=Raw PKCS1 signer"});
}

struct FailureCase {
    const char* what;
    std::string keyId;
    int position;        // subject position to set, or -1
    std::string subject;
    int altPosition;     // alternative-name position to set, or -1
    std::string altName;
    int keyBits;
    const char* keyUsage;
    const char* extendedKeyUsage;
    int status;
};

// Each refusal, all asked for a new key pair unless a key ID is given.
const FailureCase kFailures[] = {
    {"key ID not hex", "0AFG", -1, "", -1, "", 1024, "", "", 628},
    {"key ID of odd length", "0AF", -1, "", -1, "", 1024, "", "", 641},
    {"no key with that ID", "0B00", -1, "", -1, "", 1024, "", "", 503},
    {"key length 512", "", -1, "", -1, "", 512, "", "", 639},
    {"key length 2000", "", -1, "", -1, "", 2000, "", "", 639},
    {"country of three letters", "", 0, "SWE", -1, "", 1024, "", "", 830},
    {"common name of 65 characters", "", 1, std::string(65, 'a'), -1, "", 1024, "", "", 830},
    {"common name not UTF-8", "", 1, "\xC3(", -1, "", 1024, "", "", 830},
    {"e-mail address not ASCII", "", 6, "\xC3\xA4@example.com", -1, "", 1024, "", "", 830},
    {"serial number not printable", "", 8, "12*34", -1, "", 1024, "", "", 830},
    {"subject position without meaning", "", 10, "x", -1, "", 1024, "", "", 830},
    {"unknown key usage", "", 1, "CN", -1, "", 1024, "digitalSignature, bogus", "", 642},
    {"empty key usage name", "", 1, "CN", -1, "", 1024, "digitalSignature,, cRLSign", "", 642},
    {"key usage twice", "", 1, "CN", -1, "", 1024, "cRLSign, cRLSign", "", 642},
    {"unknown extended key usage", "", 1, "CN", -1, "", 1024, "", "anyPolicy", 642},
    {"DNS name not ASCII", "", 1, "CN", 0, "b\xC3\xBC" "cher.example", 1024, "", "", 831},
    {"alternative-name position without meaning", "", 1, "CN", 1, "x", 1024, "", "", 831},
    {"user principal name not UTF-8", "", 1, "CN", 4, "\xFF", 1024, "", "", 831},
    // Found only once the key pair exists: the request does not fit.
    {"request longer than the output buffer", "", 1, "CN", 3, "http://x/" + std::string(8000, 'a'), 1024, "", "",
     531},
};

TEST_F(CsrTest, EachFailureHasItsStatusAndLeavesNothingBehind) {
    AddKeyPair(kExistingId);
    ReadyAgain();
    const size_t objects = ObjectCount();
    for (const FailureCase& c : kFailures) {
        CsrInput input;
        input.keyId = c.keyId;
        if (c.position >= 0)
            input.subject[c.position] = c.subject;
        if (c.altPosition >= 0)
            input.altNames[c.altPosition] = c.altName;
        input.keyBits = c.keyBits;
        input.keyUsage = c.keyUsage;
        input.extendedKeyUsage = c.extendedKeyUsage;
        const CsrOutput out = Generate(input);
        EXPECT_EQ(out.status, c.status) << c.what;
        EXPECT_TRUE(out.buffersUntouched) << c.what;
        EXPECT_EQ(ObjectCount(), objects) << c.what;
        ReadyAgain();
    }
}

struct TokenFailure {
    const char* function;
    CK_ULONG nth;
    CK_RV rv;
};

// The module's failures reach the caller as its return values; a key pair
// made for the request goes again.
const TokenFailure kTokenFailures[] = {
    {"C_GenerateKeyPair", 1, CKR_DEVICE_MEMORY},
    {"C_SetAttributeValue", 1, CKR_DEVICE_ERROR},  // the public key's ID
    {"C_SetAttributeValue", 2, CKR_DEVICE_ERROR},  // the private key's ID
    {"C_SignInit", 1, CKR_KEY_FUNCTION_NOT_PERMITTED},
    {"C_Sign", 1, CKR_GENERAL_ERROR},  // the size
    {"C_Sign", 2, CKR_DEVICE_REMOVED},  // the signature
};

TEST_F(CsrTest, TokenFailuresPassOnTheirCodeAndLeaveNoKeyPair) {
    const size_t objects = ObjectCount();
    for (const TokenFailure& f : kTokenFailures) {
        ASSERT_EQ(TokenStore::Control().SetFault(f.function, f.nth, f.rv), CKR_OK);
        CsrInput input;
        input.subject = {{1, "Failing"}};
        const CsrOutput out = Generate(input);
        EXPECT_EQ(out.status, static_cast<int>(f.rv)) << f.function << " " << f.nth;
        EXPECT_TRUE(out.buffersUntouched) << f.function;
        EXPECT_EQ(ObjectCount(), objects) << f.function << " " << f.nth;
        TokenStore::Control().ClearFaults();
        ReadyAgain();
    }
}

// A failing search or a failing read of the key's values is the module's
// failure, passed on as its code, not a key without a modulus; for a new
// key, the pair made for the request goes again.
TEST_F(CsrTest, KeyReadingFailuresPassOnTheirCode) {
    AddKeyPair(kExistingId);
    ReadyAgain();
    const size_t objects = ObjectCount();
    const struct {
        const char* keyId;
        TokenFailure failure;
    } cases[] = {
        {"0AFF", {"C_FindObjectsInit", 1, CKR_DEVICE_ERROR}},
        {"0AFF", {"C_GetAttributeValue", 2, CKR_DEVICE_REMOVED}},      // the public key's modulus (size)
        {"0AFF", {"C_GetAttributeValue", 5, CKR_SESSION_CLOSED}},      // its exponent (value)
        {"", {"C_GetAttributeValue", 1, CKR_SESSION_HANDLE_INVALID}},  // a new key's modulus
    };
    for (const auto& c : cases) {
        const TokenFailure& f = c.failure;
        ASSERT_EQ(TokenStore::Control().SetFault(f.function, f.nth, f.rv), CKR_OK);
        CsrInput input;
        input.keyId = c.keyId;
        EXPECT_EQ(Generate(input).status, static_cast<int>(f.rv)) << f.function << " " << f.nth;
        EXPECT_EQ(ObjectCount(), objects) << f.function << " " << f.nth;
        TokenStore::Control().ClearFaults();
        ReadyAgain();
    }
}

// A private key whose public key object is another key's: the signature
// does not match the key in the request, which is refused.
TEST_F(CsrTest, SignatureThatDoesNotMatchThePublicKeyIsRefused) {
    const Bytes otherId = {0x02};
    AddKeyPair(kExistingId);
    AddKeyPair(otherId);
    ReadyAgain();
    const auto ownPublic = Objects(CKO_PUBLIC_KEY, &kExistingId);
    const auto otherPublic = Objects(CKO_PUBLIC_KEY, &otherId);
    ASSERT_EQ(ownPublic.size(), 1u);
    ASSERT_EQ(otherPublic.size(), 1u);
    ASSERT_EQ(Functions()->C_DestroyObject(Session(), ownPublic[0]), CKR_OK);
    CK_ATTRIBUTE id = {CKA_ID, const_cast<unsigned char*>(kExistingId.data()), 2};
    ASSERT_EQ(Functions()->C_SetAttributeValue(Session(), otherPublic[0], &id, 1), CKR_OK);
    CsrInput input;
    input.keyId = "0AFF";
    EXPECT_EQ(Generate(input).status, 523);
}

// A token that keeps no public key object: the private key's public values
// make the request.
TEST_F(CsrTest, PrivateKeyAloneIsEnough) {
    AddKeyPair(kExistingId);
    ReadyAgain();
    const auto publicKeys = Objects(CKO_PUBLIC_KEY, &kExistingId);
    ASSERT_EQ(publicKeys.size(), 1u);
    const Bytes modulus = Attribute(publicKeys[0], CKA_MODULUS);
    ASSERT_EQ(Functions()->C_DestroyObject(Session(), publicKeys[0]), CKR_OK);
    CsrInput input;
    input.keyId = "0AFF";
    const CsrOutput out = Generate(input);
    ASSERT_EQ(out.status, 0);
    Bytes requestModulus, keyIdentifier;
    ASSERT_TRUE(RequestPublicKey(PemToDer(out.pem), &requestModulus, &keyIdentifier));
    EXPECT_EQ(ToHex(requestModulus), ToHex(modulus));
}

struct OrderCase {
    const char* what;
    bool login;
    bool signMech;
    int status;
};

// What exGenCSR needs before it runs.
const OrderCase kOrderCases[] = {
    {"no login", false, true, 513},
    {"no signing set-up", true, false, 514},
};

TEST_F(CsrTest, RequestNeedsLoginAndSigningSetUp) {
    for (const OrderCase& c : kOrderCases) {
        pke_.Unload();
        Functions()->C_Logout(Session());
        ASSERT_TRUE(pke_.Load());
        ASSERT_EQ(pke_.InitPke(), 0);
        ASSERT_EQ(pke_.SetCryptoki(), 0);
        if (c.login) {
            ASSERT_EQ(pke_.Login(0, kTestUserPin), 0);
        }
        if (c.signMech) {
            ASSERT_EQ(pke_.SetSignMech(), 0);
        }
        CsrInput input;
        input.subject = {{1, "Too early"}};
        EXPECT_EQ(Generate(input).status, c.status) << c.what;
    }
}

TEST_F(CsrTest, OneRequestPerLoginAndTheProgramsSessionStays) {
    CsrInput input;
    input.subject = {{1, "First"}};
    ASSERT_EQ(Generate(input).status, 0);
    EXPECT_EQ(SessionState(), CKS_RW_USER_FUNCTIONS) << "the program's session keeps the login";
    EXPECT_EQ(Generate(input).status, 513) << "the library's session ended with the request";
}

}  // namespace
