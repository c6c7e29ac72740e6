// The attributes each kind of object has, as data: their value kinds, which
// a template must give, the defaults the token fills in, which are secret
// and which may change after creation.
#pragma once

#include "Common.h"

#include <map>

namespace softtoken {

enum class AttrKind : unsigned char { Bool, Ulong, Bytes, Date };

// How an attribute comes to be in a new object.
enum class Need : unsigned char {
    Required,  // the template must give it
    Default,   // the token fills in `fallback` when the template has none
    Optional,  // present only when the template gives it
    Derived,   // the token works it out; a template may give it only if it agrees
    Token,     // set by the token alone; a creating template may not give it
};

enum RuleFlags : unsigned {
    kSecret = 1,         // unreadable while the object is sensitive or unextractable
    kSettable = 2,       // C_SetAttributeValue may change it
    kOnlyToTrue = 4,     // may change only from false to true
    kOnlyToFalse = 8,    // may change only from true to false
};

struct AttributeRule {
    CK_ATTRIBUTE_TYPE type;
    Need need;
    CK_ULONG fallback;  // a CK_BBOOL or CK_ULONG default; byte values default to empty
    unsigned flags;
};

// The rules of one class (and key type) of object, by attribute type.
struct Schema {
    CK_OBJECT_CLASS objectClass = 0;
    CK_ULONG keyType = CK_UNAVAILABLE_INFORMATION;
    std::map<CK_ATTRIBUTE_TYPE, AttributeRule> rules;
    const AttributeRule* Find(CK_ATTRIBUTE_TYPE type) const {
        auto it = rules.find(type);
        return it == rules.end() ? nullptr : &it->second;
    }
};

// The value kind of an attribute type the token knows; null for others.
const AttrKind* KindOf(CK_ATTRIBUTE_TYPE type);

// True when `value` has the size its kind demands.
bool SizeFits(AttrKind kind, CK_ULONG size);

bool IsKeyClass(CK_OBJECT_CLASS objectClass);
bool IsKnownClass(CK_OBJECT_CLASS objectClass);
bool IsKnownKeyType(CK_KEY_TYPE keyType);

// The schema of a class (and key type for keys); null when the token does
// not hold such objects. Certificates use the X.509 schema.
const Schema* SchemaFor(CK_OBJECT_CLASS objectClass, CK_ULONG keyType);

}  // namespace softtoken
