#include "TokenKeys.h"

#include <iterator>

#include "Hashing.h"
#include "PkeStatus.h"

namespace softpke {
namespace {

const CK_BBOOL kTrue = CK_TRUE;
const CK_BBOOL kFalse = CK_FALSE;

CK_ATTRIBUTE Attribute(CK_ATTRIBUTE_TYPE type, const void* value, size_t size) {
    return {type, const_cast<void*>(value), static_cast<CK_ULONG>(size)};
}

// The first object that matches `templ`; *found stays CK_INVALID_HANDLE
// when none does.
CK_RV FindFirst(const TokenSession& token, CK_ATTRIBUTE* templ, CK_ULONG count, CK_OBJECT_HANDLE* found) {
    CK_FUNCTION_LIST_PTR f = token.functions;
    *found = CK_INVALID_HANDLE;
    CK_RV rv = f->C_FindObjectsInit(token.session, templ, count);
    if (rv != CKR_OK)
        return rv;
    CK_ULONG got = 0;
    rv = f->C_FindObjects(token.session, found, 1, &got);
    const CK_RV finalRv = f->C_FindObjectsFinal(token.session);
    if (rv == CKR_OK && got == 0)
        *found = CK_INVALID_HANDLE;
    return rv != CKR_OK ? rv : finalRv;
}

CK_RV ReadBytes(const TokenSession& token, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type, Bytes* value) {
    CK_ATTRIBUTE attribute = {type, nullptr, 0};
    CK_RV rv = token.functions->C_GetAttributeValue(token.session, object, &attribute, 1);
    if (rv != CKR_OK)
        return rv;
    if (attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION)
        return CKR_ATTRIBUTE_SENSITIVE;
    value->assign(attribute.ulValueLen, 0);
    attribute.pValue = value->data();
    return token.functions->C_GetAttributeValue(token.session, object, &attribute, 1);
}

// Whether a failed read says only that the object lacks the value, rather
// than that the token or the session failed.
bool ValueMissing(CK_RV rv) {
    return rv == CKR_ATTRIBUTE_TYPE_INVALID || rv == CKR_ATTRIBUTE_SENSITIVE;
}

// Modulus and public exponent of `object`: CKR_OK when it shows both,
// CKR_ATTRIBUTE_TYPE_INVALID when there is no object or it lacks either,
// otherwise the module's failure.
CK_RV ReadPublicValues(const TokenSession& token, CK_OBJECT_HANDLE object, TokenKeyPair* pair) {
    if (object == CK_INVALID_HANDLE)
        return CKR_ATTRIBUTE_TYPE_INVALID;
    CK_RV rv = ReadBytes(token, object, CKA_MODULUS, &pair->modulus);
    if (rv == CKR_OK)
        rv = ReadBytes(token, object, CKA_PUBLIC_EXPONENT, &pair->publicExponent);
    if (rv == CKR_OK && (pair->modulus.empty() || pair->publicExponent.empty()))
        return CKR_ATTRIBUTE_TYPE_INVALID;
    return ValueMissing(rv) ? CKR_ATTRIBUTE_TYPE_INVALID : rv;
}

}  // namespace

int FindKeyPair(const TokenSession& token, const Bytes& id, TokenKeyPair* pair) {
    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY, publicClass = CKO_PUBLIC_KEY;
    CK_KEY_TYPE rsa = CKK_RSA;
    CK_ATTRIBUTE privateTemplate[] = {Attribute(CKA_CLASS, &privateClass, sizeof privateClass),
                                      Attribute(CKA_ID, id.data(), id.size())};
    CK_RV rv = FindFirst(token, privateTemplate, 2, &pair->privateKey);
    if (rv != CKR_OK)
        return static_cast<int>(rv);
    if (pair->privateKey == CK_INVALID_HANDLE)
        return kPkeNoKeyForId;
    CK_KEY_TYPE keyType = 0;
    CK_ATTRIBUTE typeAttribute = Attribute(CKA_KEY_TYPE, &keyType, sizeof keyType);
    if ((rv = token.functions->C_GetAttributeValue(token.session, pair->privateKey, &typeAttribute, 1)) != CKR_OK)
        return static_cast<int>(rv);
    if (keyType != CKK_RSA)
        return kPkeKeyTypeInvalid;

    CK_ATTRIBUTE publicTemplate[] = {Attribute(CKA_CLASS, &publicClass, sizeof publicClass),
                                     Attribute(CKA_KEY_TYPE, &rsa, sizeof rsa),
                                     Attribute(CKA_ID, id.data(), id.size())};
    if ((rv = FindFirst(token, publicTemplate, 3, &pair->publicKey)) != CKR_OK)
        return static_cast<int>(rv);
    // An RSA private key carries the public values too, for a token that
    // keeps no public key object.
    for (CK_OBJECT_HANDLE key : {pair->publicKey, pair->privateKey}) {
        rv = ReadPublicValues(token, key, pair);
        if (rv != CKR_ATTRIBUTE_TYPE_INVALID)
            return rv == CKR_OK ? kPkeOk : static_cast<int>(rv);
    }
    return kPkeNoModulus;
}

int GenerateKeyPair(const TokenSession& token, CK_ULONG bits, const std::string& label, const Bytes& subject,
                    TokenKeyPair* pair) {
    static const unsigned char kExponent[] = {0x01, 0x00, 0x01};
    const CK_ULONG labelSize = static_cast<CK_ULONG>(label.size());
    CK_ATTRIBUTE publicTemplate[] = {
        Attribute(CKA_TOKEN, &kTrue, 1),
        Attribute(CKA_PRIVATE, &kFalse, 1),
        Attribute(CKA_MODULUS_BITS, &bits, sizeof bits),
        Attribute(CKA_PUBLIC_EXPONENT, kExponent, sizeof kExponent),
        Attribute(CKA_VERIFY, &kTrue, 1),
        Attribute(CKA_ENCRYPT, &kTrue, 1),
        Attribute(CKA_SUBJECT, subject.data(), subject.size()),
        Attribute(CKA_LABEL, label.data(), labelSize),  // last: left out when there is no label
    };
    CK_ATTRIBUTE privateTemplate[] = {
        Attribute(CKA_TOKEN, &kTrue, 1),
        Attribute(CKA_PRIVATE, &kTrue, 1),
        Attribute(CKA_SENSITIVE, &kTrue, 1),
        Attribute(CKA_EXTRACTABLE, &kFalse, 1),
        Attribute(CKA_SIGN, &kTrue, 1),
        Attribute(CKA_DECRYPT, &kTrue, 1),
        Attribute(CKA_SUBJECT, subject.data(), subject.size()),
        Attribute(CKA_LABEL, label.data(), labelSize),
    };
    const CK_ULONG withoutLabel = labelSize ? 0 : 1;
    CK_MECHANISM mechanism = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_RV rv = token.functions->C_GenerateKeyPair(
        token.session, &mechanism, publicTemplate, static_cast<CK_ULONG>(std::size(publicTemplate)) - withoutLabel,
        privateTemplate, static_cast<CK_ULONG>(std::size(privateTemplate)) - withoutLabel, &pair->publicKey,
        &pair->privateKey);
    if (rv != CKR_OK) {
        pair->publicKey = pair->privateKey = CK_INVALID_HANDLE;
        return static_cast<int>(rv);
    }
    rv = ReadPublicValues(token, pair->publicKey, pair);
    if (rv != CKR_OK) {
        DestroyKeyPair(token, *pair);
        return rv == CKR_ATTRIBUTE_TYPE_INVALID ? kPkeNoModulus : static_cast<int>(rv);
    }
    return kPkeOk;
}

int SetKeyPairId(const TokenSession& token, const TokenKeyPair& pair, const Bytes& id) {
    for (CK_OBJECT_HANDLE key : {pair.publicKey, pair.privateKey}) {
        CK_ATTRIBUTE attribute = Attribute(CKA_ID, id.data(), id.size());
        const CK_RV rv = token.functions->C_SetAttributeValue(token.session, key, &attribute, 1);
        if (rv != CKR_OK)
            return static_cast<int>(rv);
    }
    return kPkeOk;
}

void DestroyKeyPair(const TokenSession& token, const TokenKeyPair& pair) {
    for (CK_OBJECT_HANDLE key : {pair.publicKey, pair.privateKey})
        if (key != CK_INVALID_HANDLE)
            token.functions->C_DestroyObject(token.session, key);
}

namespace {

// The signature of the operation C_SignInit started: its size first, then
// the signature itself.
CK_RV SignWith(const TokenSession& token, const Bytes& input, Bytes* signature) {
    CK_FUNCTION_LIST_PTR f = token.functions;
    CK_ULONG size = 0;
    CK_RV rv = f->C_Sign(token.session, const_cast<CK_BYTE_PTR>(input.data()), static_cast<CK_ULONG>(input.size()),
                         nullptr, &size);
    if (rv != CKR_OK)
        return rv;
    signature->assign(size, 0);
    rv = f->C_Sign(token.session, const_cast<CK_BYTE_PTR>(input.data()), static_cast<CK_ULONG>(input.size()),
                   signature->data(), &size);
    signature->resize(rv == CKR_OK ? size : 0);
    return rv;
}

}  // namespace

int SignSha256(const TokenSession& token, CK_OBJECT_HANDLE privateKey, const Bytes& data, Bytes* signature) {
    CK_MECHANISM mechanism = {CKM_SHA256_RSA_PKCS, nullptr, 0};
    CK_RV rv = token.functions->C_SignInit(token.session, &mechanism, privateKey);
    if (rv == CKR_OK)
        return static_cast<int>(SignWith(token, data, signature));
    if (rv != CKR_MECHANISM_INVALID)
        return static_cast<int>(rv);

    Bytes digest;
    if (!Hash(HashKind::Sha256, data, &digest))
        return kPkeHashFailed;
    mechanism.mechanism = CKM_RSA_PKCS;
    if ((rv = token.functions->C_SignInit(token.session, &mechanism, privateKey)) != CKR_OK)
        return static_cast<int>(rv);
    return static_cast<int>(SignWith(token, Sha256DigestInfo(digest), signature));
}

}  // namespace softpke
