// RSA key generation and signing, checked against BCrypt's verification
// here and against openssl by the shell step that follows this test
// (verify_signature.sh, on the files this test leaves behind).
#include "SoftTokenFixture.h"

#include <bcrypt.h>

namespace {

CK_BBOOL kTrue = CK_TRUE;
const unsigned char kSha256Prefix[] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65,
                                       0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
const std::string kMessage = "Signed on the soft token, checked by openssl.";

Bytes Sha(const wchar_t* algorithm, const Bytes& data) {
    const bool sha1 = wcscmp(algorithm, BCRYPT_SHA1_ALGORITHM) == 0;
    Bytes digest(sha1 ? 20 : 32);
    BCRYPT_ALG_HANDLE provider = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    BCryptOpenAlgorithmProvider(&provider, algorithm, nullptr, 0);
    BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0);
    BCryptHashData(hash, const_cast<PUCHAR>(data.data()), static_cast<ULONG>(data.size()), 0);
    BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0);
    BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(provider, 0);
    return digest;
}

// PKCS#1 v1.5 verification with an independent implementation.
bool Verifies(const Bytes& modulus, const Bytes& exponent, const wchar_t* hash, const Bytes& data,
              const Bytes& signature) {
    BCRYPT_RSAKEY_BLOB header = {BCRYPT_RSAPUBLIC_MAGIC, static_cast<ULONG>(modulus.size() * 8),
                                 static_cast<ULONG>(exponent.size()), static_cast<ULONG>(modulus.size()), 0, 0};
    Bytes blob(reinterpret_cast<unsigned char*>(&header), reinterpret_cast<unsigned char*>(&header) + sizeof header);
    blob.insert(blob.end(), exponent.begin(), exponent.end());
    blob.insert(blob.end(), modulus.begin(), modulus.end());
    BCRYPT_ALG_HANDLE rsa = nullptr;
    BCRYPT_KEY_HANDLE key = nullptr;
    BCryptOpenAlgorithmProvider(&rsa, BCRYPT_RSA_ALGORITHM, nullptr, 0);
    bool ok = BCryptImportKeyPair(rsa, nullptr, BCRYPT_RSAPUBLIC_BLOB, &key, blob.data(),
                                  static_cast<ULONG>(blob.size()), 0) == 0;
    Bytes digest = Sha(hash, data);
    BCRYPT_PKCS1_PADDING_INFO padding = {hash};
    ok = ok && BCryptVerifySignature(key, &padding, digest.data(), static_cast<ULONG>(digest.size()),
                                     const_cast<PUCHAR>(signature.data()), static_cast<ULONG>(signature.size()),
                                     BCRYPT_PAD_PKCS1) == 0;
    if (key)
        BCryptDestroyKey(key);
    BCryptCloseAlgorithmProvider(rsa, 0);
    return ok;
}

Bytes Der(unsigned char tag, const Bytes& content) {
    Bytes out{tag};
    const size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<unsigned char>(n));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<unsigned char>(n >> 8));
        out.push_back(static_cast<unsigned char>(n));
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// SubjectPublicKeyInfo of an RSA key, the form openssl reads.
Bytes PublicKeyInfo(const Bytes& modulus, const Bytes& exponent) {
    auto integer = [](Bytes value) {
        if (value[0] & 0x80)
            value.insert(value.begin(), 0);
        return Der(0x02, value);
    };
    const Bytes algorithm = Der(0x30, Bytes{0x06, 0x09, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x01, 0x05, 0x00});
    const Bytes key = Der(0x30, Concat({integer(modulus), integer(exponent)}));
    return Der(0x30, Concat({algorithm, Der(0x03, Concat({Bytes{0}, key}))}));
}

class SignTest : public SoftTokenTest {
protected:
    void SetUp() override {
        SoftTokenTest::SetUp();
        session_ = Open();
        ASSERT_EQ(CKR_OK, Login(session_, CKU_USER, kUserPin));
    }
    CK_RV Generate(CK_ULONG bits, CK_OBJECT_HANDLE* publicKey, CK_OBJECT_HANDLE* privateKey) {
        CK_MECHANISM mechanism = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
        unsigned char id[] = {0x42};
        CK_ATTRIBUTE publicTemplate[] = {{CKA_MODULUS_BITS, &bits, sizeof bits}, {CKA_TOKEN, &kTrue, 1},
                                         {CKA_ID, id, 1}, {CKA_LABEL, (void*)"pair", 4}};
        CK_ATTRIBUTE privateTemplate[] = {{CKA_TOKEN, &kTrue, 1}, {CKA_ID, id, 1}, {CKA_LABEL, (void*)"pair", 4}};
        return p11->C_GenerateKeyPair(session_, &mechanism, publicTemplate, 4, privateTemplate, 3, publicKey,
                                      privateKey);
    }
    Bytes Sign(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, const Bytes& data, CK_RV* rv = nullptr) {
        CK_MECHANISM mechanism = {type, nullptr, 0};
        CK_RV result = p11->C_SignInit(session_, &mechanism, key);
        CK_ULONG length = 0;
        if (result == CKR_OK)
            result = p11->C_Sign(session_, const_cast<CK_BYTE_PTR>(data.data()), static_cast<CK_ULONG>(data.size()),
                                 nullptr, &length);
        Bytes signature(length);
        if (result == CKR_OK)
            result = p11->C_Sign(session_, const_cast<CK_BYTE_PTR>(data.data()), static_cast<CK_ULONG>(data.size()),
                                 signature.data(), &length);
        signature.resize(result == CKR_OK ? length : 0);
        if (rv)
            *rv = result;
        else
            EXPECT_EQ(CKR_OK, result) << std::hex << type;
        return signature;
    }
    CK_SESSION_HANDLE session_ = 0;
};

