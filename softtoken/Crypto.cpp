#include "Crypto.h"

#include <bcrypt.h>

#include <mutex>

namespace softtoken {
namespace crypto {
namespace {

constexpr NTSTATUS kOk = 0;

// Algorithm providers are opened once and shared: opening one is costly
// and a provider handle may be used from any thread.
class Providers {
public:
    static Providers& Get() {
        static Providers providers;
        return providers;
    }
    BCRYPT_ALG_HANDLE HashProvider(HashAlg alg) {
        std::lock_guard<std::mutex> lock(mutex_);
        const int index = static_cast<int>(alg);
        if (!hashes_[index])
            BCryptOpenAlgorithmProvider(&hashes_[index], AlgorithmName(alg), nullptr, 0);
        return hashes_[index];
    }
    BCRYPT_ALG_HANDLE Hmac() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!hmac_)
            BCryptOpenAlgorithmProvider(&hmac_, BCRYPT_SHA256_ALGORITHM, nullptr,
                                        BCRYPT_ALG_HANDLE_HMAC_FLAG);
        return hmac_;
    }
    BCRYPT_ALG_HANDLE Rsa() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!rsa_)
            BCryptOpenAlgorithmProvider(&rsa_, BCRYPT_RSA_ALGORITHM, nullptr, 0);
        return rsa_;
    }
    static const wchar_t* AlgorithmName(HashAlg alg) {
        switch (alg) {
        case HashAlg::Md5: return BCRYPT_MD5_ALGORITHM;
        case HashAlg::Sha1: return BCRYPT_SHA1_ALGORITHM;
        case HashAlg::Sha256: return BCRYPT_SHA256_ALGORITHM;
        case HashAlg::Sha384: return BCRYPT_SHA384_ALGORITHM;
        case HashAlg::Sha512: return BCRYPT_SHA512_ALGORITHM;
        default: return nullptr;
        }
    }

private:
    std::mutex mutex_;
    BCRYPT_ALG_HANDLE hashes_[7] = {};
    BCRYPT_ALG_HANDLE hmac_ = nullptr;
    BCRYPT_ALG_HANDLE rsa_ = nullptr;
};

// DER prefixes of DigestInfo for each hash, followed by the digest itself.
struct DigestInfoPrefix {
    HashAlg alg;
    size_t digestLen;
    Bytes prefix;
};

const std::vector<DigestInfoPrefix>& DigestInfoPrefixes() {
    static const std::vector<DigestInfoPrefix> table = {
        {HashAlg::Md5, 16, {0x30, 0x20, 0x30, 0x0c, 0x06, 0x08, 0x2a, 0x86, 0x48, 0x86, 0xf7,
                            0x0d, 0x02, 0x05, 0x05, 0x00, 0x04, 0x10}},
        {HashAlg::Sha1, 20, {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e, 0x03, 0x02, 0x1a,
                             0x05, 0x00, 0x04, 0x14}},
        {HashAlg::Sha256, 32, {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65,
                               0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20}},
        {HashAlg::Sha384, 48, {0x30, 0x41, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65,
                               0x03, 0x04, 0x02, 0x02, 0x05, 0x00, 0x04, 0x30}},
        {HashAlg::Sha512, 64, {0x30, 0x51, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65,
                               0x03, 0x04, 0x02, 0x03, 0x05, 0x00, 0x04, 0x40}},
    };
    return table;
}

// A big-endian number without its leading zero bytes (one byte is kept);
// BCrypt blobs and Cryptoki values are both big-endian, but Cryptoki
// values carry no fixed width. A view, not a copy, so that a secret
// number is not copied to be trimmed.
struct Digits {
    const unsigned char* data;
    size_t size;
};

Digits Significant(const unsigned char* p, size_t n) {
    while (n > 1 && *p == 0) {
        ++p;
        --n;
    }
    return {p, n};
}

Digits Significant(const Bytes& number) {
    return Significant(number.data(), number.size());
}

Bytes Trim(const unsigned char* p, size_t n) {
    const Digits digits = Significant(p, n);
    return Bytes(digits.data, digits.data + digits.size);
}

