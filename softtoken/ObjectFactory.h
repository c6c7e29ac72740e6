// Turning templates into objects: validation against the attribute tables,
// the defaults the token fills in and the values it derives; and the rules
// for reading and changing attributes afterwards.
#pragma once

#include "AttributeTable.h"
#include "Object.h"

namespace softtoken {

enum class Origin { Create, Generate };

// Attributes of a template, checked for known types, value sizes and
// contradicting repeats.
CK_RV ParseTemplate(const CK_ATTRIBUTE* templ, CK_ULONG count, AttributeMap* attributes);

// A complete object from a parsed template: CKR_TEMPLATE_INCOMPLETE,
// CKR_TEMPLATE_INCONSISTENT, CKR_ATTRIBUTE_TYPE_INVALID,
// CKR_ATTRIBUTE_VALUE_INVALID or CKR_ATTRIBUTE_READ_ONLY when it cannot be.
CK_RV BuildObject(const AttributeMap& given, Origin origin, AttributeMap* object);

// The schema an existing object follows.
const Schema* SchemaOf(const Object& object);

// CKR_ATTRIBUTE_SENSITIVE when `type` of `object` may not leave the token.
bool IsUnreadable(const Object& object, const Schema& schema, CK_ATTRIBUTE_TYPE type);

// Whether C_SetAttributeValue may give `type` the value `value`.
CK_RV CheckChange(const Object& object, CK_ATTRIBUTE_TYPE type, const Bytes& value);

// Subject, issuer and serial number (DER, as the attributes hold them) of
// an X.509 certificate; false when `der` is not one.
bool ParseCertificate(const Bytes& der, Bytes* subject, Bytes* issuer, Bytes* serial);

// Number of significant bits of a big-endian integer.
CK_ULONG BitLength(const Bytes& number);

}  // namespace softtoken
