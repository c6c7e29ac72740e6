#include "ObjectFactory.h"

namespace softtoken {
namespace {

struct Tlv {
    unsigned char tag = 0;
    const unsigned char* begin = nullptr;  // the tag byte
    const unsigned char* value = nullptr;
    const unsigned char* end = nullptr;
    Bytes Whole() const { return Bytes(begin, end); }
};

// Reads one DER element at `p`; short and long definite lengths only.
bool ReadTlv(const unsigned char*& p, const unsigned char* end, Tlv* tlv) {
    if (end - p < 2)
        return false;
    tlv->begin = p;
    tlv->tag = *p++;
    size_t length = *p++;
    if (length & 0x80) {
        const size_t octets = length & 0x7f;
        if (octets == 0 || octets > 4 || static_cast<size_t>(end - p) < octets)
            return false;
        length = 0;
        for (size_t i = 0; i < octets; ++i)
            length = (length << 8) | *p++;
    }
    if (length > static_cast<size_t>(end - p))
        return false;
    tlv->value = p;
    tlv->end = p + length;
    p = tlv->end;
    return true;
}

bool BoolValue(const AttributeMap& map, CK_ATTRIBUTE_TYPE type) {
    auto it = map.find(type);
    return it != map.end() && it->second.size() == 1 && it->second[0] != CK_FALSE;
}

CK_RV UlongValue(const AttributeMap& map, CK_ATTRIBUTE_TYPE type, CK_ULONG* value) {
    auto it = map.find(type);
    if (it == map.end())
        return CKR_TEMPLATE_INCOMPLETE;
    memcpy(value, it->second.data(), sizeof *value);
    return CKR_OK;
}

// The schema a template asks for, or why there is none.
CK_RV ChooseSchema(const AttributeMap& given, const Schema** schema) {
    CK_OBJECT_CLASS objectClass = 0;
    CK_RV rv = UlongValue(given, CKA_CLASS, &objectClass);
    if (rv != CKR_OK)
        return rv;
    if (!IsKnownClass(objectClass))
        return CKR_ATTRIBUTE_VALUE_INVALID;
    CK_ULONG keyType = CK_UNAVAILABLE_INFORMATION;
    if (IsKeyClass(objectClass)) {
        if ((rv = UlongValue(given, CKA_KEY_TYPE, &keyType)) != CKR_OK)
            return rv;
        if (!IsKnownKeyType(keyType))
            return CKR_ATTRIBUTE_VALUE_INVALID;
    }
    if (objectClass == CKO_CERTIFICATE) {
        CK_ULONG certificateType = 0;
        if ((rv = UlongValue(given, CKA_CERTIFICATE_TYPE, &certificateType)) != CKR_OK)
            return rv;
        if (certificateType != CKC_X_509)
            return CKR_ATTRIBUTE_VALUE_INVALID;
    }
    *schema = SchemaFor(objectClass, keyType);
    return *schema ? CKR_OK : CKR_TEMPLATE_INCONSISTENT;
}

AttrKind KindFor(CK_ATTRIBUTE_TYPE type) {
    const AttrKind* kind = KindOf(type);
    return kind ? *kind : AttrKind::Bytes;
}

void FillDefaults(const Schema& schema, AttributeMap* object) {
    for (const auto& entry : schema.rules) {
        const AttributeRule& rule = entry.second;
        if (object->count(rule.type) || (rule.need != Need::Default && rule.need != Need::Token))
            continue;
        switch (KindFor(rule.type)) {
        case AttrKind::Bool: (*object)[rule.type] = BoolBytes(rule.fallback != CK_FALSE); break;
        case AttrKind::Ulong: (*object)[rule.type] = UlongBytes(rule.fallback); break;
        default: (*object)[rule.type] = Bytes(); break;
        }
    }
}

// Sets a derived attribute, or checks the template's value against it.
CK_RV Derive(AttributeMap* object, CK_ATTRIBUTE_TYPE type, const Bytes& value) {
    auto it = object->find(type);
    if (it != object->end() && it->second != value)
        return CKR_TEMPLATE_INCONSISTENT;
    (*object)[type] = value;
    return CKR_OK;
}

CK_RV DeriveCertificate(AttributeMap* object) {
    Bytes subject, issuer, serial;
    if (!ParseCertificate((*object)[CKA_VALUE], &subject, &issuer, &serial))
        subject.clear(), issuer.clear(), serial.clear();
    object->emplace(CKA_SUBJECT, subject);
    object->emplace(CKA_ISSUER, issuer);
    object->emplace(CKA_SERIAL_NUMBER, serial);
    return CKR_OK;
}

CK_RV DeriveKeyValues(const Schema& schema, AttributeMap* object) {
    if (schema.objectClass == CKO_PUBLIC_KEY && schema.keyType == CKK_RSA) {
        const CK_ULONG bits = BitLength((*object)[CKA_MODULUS]);
        if (bits == 0)
            return CKR_ATTRIBUTE_VALUE_INVALID;
        return Derive(object, CKA_MODULUS_BITS, UlongBytes(bits));
    }
    if (schema.objectClass == CKO_SECRET_KEY) {
        const size_t length = (*object)[CKA_VALUE].size();
        if (schema.keyType == CKK_AES && length != 16 && length != 24 && length != 32)
            return CKR_ATTRIBUTE_VALUE_INVALID;
        if (length == 0)
            return CKR_ATTRIBUTE_VALUE_INVALID;
        return Derive(object, CKA_VALUE_LEN, UlongBytes(static_cast<CK_ULONG>(length)));
    }
    return CKR_OK;
}

// Values the token sets from the key's history. Key material handed in
// with C_CreateObject was known outside the token before, so it was never
// always sensitive nor never extractable; a key made here was so from the
// start exactly when it is sensitive and unextractable now.
void SetProvenance(const Schema& schema, Origin origin, AttributeMap* object) {
    if (!IsKeyClass(schema.objectClass))
        return;
    const bool generated = origin == Origin::Generate;
    if (!generated)
        (*object)[CKA_KEY_GEN_MECHANISM] = UlongBytes(CK_UNAVAILABLE_INFORMATION);
    (*object)[CKA_LOCAL] = BoolBytes(generated);
    if (schema.Find(CKA_ALWAYS_SENSITIVE)) {
        (*object)[CKA_ALWAYS_SENSITIVE] = BoolBytes(generated && BoolValue(*object, CKA_SENSITIVE));
        (*object)[CKA_NEVER_EXTRACTABLE] = BoolBytes(generated && !BoolValue(*object, CKA_EXTRACTABLE));
    }
}

}  // namespace

CK_RV ParseTemplate(const CK_ATTRIBUTE* templ, CK_ULONG count, AttributeMap* attributes) {
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_ATTRIBUTE& a = templ[i];
        const AttrKind* kind = KindOf(a.type);
        if (!kind)
            return CKR_ATTRIBUTE_TYPE_INVALID;
        if ((!a.pValue && a.ulValueLen != 0) || !SizeFits(*kind, a.ulValueLen))
            return CKR_ATTRIBUTE_VALUE_INVALID;
        Bytes value = a.pValue ? ToBytes(a.pValue, a.ulValueLen) : Bytes();
        if (*kind == AttrKind::Bool)
            value[0] = value[0] ? CK_TRUE : CK_FALSE;
        auto inserted = attributes->emplace(a.type, value);
        if (!inserted.second && inserted.first->second != value)
            return CKR_TEMPLATE_INCONSISTENT;
    }
    return CKR_OK;
}

