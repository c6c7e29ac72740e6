// Hashes and the signature check, through the platform's CNG (BCrypt).
#pragma once

#include "Der.h"

namespace softpke {

enum class HashKind { Sha1, Sha256 };

// False when the platform cannot make the hash.
bool Hash(HashKind kind, const Bytes& data, Bytes* digest);

// The DER DigestInfo of a SHA-256 digest: what an RSA PKCS #1 v1.5
// signature carries, for tokens that sign only raw PKCS #1 input.
Bytes Sha256DigestInfo(const Bytes& digest);

// True when `signature` is an RSA PKCS #1 v1.5 signature with SHA-256 over
// `data` by the public key (`modulus`, `exponent`: big-endian magnitudes).
bool VerifyRsaSha256(const Bytes& modulus, const Bytes& exponent, const Bytes& data,
                     const Bytes& signature);

}  // namespace softpke
