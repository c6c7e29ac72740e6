// Token objects for tests: attribute templates that own their values, put
// on a software token without a login, and certificates made on the spot
// with a chosen subject common name.
#pragma once

#include <windows.h>

#include <utility>
#include <string>
#include <vector>

#include "cryptoki/Cryptoki.h"
#include "support/TokenStore.h"

// The DER bytes of the prime256v1 curve identifier, as CKA_EC_PARAMS holds it.
extern const std::vector<unsigned char> kPrime256v1Params;

class ObjectTemplate {
public:
    ObjectTemplate& Ulong(CK_ATTRIBUTE_TYPE type, CK_ULONG value);
    ObjectTemplate& Bool(CK_ATTRIBUTE_TYPE type, bool value);
    ObjectTemplate& Bytes(CK_ATTRIBUTE_TYPE type, const std::string& value);
    ObjectTemplate& Bytes(CK_ATTRIBUTE_TYPE type, const std::vector<unsigned char>& value);

    // CKA_CLASS and CKA_TOKEN true, the start of every template here.
    static ObjectTemplate TokenObject(CK_OBJECT_CLASS objectClass);
    static ObjectTemplate Data(const std::string& label);
    static ObjectTemplate Certificate(const std::vector<unsigned char>& der, const std::string& label);
    // EC keys on prime256v1, or a public key with other parameters (the
    // point and value are not checked).
    static ObjectTemplate EcPublicKey(const std::string& label,
                                      const std::vector<unsigned char>& params = kPrime256v1Params);
    static ObjectTemplate EcPrivateKey(const std::string& label);
    static ObjectTemplate AesKey(const std::string& label, size_t bytes);

    // The template; it points into this object, valid while it is unchanged.
    std::vector<CK_ATTRIBUTE> Attributes() const;

private:
    ObjectTemplate& Add(CK_ATTRIBUTE_TYPE type, std::vector<unsigned char> value);

    std::vector<std::pair<CK_ATTRIBUTE_TYPE, std::vector<unsigned char>>> values_;
};

// Stores the objects on the token in `slot` in one go through `add`
// (SoftToken_AddObjects, found by name or linked).
CK_RV AddTokenObjectsWith(decltype(&SoftToken_AddObjects) add, CK_SLOT_ID slot,
                          const std::vector<ObjectTemplate>& objects);

inline CK_RV AddTokenObjects(CK_SLOT_ID slot, const std::vector<ObjectTemplate>& objects) {
    return AddTokenObjectsWith(TokenStore::Control().AddObjects, slot, objects);
}

// The public token objects of `objectClass` (0: of any class) on the token
// in `slot`, counted through a session of the caller's own.
size_t CountTokenObjects(CK_SLOT_ID slot, CK_OBJECT_CLASS objectClass = 0);

// `count` data objects labelled "<prefix><n>", n from 0.
std::vector<ObjectTemplate> NumberedDataObjects(const std::string& prefix, int count);

// A DER X.509 certificate (not validly signed: only its fields are read)
// whose subject is one common name `commonName` of the string type
// `valueType` (CERT_RDN_UTF8_STRING, CERT_RDN_BMP_STRING,
// CERT_RDN_UNIVERSAL_STRING). Empty when the platform cannot encode it.
std::vector<unsigned char> CertificateWithCommonName(const std::wstring& commonName, DWORD valueType);
