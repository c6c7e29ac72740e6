// Storing an RSA key pair, exported from the platform's key store as a
// private-key blob, as a public-key and a private-key object on a token.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstddef>
#include <vector>

#include "cryptoki/Cryptoki.h"
#include "import/ImportCertificate.h"

// Field sizes of an RSA PRIVATEKEYBLOB: the modulus and the private exponent
// take ModulusSize bytes, the primes, exponents and coefficient HalfSize.
struct RsaKeyBlobLayout {
    DWORD BitLength = 0;
    DWORD PublicExponent = 0;
    size_t ModulusSize = 0;
    size_t HalfSize = 0;
};

// The key parts after StoreRsaKeyPair has turned them big-endian in place,
// pointing into the blob; the public exponent without leading zero bytes.
struct RsaKeyParts {
    ByteVector PublicExponent;
    const BYTE* Modulus = nullptr;
    const BYTE* Prime1 = nullptr;
    const BYTE* Prime2 = nullptr;
    const BYTE* Exponent1 = nullptr;
    const BYTE* Exponent2 = nullptr;
    const BYTE* Coefficient = nullptr;
    const BYTE* PrivateExponent = nullptr;
    size_t ModulusSize = 0;
    size_t HalfSize = 0;
};

// Checks that `blob` is an RSA private-key blob (blob type, RSA algorithm,
// magic, a public exponent) and that its size is that of its fields; the
// half size is taken from the size, since a provider rounds it up for key
// lengths that are not a multiple of 16 bits.
bool ReadRsaKeyBlobLayout(const BYTE* blob, size_t size, RsaKeyBlobLayout* layout);

// Results of StoreRsaKeyPair besides kCryptokiFailureBase + rv and
// kImportOutOfMemory.
enum StoreKeyPairResult { kKeyPairStored = 0, kKeyBlobNotRsa = 1 };

// Turns the key fields of the blob big-endian in place and creates the
// public-key object, then the private-key object, both with the ID, label
// and subject of `identity` where they are not empty. A failing
// C_CreateObject returns kCryptokiFailureBase + rv; the public key stays
// when the private key fails. The caller wipes the blob.
long long StoreRsaKeyPair(int slot, BYTE* blob, size_t blobSize, bool extractable,
                          const CertificateIdentity& identity);

// The two templates, in the order the token receives them. They point into
// `parts`, `identity` and `extractable`.
std::vector<CK_ATTRIBUTE> BuildPublicKeyTemplate(const RsaKeyParts& parts, const CertificateIdentity& identity);
std::vector<CK_ATTRIBUTE> BuildPrivateKeyTemplate(const RsaKeyParts& parts, const CertificateIdentity& identity,
                                                  const CK_BBOOL* extractable);