// The private-key blob BCrypt imports: header, exponent, modulus and the
// primes. Its size is reserved first, so that growing it never leaves a
// freed buffer with part of a prime behind.
void BuildPrivateBlob(const Digits& exponent, const Digits& modulus, const Digits& p, const Digits& q,
                      Bytes* blob) {
    BCRYPT_RSAKEY_BLOB header = {};
    header.Magic = BCRYPT_RSAPRIVATE_MAGIC;
    header.BitLength = static_cast<ULONG>(modulus.size * 8);
    header.cbPublicExp = static_cast<ULONG>(exponent.size);
    header.cbModulus = static_cast<ULONG>(modulus.size);
    header.cbPrime1 = static_cast<ULONG>(p.size);
    header.cbPrime2 = static_cast<ULONG>(q.size);
    blob->reserve(sizeof header + exponent.size + modulus.size + p.size + q.size);
    const auto* headerBytes = reinterpret_cast<const unsigned char*>(&header);
    blob->assign(headerBytes, headerBytes + sizeof header);
    for (const Digits* part : {&exponent, &modulus, &p, &q})
        blob->insert(blob->end(), part->data, part->data + part->size);
}

}  // namespace

bool Random(void* buffer, size_t size) {
    return BCryptGenRandom(nullptr, static_cast<PUCHAR>(buffer), static_cast<ULONG>(size),
                           BCRYPT_USE_SYSTEM_PREFERRED_RNG) == kOk;
}

bool Hash(HashAlg alg, const unsigned char* data, size_t size, Bytes* digest) {
    Hasher hasher(alg);
    return hasher.Ok() && hasher.Update(data, size) && hasher.Finish(digest);
}

Hasher::Hasher(HashAlg alg) {
    BCRYPT_ALG_HANDLE provider = Providers::Get().HashProvider(alg);
    if (!provider)
        return;
    DWORD objectLen = 0;
    ULONG got = 0;
    BCryptGetProperty(provider, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectLen),
                      sizeof objectLen, &got, 0);
    object_.resize(objectLen);
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCryptCreateHash(provider, &hash, object_.data(), objectLen, nullptr, 0, 0) == kOk)
        hash_ = hash;
}

Hasher::~Hasher() {
    if (hash_)
        BCryptDestroyHash(hash_);
}

bool Hasher::Update(const unsigned char* data, size_t size) {
    if (!hash_)
        return false;
    return size == 0 ||
           BCryptHashData(hash_, const_cast<PUCHAR>(data), static_cast<ULONG>(size), 0) == kOk;
}

bool Hasher::Finish(Bytes* digest) {
    if (!hash_)
        return false;
    DWORD length = 0;
    ULONG got = 0;
    BCryptGetProperty(hash_, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&length), sizeof length,
                      &got, 0);
    digest->resize(length);
    bool ok = BCryptFinishHash(hash_, digest->data(), length, 0) == kOk;
    BCryptDestroyHash(hash_);
    hash_ = nullptr;
    return ok;
}

bool Pbkdf2(const unsigned char* secret, size_t secretLen, const Bytes& salt, CK_ULONG iterations,
            size_t outputLen, Bytes* output) {
    BCRYPT_ALG_HANDLE hmac = Providers::Get().Hmac();
    if (!hmac)
        return false;
    output->assign(outputLen, 0);
    return BCryptDeriveKeyPBKDF2(hmac, const_cast<PUCHAR>(secret), static_cast<ULONG>(secretLen),
                                 const_cast<PUCHAR>(salt.data()), static_cast<ULONG>(salt.size()),
                                 iterations, output->data(), static_cast<ULONG>(outputLen), 0) == kOk;
}

bool ConstantTimeEqual(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (size_t i = 0; i < a.size(); ++i)
        difference |= a[i] ^ b[i];
    return difference == 0;
}

RsaKeyParts::~RsaKeyParts() {
    for (Bytes* secret : {&privateExponent, &prime1, &prime2, &exponent1, &exponent2, &coefficient})
        Wipe(*secret);
}

CK_RV GenerateRsa(CK_ULONG bits, const Bytes& publicExponent, RsaKeyParts* key) {
    BCRYPT_ALG_HANDLE rsa = Providers::Get().Rsa();
    BCRYPT_KEY_HANDLE handle = nullptr;
    if (!rsa || BCryptGenerateKeyPair(rsa, &handle, bits, 0) != kOk)
        return CKR_FUNCTION_FAILED;
    ULONG length = 0;
    SecretBytes blob;
    NTSTATUS status = BCryptFinalizeKeyPair(handle, 0);
    if (status == kOk)
        status = BCryptExportKey(handle, nullptr, BCRYPT_RSAFULLPRIVATE_BLOB, nullptr, 0, &length, 0);
    if (status == kOk) {
        blob.get().resize(length);
        status = BCryptExportKey(handle, nullptr, BCRYPT_RSAFULLPRIVATE_BLOB, blob.get().data(),
                                 length, &length, 0);
    }
    BCryptDestroyKey(handle);
    if (status != kOk || length < sizeof(BCRYPT_RSAKEY_BLOB))
        return CKR_FUNCTION_FAILED;
    const auto* header = reinterpret_cast<const BCRYPT_RSAKEY_BLOB*>(blob.get().data());
    const unsigned char* p = blob.get().data() + sizeof *header;
    const size_t half = header->cbPrime1;
    auto take = [&p](size_t n) {
        Bytes value = Trim(p, n);
        p += n;
        return value;
    };
    key->publicExponent = take(header->cbPublicExp);
    key->modulus = take(header->cbModulus);
    key->prime1 = take(half);
    key->prime2 = take(header->cbPrime2);
    key->exponent1 = take(half);
    key->exponent2 = take(header->cbPrime2);
    key->coefficient = take(half);
    key->privateExponent = take(header->cbModulus);
    if (Trim(publicExponent.data(), publicExponent.size()) != key->publicExponent)
        return CKR_TEMPLATE_INCONSISTENT;
    return CKR_OK;
}

