// The PKCS #10 certification request around a subject, a public key and
// the requested extensions: its body (CertificationRequestInfo) to sign,
// and the signed request.
#pragma once

#include "Der.h"

namespace softpke {

// The RSAPublicKey (the contents of the public key's bit string, which the
// key identifier hashes) and the SubjectPublicKeyInfo of an RSA key, from
// big-endian modulus and exponent. Answers 0 or kPkePublicKeyNotSet.
int EncodeRsaPublicKey(const Bytes& modulus, const Bytes& exponent, Bytes* rsaPublicKey, Bytes* publicKeyInfo);

// CertificationRequestInfo: version 0, subject, key, and the attributes,
// which hold one extensionRequest when `extensions` is not empty.
Bytes RequestBody(const Bytes& subject, const Bytes& publicKeyInfo, const Bytes& extensions);

// The signed request, sha256WithRSAEncryption, from the body and the
// signature as PKCS #1 gives it (big-endian). Answers 0 or
// kPkeSignatureNotSet.
int EncodeSignedRequest(const Bytes& body, const Bytes& signature, Bytes* request);

}  // namespace softpke