TEST_F(SignTest, MechanismsAreListed) {
    CK_ULONG count = 0;
    ASSERT_EQ(CKR_OK, p11->C_GetMechanismList(0, nullptr, &count));
    std::vector<CK_MECHANISM_TYPE> list(count);
    ASSERT_EQ(CKR_OK, p11->C_GetMechanismList(0, list.data(), &count));
    for (CK_MECHANISM_TYPE wanted : {CKM_RSA_PKCS_KEY_PAIR_GEN, CKM_RSA_PKCS, CKM_SHA1_RSA_PKCS, CKM_SHA256_RSA_PKCS})
        EXPECT_NE(list.end(), std::find(list.begin(), list.end(), wanted)) << std::hex << wanted;
    CK_MECHANISM_INFO info;
    ASSERT_EQ(CKR_OK, p11->C_GetMechanismInfo(0, CKM_SHA256_RSA_PKCS, &info));
    EXPECT_EQ(1024u, info.ulMinKeySize);
    EXPECT_NE(0u, info.flags & CKF_SIGN);
    EXPECT_EQ(CKR_MECHANISM_INVALID, p11->C_GetMechanismInfo(0, CKM_AES_CBC, &info));
}

TEST_F(SignTest, GeneratedKeysSignWithEveryMechanism) {
    const Bytes data(kMessage.begin(), kMessage.end());
    for (CK_ULONG bits : {1024ul, 2048ul}) {
        CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
        ASSERT_EQ(CKR_OK, Generate(bits, &publicKey, &privateKey)) << bits;
        const Bytes modulus = Attribute(session_, publicKey, CKA_MODULUS);
        const Bytes exponent = Attribute(session_, publicKey, CKA_PUBLIC_EXPONENT);
        EXPECT_EQ(bits / 8, modulus.size());
        EXPECT_EQ((Bytes{1, 0, 1}), exponent);
        EXPECT_EQ(bits, UlongAttribute(session_, publicKey, CKA_MODULUS_BITS));
        EXPECT_TRUE(BoolAttribute(session_, privateKey, CKA_LOCAL));
        EXPECT_EQ(CKM_RSA_PKCS_KEY_PAIR_GEN, UlongAttribute(session_, privateKey, CKA_KEY_GEN_MECHANISM));
        EXPECT_EQ(modulus, Attribute(session_, privateKey, CKA_MODULUS));
        CK_RV rv = CKR_OK;
        Attribute(session_, privateKey, CKA_PRIME_1, &rv);
        EXPECT_EQ(CKR_ATTRIBUTE_SENSITIVE, rv);

        const Bytes sha256 = Sign(CKM_SHA256_RSA_PKCS, privateKey, data);
        EXPECT_TRUE(Verifies(modulus, exponent, BCRYPT_SHA256_ALGORITHM, data, sha256)) << bits;
        const Bytes sha1 = Sign(CKM_SHA1_RSA_PKCS, privateKey, data);
        EXPECT_TRUE(Verifies(modulus, exponent, BCRYPT_SHA1_ALGORITHM, data, sha1)) << bits;
        Bytes digestInfo(kSha256Prefix, kSha256Prefix + sizeof kSha256Prefix);
        const Bytes digest = Sha(BCRYPT_SHA256_ALGORITHM, data);
        digestInfo.insert(digestInfo.end(), digest.begin(), digest.end());
        EXPECT_EQ(sha256, Sign(CKM_RSA_PKCS, privateKey, digestInfo)) << "PKCS#1 v1.5 is deterministic";
    }
}

