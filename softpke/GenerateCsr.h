// exGenCSR: a PKCS #10 certificate signing request for an RSA key pair on
// the token the user logged in to, signed by that token.
#pragma once

#include <cstddef>

namespace softpke {

// Size of each output buffer the caller passes.
constexpr size_t kOutputBufferSize = 10000;

struct CsrArguments {
    const char* keyId;                // upper- or lower-case hex CKA_ID, or "" for a new key pair
    const char* const* subjectFields;  // kFieldTableSize UTF-8 texts (SubjectPosition)
    const char* const* altNames;       // kFieldTableSize UTF-8 texts (AltNamePosition)
    int keyBits;                      // new key pairs: 1024, 2048, 3072 or 4096
    const char* keyUsage;
    const char* extendedKeyUsage;
    char* auxiliaryOutput;            // kOutputBufferSize bytes, may be null: the key pair's CKA_ID in hex
    char* csrOutput;                  // kOutputBufferSize bytes: the PEM request
};

// Answers 0 with the request in csrOutput, or the status that names the
// failure; on failure neither buffer is written and a key pair made for
// the request is removed from the token again. The library's session
// (and with it the login, when the program holds no session on the
// token) ends with the call, whatever its outcome.
int GenerateCsr(const CsrArguments& arguments);

}  // namespace softpke