CK_RV BuildObject(const AttributeMap& given, Origin origin, AttributeMap* object) {
    const Schema* schema = nullptr;
    CK_RV rv = ChooseSchema(given, &schema);
    if (rv != CKR_OK)
        return rv;
    for (const auto& entry : given) {
        const AttributeRule* rule = schema->Find(entry.first);
        if (!rule)
            return CKR_ATTRIBUTE_TYPE_INVALID;
        if (rule->need == Need::Token && origin == Origin::Create)
            return CKR_ATTRIBUTE_READ_ONLY;
    }
    for (const auto& entry : schema->rules)
        if (entry.second.need == Need::Required && !given.count(entry.first))
            return CKR_TEMPLATE_INCOMPLETE;
    AttributeMap built = given;
    FillDefaults(*schema, &built);
    if (schema->objectClass == CKO_CERTIFICATE)
        rv = DeriveCertificate(&built);
    else
        rv = DeriveKeyValues(*schema, &built);
    if (rv != CKR_OK)
        return rv;
    SetProvenance(*schema, origin, &built);
    *object = std::move(built);
    return CKR_OK;
}

const Schema* SchemaOf(const Object& object) {
    return SchemaFor(object.Class(), object.Ulong(CKA_KEY_TYPE));
}

bool IsUnreadable(const Object& object, const Schema& schema, CK_ATTRIBUTE_TYPE type) {
    const AttributeRule* rule = schema.Find(type);
    if (!rule || !(rule->flags & kSecret))
        return false;
    return object.Bool(CKA_SENSITIVE, true) || !object.Bool(CKA_EXTRACTABLE, false);
}