TEST_F(SignTest, PartsSignLikeTheWhole) {
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    ASSERT_EQ(CKR_OK, Generate(1024, &publicKey, &privateKey));
    const Bytes data(kMessage.begin(), kMessage.end());
    const Bytes whole = Sign(CKM_SHA256_RSA_PKCS, privateKey, data);
    CK_MECHANISM mechanism = {CKM_SHA256_RSA_PKCS, nullptr, 0};
    ASSERT_EQ(CKR_OK, p11->C_SignInit(session_, &mechanism, privateKey));
    EXPECT_EQ(CKR_OPERATION_ACTIVE, p11->C_SignInit(session_, &mechanism, privateKey));
    ASSERT_EQ(CKR_OK, p11->C_SignUpdate(session_, const_cast<CK_BYTE_PTR>(data.data()), 10));
    ASSERT_EQ(CKR_OK, p11->C_SignUpdate(session_, const_cast<CK_BYTE_PTR>(data.data()) + 10,
                                        static_cast<CK_ULONG>(data.size() - 10)));
    Bytes signature(128);
    CK_ULONG length = 5;
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, p11->C_SignFinal(session_, signature.data(), &length));
    EXPECT_EQ(128u, length);
    ASSERT_EQ(CKR_OK, p11->C_SignFinal(session_, signature.data(), &length));
    EXPECT_EQ(whole, signature);
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, p11->C_SignFinal(session_, signature.data(), &length));
}

TEST_F(SignTest, LengthQueriesKeepTheOperation) {
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    ASSERT_EQ(CKR_OK, Generate(1024, &publicKey, &privateKey));
    CK_MECHANISM mechanism = {CKM_SHA1_RSA_PKCS, nullptr, 0};
    ASSERT_EQ(CKR_OK, p11->C_SignInit(session_, &mechanism, privateKey));
    CK_BYTE data[] = "abc";
    CK_ULONG length = 0;
    ASSERT_EQ(CKR_OK, p11->C_Sign(session_, data, 3, nullptr, &length));
    EXPECT_EQ(128u, length);
    Bytes signature(200);
    length = 64;
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, p11->C_Sign(session_, data, 3, signature.data(), &length));
    EXPECT_EQ(128u, length);
    length = 200;
    ASSERT_EQ(CKR_OK, p11->C_Sign(session_, data, 3, signature.data(), &length));
    EXPECT_EQ(128u, length);
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, p11->C_Sign(session_, data, 3, signature.data(), &length));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_Sign(session_, data, 3, signature.data(), nullptr));
}

TEST_F(SignTest, AKeyStoredFromItsComponentsSigns) {
    BCRYPT_ALG_HANDLE rsa = nullptr;
    BCRYPT_KEY_HANDLE made = nullptr;
    ASSERT_EQ(0, BCryptOpenAlgorithmProvider(&rsa, BCRYPT_RSA_ALGORITHM, nullptr, 0));
    ASSERT_EQ(0, BCryptGenerateKeyPair(rsa, &made, 1024, 0));
    ASSERT_EQ(0, BCryptFinalizeKeyPair(made, 0));
    ULONG size = 0;
    BCryptExportKey(made, nullptr, BCRYPT_RSAFULLPRIVATE_BLOB, nullptr, 0, &size, 0);
    Bytes blob(size);
    ASSERT_EQ(0, BCryptExportKey(made, nullptr, BCRYPT_RSAFULLPRIVATE_BLOB, blob.data(), size, &size, 0));
    BCryptDestroyKey(made);
    BCryptCloseAlgorithmProvider(rsa, 0);
    const auto* h = reinterpret_cast<const BCRYPT_RSAKEY_BLOB*>(blob.data());
    const unsigned char* p = blob.data() + sizeof *h;
    auto take = [&p](size_t n) { Bytes b(p, p + n); p += n; return b; };
    Bytes e = take(h->cbPublicExp), n = take(h->cbModulus), p1 = take(h->cbPrime1), p2 = take(h->cbPrime2),
          e1 = take(h->cbPrime1), e2 = take(h->cbPrime2), c = take(h->cbPrime1), d = take(h->cbModulus);
    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    CK_KEY_TYPE rsaType = CKK_RSA;
    auto attr = [](CK_ATTRIBUTE_TYPE type, Bytes& value) {
        return CK_ATTRIBUTE{type, value.data(), static_cast<CK_ULONG>(value.size())};
    };
    CK_ATTRIBUTE templ[] = {{CKA_CLASS, &privateClass, sizeof privateClass}, {CKA_KEY_TYPE, &rsaType, sizeof rsaType},
                            attr(CKA_MODULUS, n), attr(CKA_PUBLIC_EXPONENT, e), attr(CKA_PRIVATE_EXPONENT, d),
                            attr(CKA_PRIME_1, p1), attr(CKA_PRIME_2, p2), attr(CKA_EXPONENT_1, e1),
                            attr(CKA_EXPONENT_2, e2), attr(CKA_COEFFICIENT, c)};
    CK_OBJECT_HANDLE key = 0;
    ASSERT_EQ(CKR_OK, p11->C_CreateObject(session_, templ, 10, &key));
    EXPECT_FALSE(BoolAttribute(session_, key, CKA_LOCAL));
    const Bytes data(kMessage.begin(), kMessage.end());
    EXPECT_TRUE(Verifies(n, e, BCRYPT_SHA256_ALGORITHM, data, Sign(CKM_SHA256_RSA_PKCS, key, data)));
}

