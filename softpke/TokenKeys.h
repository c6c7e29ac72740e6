// The RSA key pair a request is made for, on the token: an existing pair
// found by its CKA_ID, or a new pair generated as token objects. A new
// pair is identified like the certificate that will be issued for it: the
// certificate import gives a certificate the SHA-1 of its public key's
// bit-string contents as CKA_ID, and so the keys get the same here.
#pragma once

#include <string>

#include "Der.h"
#include "cryptoki/Cryptoki.h"

namespace softpke {

struct TokenSession {
    CK_FUNCTION_LIST_PTR functions;
    CK_SESSION_HANDLE session;
};

struct TokenKeyPair {
    CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
    CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;  // none when the token holds only the private key
    Bytes modulus;                                   // big-endian
    Bytes publicExponent;
};

// The RSA key pair whose private key has CKA_ID `id`. Answers 0;
// kPkeNoKeyForId when there is no private key with that ID;
// kPkeKeyTypeInvalid when it is not an RSA key; kPkeNoModulus when neither
// key shows the public values; or the module's return value, also when
// reading the values failed.
int FindKeyPair(const TokenSession& token, const Bytes& id, TokenKeyPair* pair);

// A new RSA key pair of `bits` bits (exponent 65537) as token objects: the
// private key private, sensitive, not extractable and for signing and
// decryption; both labelled `label` and given CKA_SUBJECT `subject`.
// Answers 0, kPkeNoModulus when the new public key shows no values, or the
// module's return value; nothing stays on the token when it fails.
int GenerateKeyPair(const TokenSession& token, CK_ULONG bits, const std::string& label, const Bytes& subject,
                    TokenKeyPair* pair);

// Sets CKA_ID on both keys of a new pair.
int SetKeyPairId(const TokenSession& token, const TokenKeyPair& pair, const Bytes& id);

// Removes a new pair from the token again.
void DestroyKeyPair(const TokenSession& token, const TokenKeyPair& pair);

// An RSA PKCS #1 v1.5 signature with SHA-256 over `data`: by the token's
// CKM_SHA256_RSA_PKCS, or, for a token without it, by CKM_RSA_PKCS over the
// DigestInfo hashed here. Answers 0, the module's return value, or
// kPkeHashFailed.
int SignSha256(const TokenSession& token, CK_OBJECT_HANDLE privateKey, const Bytes& data, Bytes* signature);

}  // namespace softpke
