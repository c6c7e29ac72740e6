// PKCS#11 URIs (RFC 7512) that name a token or one of its objects, so that
// other tools (p11tool, pkcs11-tool, OpenSSL's providers) can find the same
// token or object.
#pragma once

#include <string>

#include "cryptoki/Cryptoki.h"

// The values that go into a URI, as raw bytes (labels are UTF-8 on the
// token, IDs binary). Fixed-width token fields have their trailing blanks
// removed by TokenUriFields.
struct Pkcs11UriFields {
    std::string token;         // CK_TOKEN_INFO.label
    std::string manufacturer;  // CK_TOKEN_INFO.manufacturerID
    std::string model;
    std::string serial;
    bool hasObject = false;    // the object attributes below are used
    std::string object;        // CKA_LABEL; omitted when empty
    const char* type = nullptr;  // "cert", "public", ...; omitted when null
    std::string id;            // CKA_ID; omitted when empty
};

// The token attributes of `info`, trailing blanks removed.
Pkcs11UriFields TokenUriFields(const CK_TOKEN_INFO& info);

// The RFC's "type" value of an object class; null for a class it has none for.
const char* Pkcs11UriType(CK_OBJECT_CLASS objectClass);

// Percent-encodes `bytes` for a path attribute value: the RFC's unreserved
// characters and its path characters (":[]@!$'()*+,=&") stay as they are,
// every other byte becomes %XX (upper-case hex).
std::string PercentEncodePathValue(const std::string& bytes);

// "pkcs11:token=...;manufacturer=...;model=...;serial=..." and, for an
// object, ";object=...;type=...;id=..." in this order. The id is always
// written as %XX bytes; an empty object label or id is left out.
std::string BuildPkcs11Uri(const Pkcs11UriFields& fields);

// Reads the token in `slot` (and, when `handle` is not 0, that object on the
// slot's session) and builds its URI. Empty when the token or the object
// cannot be read.
std::wstring ReadPkcs11Uri(int slot, CK_OBJECT_HANDLE handle);