CK_RV CheckChange(const Object& object, CK_ATTRIBUTE_TYPE type, const Bytes& value) {
    const Schema* schema = SchemaOf(object);
    const AttributeRule* rule = schema ? schema->Find(type) : nullptr;
    const AttrKind* kind = KindOf(type);
    if (!rule || !kind)
        return CKR_ATTRIBUTE_TYPE_INVALID;
    if (!SizeFits(*kind, static_cast<CK_ULONG>(value.size())))
        return CKR_ATTRIBUTE_VALUE_INVALID;
    if (!(rule->flags & kSettable))
        return CKR_ATTRIBUTE_READ_ONLY;
    const bool now = object.Bool(type);
    const bool wanted = *kind == AttrKind::Bool && value[0] != CK_FALSE;
    if ((rule->flags & kOnlyToTrue) && now && !wanted)
        return CKR_ATTRIBUTE_READ_ONLY;
    if ((rule->flags & kOnlyToFalse) && !now && wanted)
        return CKR_ATTRIBUTE_READ_ONLY;
    return CKR_OK;
}

bool ParseCertificate(const Bytes& der, Bytes* subject, Bytes* issuer, Bytes* serial) {
    const unsigned char* p = der.data();
    const unsigned char* end = p + der.size();
    Tlv certificate, tbs, field;
    if (!ReadTlv(p, end, &certificate) || certificate.tag != 0x30)
        return false;
    p = certificate.value;
    if (!ReadTlv(p, certificate.end, &tbs) || tbs.tag != 0x30)
        return false;
    p = tbs.value;
    // version [0] (optional), serialNumber, signature, issuer, validity, subject
    if (!ReadTlv(p, tbs.end, &field))
        return false;
    if (field.tag == 0xa0 && !ReadTlv(p, tbs.end, &field))
        return false;
    if (field.tag != 0x02)
        return false;
    *serial = field.Whole();
    Tlv algorithm, issuerName, validity, subjectName;
    if (!ReadTlv(p, tbs.end, &algorithm) || !ReadTlv(p, tbs.end, &issuerName) ||
        !ReadTlv(p, tbs.end, &validity) || !ReadTlv(p, tbs.end, &subjectName) ||
        issuerName.tag != 0x30 || subjectName.tag != 0x30)
        return false;
    *issuer = issuerName.Whole();
    *subject = subjectName.Whole();
    return true;
}

CK_ULONG BitLength(const Bytes& number) {
    size_t i = 0;
    while (i < number.size() && number[i] == 0)
        ++i;
    if (i == number.size())
        return 0;
    CK_ULONG bits = static_cast<CK_ULONG>((number.size() - i - 1) * 8);
    for (unsigned char top = number[i]; top; top >>= 1)
        ++bits;
    return bits;
}

}  // namespace softtoken