// The primes go from the key parts straight into the blob, which is wiped
// when done: the signer keeps no copy of them, only BCrypt's key handle.
CK_RV RsaSigner::Create(const RsaKeyParts& key, std::shared_ptr<RsaSigner>* signer) {
    if (key.modulus.empty() || key.publicExponent.empty() || key.prime1.empty() || key.prime2.empty())
        return CKR_KEY_FUNCTION_NOT_PERMITTED;
    const Digits modulus = Significant(key.modulus);
    SecretBytes blob;
    Bytes& b = blob.get();
    BuildPrivateBlob(Significant(key.publicExponent), modulus, Significant(key.prime1), Significant(key.prime2), &b);
    BCRYPT_KEY_HANDLE handle = nullptr;
    BCRYPT_ALG_HANDLE rsa = Providers::Get().Rsa();
    if (!rsa || BCryptImportKeyPair(rsa, nullptr, BCRYPT_RSAPRIVATE_BLOB, &handle, b.data(),
                                    static_cast<ULONG>(b.size()), 0) != kOk)
        return CKR_KEY_FUNCTION_NOT_PERMITTED;
    std::shared_ptr<RsaSigner> made(new RsaSigner());
    made->key_ = handle;
    made->modulusBytes_ = modulus.size;
    *signer = made;
    return CKR_OK;
}

RsaSigner::~RsaSigner() {
    if (key_)
        BCryptDestroyKey(key_);
}

CK_RV RsaSigner::SignDigest(HashAlg alg, const Bytes& digest, Bytes* signature) const {
    BCRYPT_PKCS1_PADDING_INFO padding = {Providers::AlgorithmName(alg)};
    if (!padding.pszAlgId)
        return CKR_MECHANISM_INVALID;
    signature->assign(modulusBytes_, 0);
    ULONG length = 0;
    NTSTATUS status = BCryptSignHash(key_, &padding, const_cast<PUCHAR>(digest.data()),
                                     static_cast<ULONG>(digest.size()), signature->data(),
                                     static_cast<ULONG>(signature->size()), &length, BCRYPT_PAD_PKCS1);
    if (status != kOk)
        return CKR_FUNCTION_FAILED;
    signature->resize(length);
    return CKR_OK;
}

CK_RV RsaSigner::SignRaw(const Bytes& data, Bytes* signature) const {
    if (data.size() + 11 > modulusBytes_)
        return CKR_DATA_LEN_RANGE;
    // Windows signs caller-encoded data with no algorithm named; where
    // that path is missing, a DigestInfo is split and signed by its hash,
    // which yields the very same signature.
    BCRYPT_PKCS1_PADDING_INFO padding = {nullptr};
    signature->assign(modulusBytes_, 0);
    ULONG length = 0;
    if (BCryptSignHash(key_, &padding, const_cast<PUCHAR>(data.data()),
                       static_cast<ULONG>(data.size()), signature->data(),
                       static_cast<ULONG>(signature->size()), &length, BCRYPT_PAD_PKCS1) == kOk) {
        signature->resize(length);
        return CKR_OK;
    }
    HashAlg alg = HashAlg::None;
    Bytes digest;
    if (!ParseDigestInfo(data, &alg, &digest))
        return CKR_DATA_INVALID;
    return SignDigest(alg, digest, signature);
}

bool ParseDigestInfo(const Bytes& data, HashAlg* alg, Bytes* digest) {
    for (const DigestInfoPrefix& entry : DigestInfoPrefixes()) {
        if (data.size() == entry.prefix.size() + entry.digestLen &&
            std::equal(entry.prefix.begin(), entry.prefix.end(), data.begin())) {
            *alg = entry.alg;
            digest->assign(data.begin() + entry.prefix.size(), data.end());
            return true;
        }
    }
    return false;
}

}  // namespace crypto
}  // namespace softtoken
