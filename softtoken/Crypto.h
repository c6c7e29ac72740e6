// The token's cryptography, all through Windows CNG (BCrypt): random
// numbers, hashes, PIN key derivation, RSA key generation and signing.
#pragma once

#include "Common.h"

#include <memory>

namespace softtoken {
namespace crypto {

enum class HashAlg { None, Md5, Sha1, Sha224, Sha256, Sha384, Sha512 };

bool Random(void* buffer, size_t size);

// One-shot and incremental hashes.
bool Hash(HashAlg alg, const unsigned char* data, size_t size, Bytes* digest);

class Hasher {
public:
    explicit Hasher(HashAlg alg);
    ~Hasher();
    Hasher(const Hasher&) = delete;
    Hasher& operator=(const Hasher&) = delete;
    bool Ok() const { return hash_ != nullptr; }
    bool Update(const unsigned char* data, size_t size);
    bool Finish(Bytes* digest);

private:
    void* hash_ = nullptr;
    Bytes object_;
};

// PBKDF2-HMAC-SHA256.
bool Pbkdf2(const unsigned char* secret, size_t secretLen, const Bytes& salt, CK_ULONG iterations,
            size_t outputLen, Bytes* output);

// Compares in time that depends only on the lengths.
bool ConstantTimeEqual(const Bytes& a, const Bytes& b);

// Big-endian RSA components as the token stores them.
struct RsaKeyParts {
    Bytes modulus, publicExponent, privateExponent;
    Bytes prime1, prime2, exponent1, exponent2, coefficient;
    ~RsaKeyParts();
};

CK_RV GenerateRsa(CK_ULONG bits, const Bytes& publicExponent, RsaKeyParts* key);

// A private key ready to sign; made once per key object and reused.
class RsaSigner {
public:
    static CK_RV Create(const RsaKeyParts& key, std::shared_ptr<RsaSigner>* signer);
    ~RsaSigner();
    size_t ModulusBytes() const { return modulusBytes_; }
    // PKCS#1 v1.5 signature of `digest` made with `alg`.
    CK_RV SignDigest(HashAlg alg, const Bytes& digest, Bytes* signature) const;
    // PKCS#1 v1.5 signature over caller-encoded data (normally a DigestInfo).
    CK_RV SignRaw(const Bytes& data, Bytes* signature) const;

private:
    RsaSigner() = default;
    void* key_ = nullptr;
    size_t modulusBytes_ = 0;
};

// Splits a DER DigestInfo into its hash algorithm and digest; false for
// anything else.
bool ParseDigestInfo(const Bytes& data, HashAlg* alg, Bytes* digest);

}  // namespace crypto
}  // namespace softtoken
