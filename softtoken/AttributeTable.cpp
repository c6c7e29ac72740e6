#include "AttributeTable.h"

#include <initializer_list>

namespace softtoken {
namespace {

using Rules = std::initializer_list<AttributeRule>;
constexpr CK_ULONG kNone = CK_UNAVAILABLE_INFORMATION;
constexpr unsigned kUsage = kSettable;  // usage flags may be switched

struct KindEntry {
    CK_ATTRIBUTE_TYPE type;
    AttrKind kind;
};

const KindEntry kKinds[] = {
    {CKA_CLASS, AttrKind::Ulong}, {CKA_TOKEN, AttrKind::Bool}, {CKA_PRIVATE, AttrKind::Bool},
    {CKA_LABEL, AttrKind::Bytes}, {CKA_APPLICATION, AttrKind::Bytes}, {CKA_VALUE, AttrKind::Bytes},
    {CKA_OBJECT_ID, AttrKind::Bytes}, {CKA_CERTIFICATE_TYPE, AttrKind::Ulong},
    {CKA_ISSUER, AttrKind::Bytes}, {CKA_SERIAL_NUMBER, AttrKind::Bytes},
    {CKA_TRUSTED, AttrKind::Bool}, {CKA_CERTIFICATE_CATEGORY, AttrKind::Ulong},
    {CKA_KEY_TYPE, AttrKind::Ulong}, {CKA_SUBJECT, AttrKind::Bytes}, {CKA_ID, AttrKind::Bytes},
    {CKA_SENSITIVE, AttrKind::Bool}, {CKA_ENCRYPT, AttrKind::Bool}, {CKA_DECRYPT, AttrKind::Bool},
    {CKA_WRAP, AttrKind::Bool}, {CKA_UNWRAP, AttrKind::Bool}, {CKA_SIGN, AttrKind::Bool},
    {CKA_SIGN_RECOVER, AttrKind::Bool}, {CKA_VERIFY, AttrKind::Bool},
    {CKA_VERIFY_RECOVER, AttrKind::Bool}, {CKA_DERIVE, AttrKind::Bool},
    {CKA_START_DATE, AttrKind::Date}, {CKA_END_DATE, AttrKind::Date},
    {CKA_MODULUS, AttrKind::Bytes}, {CKA_MODULUS_BITS, AttrKind::Ulong},
    {CKA_PUBLIC_EXPONENT, AttrKind::Bytes}, {CKA_PRIVATE_EXPONENT, AttrKind::Bytes},
    {CKA_PRIME_1, AttrKind::Bytes}, {CKA_PRIME_2, AttrKind::Bytes},
    {CKA_EXPONENT_1, AttrKind::Bytes}, {CKA_EXPONENT_2, AttrKind::Bytes},
    {CKA_COEFFICIENT, AttrKind::Bytes}, {CKA_VALUE_LEN, AttrKind::Ulong},
    {CKA_EXTRACTABLE, AttrKind::Bool}, {CKA_LOCAL, AttrKind::Bool},
    {CKA_NEVER_EXTRACTABLE, AttrKind::Bool}, {CKA_ALWAYS_SENSITIVE, AttrKind::Bool},
    {CKA_KEY_GEN_MECHANISM, AttrKind::Ulong}, {CKA_MODIFIABLE, AttrKind::Bool},
    {CKA_COPYABLE, AttrKind::Bool}, {CKA_DESTROYABLE, AttrKind::Bool},
    {CKA_EC_PARAMS, AttrKind::Bytes}, {CKA_EC_POINT, AttrKind::Bytes},
    {CKA_ALWAYS_AUTHENTICATE, AttrKind::Bool}, {CKA_WRAP_WITH_TRUSTED, AttrKind::Bool},
};

// Every object.
const Rules kStorage = {
    {CKA_CLASS, Need::Required, 0, 0},
    {CKA_TOKEN, Need::Default, CK_FALSE, 0},
    {CKA_MODIFIABLE, Need::Default, CK_TRUE, 0},
    {CKA_COPYABLE, Need::Default, CK_TRUE, 0},
    {CKA_DESTROYABLE, Need::Default, CK_TRUE, 0},
    {CKA_LABEL, Need::Default, 0, kSettable},
    {CKA_ID, Need::Default, 0, kSettable},
};

const Rules kData = {
    {CKA_PRIVATE, Need::Default, CK_FALSE, 0},
    {CKA_APPLICATION, Need::Default, 0, kSettable},
    {CKA_OBJECT_ID, Need::Default, 0, kSettable},
    {CKA_VALUE, Need::Default, 0, kSettable},
};

// X.509 certificates; subject, issuer and serial number come from the
// certificate itself when the template leaves them out.
const Rules kCertificate = {
    {CKA_PRIVATE, Need::Default, CK_FALSE, 0},
    {CKA_CERTIFICATE_TYPE, Need::Required, 0, 0},
    {CKA_TRUSTED, Need::Default, CK_FALSE, 0},
    {CKA_CERTIFICATE_CATEGORY, Need::Default, 0, 0},
    {CKA_START_DATE, Need::Default, 0, kSettable},
    {CKA_END_DATE, Need::Default, 0, kSettable},
    {CKA_SUBJECT, Need::Derived, 0, kSettable},
    {CKA_ISSUER, Need::Derived, 0, kSettable},
    {CKA_SERIAL_NUMBER, Need::Derived, 0, kSettable},
    {CKA_VALUE, Need::Required, 0, 0},
};

// Every key.
const Rules kKey = {
    {CKA_KEY_TYPE, Need::Required, 0, 0},
    {CKA_START_DATE, Need::Default, 0, kSettable},
    {CKA_END_DATE, Need::Default, 0, kSettable},
    {CKA_DERIVE, Need::Default, CK_FALSE, kUsage},
    {CKA_LOCAL, Need::Token, CK_FALSE, 0},
    {CKA_KEY_GEN_MECHANISM, Need::Token, kNone, 0},
};

const Rules kPublicKey = {
    {CKA_PRIVATE, Need::Default, CK_FALSE, 0},
    {CKA_SUBJECT, Need::Default, 0, kSettable},
    {CKA_ENCRYPT, Need::Default, CK_TRUE, kUsage},
    {CKA_VERIFY, Need::Default, CK_TRUE, kUsage},
    {CKA_VERIFY_RECOVER, Need::Default, CK_TRUE, kUsage},
    {CKA_WRAP, Need::Default, CK_TRUE, kUsage},
    {CKA_TRUSTED, Need::Default, CK_FALSE, 0},
};

const Rules kPrivateKey = {
    {CKA_PRIVATE, Need::Default, CK_TRUE, 0},
    {CKA_SUBJECT, Need::Default, 0, kSettable},
    {CKA_SENSITIVE, Need::Default, CK_TRUE, kSettable | kOnlyToTrue},
    {CKA_DECRYPT, Need::Default, CK_TRUE, kUsage},
    {CKA_SIGN, Need::Default, CK_TRUE, kUsage},
    {CKA_SIGN_RECOVER, Need::Default, CK_TRUE, kUsage},
    {CKA_UNWRAP, Need::Default, CK_TRUE, kUsage},
    {CKA_EXTRACTABLE, Need::Default, CK_FALSE, kSettable | kOnlyToFalse},
    {CKA_ALWAYS_SENSITIVE, Need::Token, CK_FALSE, 0},
    {CKA_NEVER_EXTRACTABLE, Need::Token, CK_FALSE, 0},
    {CKA_WRAP_WITH_TRUSTED, Need::Default, CK_FALSE, 0},
    {CKA_ALWAYS_AUTHENTICATE, Need::Default, CK_FALSE, 0},
};

const Rules kSecretKey = {
    {CKA_PRIVATE, Need::Default, CK_TRUE, 0},
    {CKA_SENSITIVE, Need::Default, CK_TRUE, kSettable | kOnlyToTrue},
    {CKA_ENCRYPT, Need::Default, CK_TRUE, kUsage},
    {CKA_DECRYPT, Need::Default, CK_TRUE, kUsage},
    {CKA_SIGN, Need::Default, CK_TRUE, kUsage},
    {CKA_VERIFY, Need::Default, CK_TRUE, kUsage},
    {CKA_WRAP, Need::Default, CK_TRUE, kUsage},
    {CKA_UNWRAP, Need::Default, CK_TRUE, kUsage},
    {CKA_EXTRACTABLE, Need::Default, CK_FALSE, kSettable | kOnlyToFalse},
    {CKA_ALWAYS_SENSITIVE, Need::Token, CK_FALSE, 0},
    {CKA_NEVER_EXTRACTABLE, Need::Token, CK_FALSE, 0},
    {CKA_WRAP_WITH_TRUSTED, Need::Default, CK_FALSE, 0},
    {CKA_TRUSTED, Need::Default, CK_FALSE, 0},
    {CKA_VALUE, Need::Required, 0, kSecret},
    {CKA_VALUE_LEN, Need::Derived, 0, 0},
};

const Rules kRsaPublic = {
    {CKA_MODULUS, Need::Required, 0, 0},
    {CKA_PUBLIC_EXPONENT, Need::Required, 0, 0},
    {CKA_MODULUS_BITS, Need::Derived, 0, 0},
};

const Rules kRsaPrivate = {
    {CKA_MODULUS, Need::Required, 0, 0},
    {CKA_PUBLIC_EXPONENT, Need::Optional, 0, 0},
    {CKA_PRIVATE_EXPONENT, Need::Required, 0, kSecret},
    {CKA_PRIME_1, Need::Optional, 0, kSecret},
    {CKA_PRIME_2, Need::Optional, 0, kSecret},
    {CKA_EXPONENT_1, Need::Optional, 0, kSecret},
    {CKA_EXPONENT_2, Need::Optional, 0, kSecret},
    {CKA_COEFFICIENT, Need::Optional, 0, kSecret},
};

const Rules kEcPublic = {
    {CKA_EC_PARAMS, Need::Required, 0, 0},
    {CKA_EC_POINT, Need::Required, 0, 0},
};

const Rules kEcPrivate = {
    {CKA_EC_PARAMS, Need::Required, 0, 0},
    {CKA_VALUE, Need::Required, 0, kSecret},
};

const Rules kNoRules = {};

struct SchemaRow {
    CK_OBJECT_CLASS objectClass;
    CK_ULONG keyType;
    std::initializer_list<const Rules*> groups;
};

const SchemaRow kSchemaRows[] = {
    {CKO_DATA, kNone, {&kStorage, &kData}},
    {CKO_CERTIFICATE, kNone, {&kStorage, &kCertificate}},
    {CKO_PUBLIC_KEY, CKK_RSA, {&kStorage, &kKey, &kPublicKey, &kRsaPublic}},
    {CKO_PUBLIC_KEY, CKK_EC, {&kStorage, &kKey, &kPublicKey, &kEcPublic}},
    {CKO_PRIVATE_KEY, CKK_RSA, {&kStorage, &kKey, &kPrivateKey, &kRsaPrivate}},
    {CKO_PRIVATE_KEY, CKK_EC, {&kStorage, &kKey, &kPrivateKey, &kEcPrivate}},
    {CKO_SECRET_KEY, CKK_AES, {&kStorage, &kKey, &kSecretKey, &kNoRules}},
    {CKO_SECRET_KEY, CKK_GENERIC_SECRET, {&kStorage, &kKey, &kSecretKey, &kNoRules}},
};

// All schemas, built once from the rows above.
const std::vector<Schema>& Schemas() {
    static const std::vector<Schema> schemas = [] {
        std::vector<Schema> built;
        for (const SchemaRow& row : kSchemaRows) {
            Schema schema;
            schema.objectClass = row.objectClass;
            schema.keyType = row.keyType;
            for (const Rules* group : row.groups)
                for (const AttributeRule& rule : *group)
                    schema.rules[rule.type] = rule;
            built.push_back(schema);
        }
        return built;
    }();
    return schemas;
}

}  // namespace

const AttrKind* KindOf(CK_ATTRIBUTE_TYPE type) {
    for (const KindEntry& entry : kKinds)
        if (entry.type == type)
            return &entry.kind;
    return nullptr;
}

bool SizeFits(AttrKind kind, CK_ULONG size) {
    switch (kind) {
    case AttrKind::Bool: return size == sizeof(CK_BBOOL);
    case AttrKind::Ulong: return size == sizeof(CK_ULONG);
    case AttrKind::Date: return size == 0 || size == sizeof(CK_DATE);
    default: return true;
    }
}

bool IsKeyClass(CK_OBJECT_CLASS objectClass) {
    return objectClass == CKO_PUBLIC_KEY || objectClass == CKO_PRIVATE_KEY ||
           objectClass == CKO_SECRET_KEY;
}

bool IsKnownClass(CK_OBJECT_CLASS objectClass) {
    for (const SchemaRow& row : kSchemaRows)
        if (row.objectClass == objectClass)
            return true;
    return false;
}

bool IsKnownKeyType(CK_KEY_TYPE keyType) {
    for (const SchemaRow& row : kSchemaRows)
        if (row.keyType == keyType)
            return true;
    return false;
}

const Schema* SchemaFor(CK_OBJECT_CLASS objectClass, CK_ULONG keyType) {
    const bool key = IsKeyClass(objectClass);
    for (const Schema& schema : Schemas())
        if (schema.objectClass == objectClass && (!key || schema.keyType == keyType))
            return &schema;
    return nullptr;
}

}  // namespace softtoken
