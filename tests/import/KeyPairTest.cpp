// Key blobs to key objects: the blob checks, the templates, and key pairs
// made by the platform's RSA provider stored and used on the token.
#include "ImportTestSupport.h"

#include <algorithm>
#include <functional>

#include "app/AppState.h"
#include "cryptoki/ModuleLoader.h"
#include "import/ImportCertificate.h"
#include "import/StoreRsaKeyPair.h"

namespace {

constexpr size_t kHeader = 20;  // BLOBHEADER and RSAPUBKEY

// An exportable RSA key of the enhanced provider, in memory only.
class ProviderKey {
public:
    explicit ProviderKey(DWORD bits) {
        if (CryptAcquireContextW(&provider_, nullptr, MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
            CryptGenKey(provider_, AT_KEYEXCHANGE, (bits << 16) | CRYPT_EXPORTABLE, &key_);
    }
    ~ProviderKey() {
        if (key_)
            CryptDestroyKey(key_);
        if (provider_)
            CryptReleaseContext(provider_, 0);
    }
    ProviderKey(const ProviderKey&) = delete;
    ProviderKey& operator=(const ProviderKey&) = delete;

    Bytes Export(DWORD type) const {
        DWORD size = 0;
        if (!key_ || !CryptExportKey(key_, 0, type, 0, nullptr, &size))
            return Bytes();
        Bytes blob(size);
        if (!CryptExportKey(key_, 0, type, 0, blob.data(), &size))
            return Bytes();
        blob.resize(size);
        return blob;
    }

    // The provider's verdict on a token signature (big-endian) of SHA-256
    // PKCS#1 v1.5 over `message`.
    bool Verifies(const std::string& message, Bytes signature) const {
        HCRYPTHASH hash = 0;
        if (!CryptCreateHash(provider_, CALG_SHA_256, 0, 0, &hash))
            return false;
        std::reverse(signature.begin(), signature.end());
        const bool ok = CryptHashData(hash, reinterpret_cast<const BYTE*>(message.data()),
                                      static_cast<DWORD>(message.size()), 0) &&
                        CryptVerifySignatureW(hash, signature.data(), static_cast<DWORD>(signature.size()), key_,
                                              nullptr, 0);
        CryptDestroyHash(hash);
        return ok;
    }

private:
    HCRYPTPROV provider_ = 0;
    HCRYPTKEY key_ = 0;
};

void PutDword(Bytes* blob, size_t offset, DWORD value) {
    memcpy(blob->data() + offset, &value, sizeof value);
}

Bytes Reversed(Bytes::const_iterator first, size_t size) {
    Bytes bytes(first, first + static_cast<std::ptrdiff_t>(size));
    std::reverse(bytes.begin(), bytes.end());
    return bytes;
}

std::vector<CK_ATTRIBUTE_TYPE> Types(const std::vector<CK_ATTRIBUTE>& attributes) {
    std::vector<CK_ATTRIBUTE_TYPE> types;
    for (const CK_ATTRIBUTE& a : attributes)
        types.push_back(a.type);
    return types;
}

class KeyPairTest : public ImportTokenTest {
protected:
    void SetUp() override {
        ImportTokenTest::SetUp();
        LoginUser();
        identity_.Id = Bytes(20, 0xA5);
        identity_.Label = FromText("Key Owner");
        identity_.Subject = {0x30, 0x00};
    }

    Bytes Sign(CK_OBJECT_HANDLE key, const std::string& message) {
        CK_MECHANISM mechanism = {CKM_SHA256_RSA_PKCS, nullptr, 0};
        EXPECT_EQ(Cryptoki.FunctionList->C_SignInit(Session(), &mechanism, key), CKR_OK);
        Bytes signature(1024);
        CK_ULONG length = static_cast<CK_ULONG>(signature.size());
        Bytes data = FromText(message);
        EXPECT_EQ(Cryptoki.FunctionList->C_Sign(Session(), data.data(), static_cast<CK_ULONG>(data.size()),
                                                signature.data(), &length),
                  CKR_OK);
        signature.resize(length);
        return signature;
    }

    CertificateIdentity identity_;
};

TEST_F(KeyPairTest, BlobChecks) {
    ProviderKey key(1024);
    const Bytes good = key.Export(PRIVATEKEYBLOB);
    ASSERT_EQ(good.size(), kHeader + 2 * 128 + 5 * 64);
    const struct {
        const char* what;
        std::function<void(Bytes*)> change;
        bool valid;
    } rows[] = {
        {"as exported", [](Bytes*) {}, true},
        {"public-key blob type", [](Bytes* b) { (*b)[0] = PUBLICKEYBLOB; }, false},
        {"signature RSA algorithm", [](Bytes* b) { PutDword(b, 4, CALG_RSA_SIGN); }, true},
        {"DSS algorithm", [](Bytes* b) { PutDword(b, 4, CALG_DSS_SIGN); }, false},
        {"public-key magic RSA1", [](Bytes* b) { PutDword(b, 8, 0x31415352); }, false},
        {"no public exponent", [](Bytes* b) { PutDword(b, 16, 0); }, false},
        {"one byte short", [](Bytes* b) { b->pop_back(); }, false},
        {"one byte over", [](Bytes* b) { b->push_back(0); }, false},
        {"bit length larger than the fields", [](Bytes* b) { PutDword(b, 12, 2048); }, false},
        {"header only", [](Bytes* b) { b->resize(kHeader); }, false},
        {"shorter than a header", [](Bytes* b) { b->resize(12); }, false},
    };
    for (const auto& row : rows) {
        Bytes blob = good;
        row.change(&blob);
        RsaKeyBlobLayout layout;
        EXPECT_EQ(ReadRsaKeyBlobLayout(blob.data(), blob.size(), &layout), row.valid) << row.what;
        if (!row.valid) {
            EXPECT_EQ(StoreRsaKeyPair(kImportSlot, blob.data(), blob.size(), false, identity_), kKeyBlobNotRsa)
                << row.what;
        }
    }
    EXPECT_TRUE(Objects(CKO_PUBLIC_KEY).empty());
}

TEST_F(KeyPairTest, HalfFieldsFollowTheBlobSize) {
    const struct {
        DWORD bits;
        size_t modulusSize;
    } rows[] = {
        {2048, 256},
        {1024, 128},
        // Not a multiple of 16 bits: odd modulus length, half fields rounded
        // the way the provider wrote them.
        {1032, 129},
        {1544, 193},
    };
    for (const auto& row : rows) {
        ProviderKey key(row.bits);
        const Bytes blob = key.Export(PRIVATEKEYBLOB);
        ASSERT_FALSE(blob.empty()) << row.bits;
        RsaKeyBlobLayout layout;
        ASSERT_TRUE(ReadRsaKeyBlobLayout(blob.data(), blob.size(), &layout)) << row.bits;
        EXPECT_EQ(layout.BitLength, row.bits);
        EXPECT_EQ(layout.ModulusSize, row.modulusSize);
        EXPECT_EQ(kHeader + 2 * layout.ModulusSize + 5 * layout.HalfSize, blob.size());
        EXPECT_GE(2 * layout.HalfSize + 1, layout.ModulusSize) << "half fields hold half the modulus";
    }
}

TEST_F(KeyPairTest, StoredPairSignsAndMatchesTheBlob) {
    const DWORD sizes[] = {2048, 1032};
    for (DWORD bits : sizes) {
        ProviderKey key(bits);
        const Bytes original = key.Export(PRIVATEKEYBLOB);
        RsaKeyBlobLayout layout;
        ASSERT_TRUE(ReadRsaKeyBlobLayout(original.data(), original.size(), &layout));
        Bytes blob = original;
        ASSERT_EQ(StoreRsaKeyPair(kImportSlot, blob.data(), blob.size(), true, identity_), kKeyPairStored);

        const CK_OBJECT_HANDLE publicKey = Objects(CKO_PUBLIC_KEY).back();
        const CK_OBJECT_HANDLE privateKey = Objects(CKO_PRIVATE_KEY).back();
        const size_t n = layout.ModulusSize, h = layout.HalfSize;
        auto field = original.begin() + kHeader;
        const Bytes modulus = Reversed(field, n);
        EXPECT_EQ(Read(publicKey, CKA_MODULUS), modulus) << bits;
        EXPECT_EQ(Read(privateKey, CKA_MODULUS), modulus) << bits;
        EXPECT_EQ(Read(privateKey, CKA_PRIME_1), Reversed(field + n, h)) << bits;
        EXPECT_EQ(Read(privateKey, CKA_PRIME_2), Reversed(field + n + h, h)) << bits;
        EXPECT_EQ(Read(privateKey, CKA_EXPONENT_1), Reversed(field + n + 2 * h, h)) << bits;
        EXPECT_EQ(Read(privateKey, CKA_EXPONENT_2), Reversed(field + n + 3 * h, h)) << bits;
        EXPECT_EQ(Read(privateKey, CKA_COEFFICIENT), Reversed(field + n + 4 * h, h)) << bits;
        EXPECT_EQ(Read(privateKey, CKA_PRIVATE_EXPONENT), Reversed(field + n + 5 * h, n)) << bits;
        EXPECT_TRUE(ReadFlag(privateKey, CKA_EXTRACTABLE));
        for (CK_OBJECT_HANDLE object : {publicKey, privateKey}) {
            EXPECT_EQ(Read(object, CKA_ID), identity_.Id);
            EXPECT_EQ(Read(object, CKA_LABEL), identity_.Label);
            EXPECT_EQ(Read(object, CKA_SUBJECT), identity_.Subject);
        }
        const std::string message = "key pair of " + std::to_string(bits) + " bits";
        EXPECT_TRUE(key.Verifies(message, Sign(privateKey, message))) << bits;
    }
}

TEST_F(KeyPairTest, PublicExponentWithoutLeadingZeroBytes) {
    ProviderKey key(1024);
    const Bytes good = key.Export(PRIVATEKEYBLOB);
    const struct {
        DWORD exponent;
        std::string expected;
    } rows[] = {
        {65537, "010001"},
        {3, "03"},
        {0x100, "0100"},  // zero bytes inside stay
        {0x01000001, "01000001"},
    };
    for (const auto& row : rows) {
        Bytes blob = good;
        PutDword(&blob, 16, row.exponent);
        ASSERT_EQ(StoreRsaKeyPair(kImportSlot, blob.data(), blob.size(), false, identity_), kKeyPairStored);
        EXPECT_EQ(ToHex(Read(Objects(CKO_PUBLIC_KEY).back(), CKA_PUBLIC_EXPONENT)), row.expected);
        EXPECT_EQ(ToHex(Read(Objects(CKO_PRIVATE_KEY).back(), CKA_PUBLIC_EXPONENT)), row.expected);
    }
}

TEST_F(KeyPairTest, TemplatesComeInTheirOrder) {
    const std::vector<CK_ATTRIBUTE_TYPE> identityTypes = {CKA_ID, CKA_LABEL, CKA_SUBJECT};
    const struct {
        const char* what;
        CertificateIdentity identity;
        std::vector<CK_ATTRIBUTE_TYPE> expectedIdentity;
    } rows[] = {
        {"all three", identity_, identityTypes},
        // A certificate without common name and without ID.
        {"subject only", CertificateIdentity{{}, {}, {0x30, 0x00}}, {CKA_SUBJECT}},
        {"nothing", CertificateIdentity(), {}},
    };
    RsaKeyParts parts;
    const BYTE dummy[256] = {};
    parts.Modulus = parts.Prime1 = parts.Prime2 = parts.Exponent1 = parts.Exponent2 = parts.Coefficient =
        parts.PrivateExponent = dummy;
    parts.ModulusSize = 256;
    parts.HalfSize = 128;
    parts.PublicExponent = {1, 0, 1};
    const CK_BBOOL extractable = CK_TRUE;
    for (const auto& row : rows) {
        std::vector<CK_ATTRIBUTE_TYPE> expected = {CKA_CLASS, CKA_TOKEN, CKA_PRIVATE, CKA_MODIFIABLE};
        expected.insert(expected.end(), row.expectedIdentity.begin(), row.expectedIdentity.end());
        std::vector<CK_ATTRIBUTE_TYPE> publicTypes = expected;
        publicTypes.insert(publicTypes.end(), {CKA_KEY_TYPE, CKA_ENCRYPT, CKA_VERIFY, CKA_WRAP, CKA_MODULUS,
                                               CKA_PUBLIC_EXPONENT});
        std::vector<CK_ATTRIBUTE_TYPE> privateTypes = expected;
        privateTypes.insert(privateTypes.end(),
                            {CKA_KEY_TYPE, CKA_DECRYPT, CKA_SIGN, CKA_UNWRAP, CKA_MODULUS, CKA_PUBLIC_EXPONENT,
                             CKA_PRIME_1, CKA_PRIME_2, CKA_EXPONENT_1, CKA_EXPONENT_2, CKA_PRIVATE_EXPONENT,
                             CKA_COEFFICIENT, CKA_EXTRACTABLE, CKA_SENSITIVE});
        const std::vector<CK_ATTRIBUTE> publicTemplate = BuildPublicKeyTemplate(parts, row.identity);
        const std::vector<CK_ATTRIBUTE> privateTemplate = BuildPrivateKeyTemplate(parts, row.identity, &extractable);
        EXPECT_EQ(Types(publicTemplate), publicTypes) << row.what;
        EXPECT_EQ(Types(privateTemplate), privateTypes) << row.what;
        // Public key public, private key private; the private key not sensitive.
        EXPECT_EQ(*static_cast<CK_BBOOL*>(publicTemplate[2].pValue), CK_FALSE);
        EXPECT_EQ(*static_cast<CK_BBOOL*>(privateTemplate[2].pValue), CK_TRUE);
        EXPECT_EQ(*static_cast<CK_BBOOL*>(privateTemplate.back().pValue), CK_FALSE);
    }
}

TEST_F(KeyPairTest, CreateFailures) {
    ProviderKey key(1024);
    const Bytes good = key.Export(PRIVATEKEYBLOB);
    const struct {
        CK_ULONG failingCall;  // 1: public key, 2: private key
        size_t publicKeysLeft;
    } rows[] = {
        {1, 0},
        // The public key stays; nothing is rolled back.
        {2, 1},
    };
    for (const auto& row : rows) {
        ASSERT_EQ(TokenStore::Control().SetFault("C_CreateObject", row.failingCall, CKR_DEVICE_MEMORY), CKR_OK);
        Bytes blob = good;
        EXPECT_EQ(StoreRsaKeyPair(kImportSlot, blob.data(), blob.size(), false, identity_), 10 + 0x31);
        EXPECT_EQ(Objects(CKO_PUBLIC_KEY).size(), row.publicKeysLeft);
        EXPECT_TRUE(Objects(CKO_PRIVATE_KEY).empty());
        for (CK_OBJECT_HANDLE object : Objects(CKO_PUBLIC_KEY))
            Cryptoki.FunctionList->C_DestroyObject(Session(), object);
        TokenStore::Control().ClearFaults();
    }
}

}  // namespace
