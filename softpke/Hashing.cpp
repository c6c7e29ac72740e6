#include "Hashing.h"

#include <windows.h>
#include <bcrypt.h>

namespace softpke {
namespace {

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

// Drops leading zero bytes: CNG wants the magnitudes without them.
Bytes Trimmed(const Bytes& bigEndian) {
    size_t first = 0;
    while (first + 1 < bigEndian.size() && bigEndian[first] == 0)
        ++first;
    return Bytes(bigEndian.begin() + first, bigEndian.end());
}

}  // namespace

bool Hash(HashKind kind, const Bytes& data, Bytes* digest) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    const wchar_t* name = kind == HashKind::Sha1 ? BCRYPT_SHA1_ALGORITHM : BCRYPT_SHA256_ALGORITHM;
    if (!Succeeded(BCryptOpenAlgorithmProvider(&algorithm, name, nullptr, 0)))
        return false;
    BCRYPT_HASH_HANDLE hash = nullptr;
    DWORD size = 0, written = 0;
    bool done = Succeeded(BCryptGetProperty(algorithm, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&size),
                                            sizeof size, &written, 0)) &&
                Succeeded(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
    if (done) {
        digest->assign(size, 0);
        done = Succeeded(BCryptHashData(hash, const_cast<PUCHAR>(data.data()), static_cast<ULONG>(data.size()), 0)) &&
               Succeeded(BCryptFinishHash(hash, digest->data(), size, 0));
        BCryptDestroyHash(hash);
    }
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return done;
}

Bytes Sha256DigestInfo(const Bytes& digest) {
    // SEQUENCE { SEQUENCE { sha256, NULL }, OCTET STRING digest }
    constexpr unsigned char kOctetString = 0x04;
    return der::Constructed(der::kSequence,
                            {der::Constructed(der::kSequence, {der::Oid("2.16.840.1.101.3.4.2.1"), der::Tlv(der::kNull, {})}),
                             der::Tlv(kOctetString, digest)});
}

bool VerifyRsaSha256(const Bytes& modulus, const Bytes& exponent, const Bytes& data,
                     const Bytes& signature) {
    const Bytes n = Trimmed(modulus), e = Trimmed(exponent);
    Bytes blob(sizeof(BCRYPT_RSAKEY_BLOB));
    auto* header = reinterpret_cast<BCRYPT_RSAKEY_BLOB*>(blob.data());
    header->Magic = BCRYPT_RSAPUBLIC_MAGIC;
    header->BitLength = static_cast<ULONG>(n.size() * 8);
    header->cbPublicExp = static_cast<ULONG>(e.size());
    header->cbModulus = static_cast<ULONG>(n.size());
    blob.insert(blob.end(), e.begin(), e.end());
    blob.insert(blob.end(), n.begin(), n.end());

    Bytes digest;
    if (!Hash(HashKind::Sha256, data, &digest))
        return false;
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!Succeeded(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_RSA_ALGORITHM, nullptr, 0)))
        return false;
    BCRYPT_KEY_HANDLE key = nullptr;
    bool valid = false;
    if (Succeeded(BCryptImportKeyPair(algorithm, nullptr, BCRYPT_RSAPUBLIC_BLOB, &key, blob.data(),
                                      static_cast<ULONG>(blob.size()), 0))) {
        BCRYPT_PKCS1_PADDING_INFO padding = {BCRYPT_SHA256_ALGORITHM};
        valid = Succeeded(BCryptVerifySignature(key, &padding, digest.data(), static_cast<ULONG>(digest.size()),
                                                const_cast<PUCHAR>(signature.data()),
                                                static_cast<ULONG>(signature.size()), BCRYPT_PAD_PKCS1));
        BCryptDestroyKey(key);
    }
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return valid;
}

}  // namespace softpke
