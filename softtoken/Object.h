// An object as the token holds it: its attributes by type, plus where it
// lives (token or session) and the handle this process gave it.
#pragma once

#include "AttributeMap.h"
#include "Common.h"

#include <memory>

namespace softtoken {

namespace crypto {
class RsaSigner;
}

// Bytes an attribute occupies in the token's memory besides its value.
constexpr CK_ULONG kAttributeOverhead = 8;

struct Object {
    CK_OBJECT_HANDLE handle = 0;
    CK_SLOT_ID slot = 0;
    CK_ULONG storedId = 0;               // token objects: their number in the token file
    CK_SESSION_HANDLE ownerSession = 0;  // session objects: the session that made them
    AttributeMap attributes;

    // Made on first use for signing and dropped with the object.
    mutable std::shared_ptr<crypto::RsaSigner> signer;

    const Bytes* Find(CK_ATTRIBUTE_TYPE type) const {
        auto it = attributes.find(type);
        return it == attributes.end() ? nullptr : &it->second;
    }
    bool Bool(CK_ATTRIBUTE_TYPE type, bool fallback = false) const {
        const Bytes* value = Find(type);
        return value && value->size() == 1 ? (*value)[0] != CK_FALSE : fallback;
    }
    CK_ULONG Ulong(CK_ATTRIBUTE_TYPE type, CK_ULONG fallback = CK_UNAVAILABLE_INFORMATION) const {
        const Bytes* value = Find(type);
        CK_ULONG result = fallback;
        if (value && value->size() == sizeof result)
            memcpy(&result, value->data(), sizeof result);
        return result;
    }
    Bytes Value(CK_ATTRIBUTE_TYPE type) const {
        const Bytes* value = Find(type);
        return value ? *value : Bytes();
    }
    CK_OBJECT_CLASS Class() const { return Ulong(CKA_CLASS); }
    bool IsTokenObject() const { return Bool(CKA_TOKEN); }
    bool IsPrivate() const { return Bool(CKA_PRIVATE); }

    // What the object takes of the token's capacity.
    CK_ULONG Size() const {
        CK_ULONG size = 0;
        for (const auto& entry : attributes)
            size += kAttributeOverhead + static_cast<CK_ULONG>(entry.second.size());
        return size;
    }
};

using ObjectPtr = std::shared_ptr<Object>;

}  // namespace softtoken