TEST_F(SignTest, RefusalsCarryTheirCodes) {
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0, data = 0;
    ASSERT_EQ(CKR_OK, Generate(1024, &publicKey, &privateKey));
    ASSERT_EQ(CKR_OK, CreateData(session_, "d", false, false, &data));
    CK_MECHANISM sha256 = {CKM_SHA256_RSA_PKCS, nullptr, 0};
    CK_MECHANISM aes = {CKM_AES_CBC, nullptr, 0};
    CK_BBOOL no = CK_FALSE;
    CK_ATTRIBUTE noSign = {CKA_SIGN, &no, 1};
    EXPECT_EQ(CKR_KEY_TYPE_INCONSISTENT, p11->C_SignInit(session_, &sha256, publicKey));
    EXPECT_EQ(CKR_KEY_TYPE_INCONSISTENT, p11->C_SignInit(session_, &sha256, data));
    EXPECT_EQ(CKR_MECHANISM_INVALID, p11->C_SignInit(session_, &aes, privateKey));
    EXPECT_EQ(CKR_KEY_HANDLE_INVALID, p11->C_SignInit(session_, &sha256, 777777));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_SignInit(session_, nullptr, privateKey));
    ASSERT_EQ(CKR_OK, p11->C_SetAttributeValue(session_, privateKey, &noSign, 1));
    EXPECT_EQ(CKR_KEY_FUNCTION_NOT_PERMITTED, p11->C_SignInit(session_, &sha256, privateKey));

    CK_MECHANISM generate = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_ULONG tiny = 512, odd = 1000;
    CK_ATTRIBUTE tinyBits = {CKA_MODULUS_BITS, &tiny, sizeof tiny};
    CK_ATTRIBUTE oddBits = {CKA_MODULUS_BITS, &odd, sizeof odd};
    CK_OBJECT_HANDLE a = 0, b = 0;
    EXPECT_EQ(CKR_TEMPLATE_INCOMPLETE, p11->C_GenerateKeyPair(session_, &generate, nullptr, 0, nullptr, 0, &a, &b));
    EXPECT_EQ(CKR_KEY_SIZE_RANGE, p11->C_GenerateKeyPair(session_, &generate, &tinyBits, 1, nullptr, 0, &a, &b));
    EXPECT_EQ(CKR_KEY_SIZE_RANGE, p11->C_GenerateKeyPair(session_, &generate, &oddBits, 1, nullptr, 0, &a, &b));
    EXPECT_EQ(CKR_MECHANISM_INVALID, p11->C_GenerateKeyPair(session_, &sha256, &tinyBits, 1, nullptr, 0, &a, &b));
    ASSERT_EQ(CKR_OK, p11->C_Logout(session_));
    CK_ULONG bits = 1024;
    CK_ATTRIBUTE goodBits = {CKA_MODULUS_BITS, &bits, sizeof bits};
    EXPECT_EQ(CKR_USER_NOT_LOGGED_IN, p11->C_GenerateKeyPair(session_, &generate, &goodBits, 1, nullptr, 0, &a, &b));
    EXPECT_EQ(CKR_USER_NOT_LOGGED_IN, p11->C_SignInit(session_, &sha256, privateKey));
}

// Leaves a public key, data and signature for openssl to check.
TEST_F(SignTest, SignatureForOpenssl) {
    const std::wstring path = FolderFromEnvironment(L"SOFTTOKEN_SIGNATURES");
    if (path.empty())
        GTEST_SKIP() << "SOFTTOKEN_SIGNATURES not set: no openssl check in this run";
    CreateDirectoryW(path.c_str(), nullptr);
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    ASSERT_EQ(CKR_OK, Generate(2048, &publicKey, &privateKey));
    const Bytes data(kMessage.begin(), kMessage.end());
    const Bytes signature = Sign(CKM_SHA256_RSA_PKCS, privateKey, data);
    const Bytes spki = PublicKeyInfo(Attribute(session_, publicKey, CKA_MODULUS),
                                     Attribute(session_, publicKey, CKA_PUBLIC_EXPONENT));
    ASSERT_TRUE(WriteFileBytes(path + L"\\public.der", spki));
    ASSERT_TRUE(WriteFileBytes(path + L"\\data.bin", data));
    ASSERT_TRUE(WriteFileBytes(path + L"\\signature.bin", signature));
}

}  // namespace
