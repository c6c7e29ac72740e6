// Making, destroying, reading and changing objects.
#include "ObjectFactory.h"
#include "Operations.h"
#include "OpsCommon.h"

namespace softtoken {
namespace ops {
namespace {

// Reads one attribute into the caller's template entry by the reading
// rules: length queries, short buffers, missing and secret attributes.
CK_RV ReadAttribute(const Object& object, const Schema& schema, CK_ATTRIBUTE& attribute) {
    const Bytes* value = object.Find(attribute.type);
    if (!value) {
        attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
        return CKR_ATTRIBUTE_TYPE_INVALID;
    }
    if (IsUnreadable(object, schema, attribute.type)) {
        attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
        return CKR_ATTRIBUTE_SENSITIVE;
    }
    const CK_ULONG size = static_cast<CK_ULONG>(value->size());
    if (!attribute.pValue) {
        attribute.ulValueLen = size;
        return CKR_OK;
    }
    if (attribute.ulValueLen < size) {
        attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
        return CKR_BUFFER_TOO_SMALL;
    }
    if (size)
        memcpy(attribute.pValue, value->data(), size);
    attribute.ulValueLen = size;
    return CKR_OK;
}

CK_RV ReplaceObject(Module& module, Slot& slot, const Object& old, ObjectPtr changed) {
    if (!old.IsTokenObject()) {
        module.sessionObjects[old.handle] = changed;
        return CKR_OK;
    }
    const CK_ULONG oldSize = old.Size();
    return module.ChangeToken(slot, [&](TokenData& data) {
        for (ObjectPtr& object : data.objects) {
            if (object->storedId != old.storedId)
                continue;
            if (changed->Size() > oldSize && changed->Size() - oldSize > data.FreeMemory())
                return CKR_DEVICE_MEMORY;
            object = changed;
            return CKR_OK;
        }
        return CKR_OBJECT_HANDLE_INVALID;
    });
}

bool TemplateBool(const AttributeMap& given, CK_ATTRIBUTE_TYPE type, bool fallback) {
    auto it = given.find(type);
    return it == given.end() || it->second.size() != 1 ? fallback : it->second[0] != CK_FALSE;
}

}  // namespace

bool WouldBeTokenObject(const AttributeMap& given) {
    return TemplateBool(given, CKA_TOKEN, false);
}

bool WouldBePrivate(const AttributeMap& given) {
    CK_OBJECT_CLASS objectClass = CK_UNAVAILABLE_INFORMATION;
    auto it = given.find(CKA_CLASS);
    if (it != given.end() && it->second.size() == sizeof objectClass)
        memcpy(&objectClass, it->second.data(), sizeof objectClass);
    const bool secretClass = objectClass == CKO_PRIVATE_KEY || objectClass == CKO_SECRET_KEY;
    return TemplateBool(given, CKA_PRIVATE, secretClass);
}

CK_RV StoreNewObjects(Module& module, const Session* session, Slot& slot,
                      std::vector<AttributeMap>& objects, std::vector<CK_OBJECT_HANDLE>* handles) {
    std::vector<CK_ULONG> storedIds(objects.size(), 0);
    bool anyToken = false;
    for (const AttributeMap& attributes : objects)
        anyToken = anyToken || WouldBeTokenObject(attributes);
    if (anyToken) {
        CK_RV rv = module.ChangeToken(slot, [&](TokenData& data) {
            CK_ULONG needed = 0;
            std::vector<ObjectPtr> made;
            for (size_t i = 0; i < objects.size(); ++i) {
                if (!WouldBeTokenObject(objects[i]))
                    continue;
                auto object = std::make_shared<Object>();
                object->attributes = objects[i];
                object->storedId = storedIds[i] = data.nextObjectId++;
                needed += object->Size();
                made.push_back(object);
            }
            if (needed > data.FreeMemory())
                return CKR_DEVICE_MEMORY;
            data.objects.insert(data.objects.end(), made.begin(), made.end());
            return CKR_OK;
        });
        if (rv != CKR_OK)
            return rv;
    }
    handles->clear();
    for (size_t i = 0; i < objects.size(); ++i) {
        if (storedIds[i]) {
            handles->push_back(module.HandleOfStored(slot, storedIds[i]));
            continue;
        }
        auto object = std::make_shared<Object>();
        object->attributes = std::move(objects[i]);
        object->handle = module.NewObjectHandle();
        object->slot = slot.id;
        object->ownerSession = session ? session->handle : 0;
        module.sessionObjects[object->handle] = object;
        handles->push_back(object->handle);
    }
    return CKR_OK;
}

CK_RV CreateObject(CK_SESSION_HANDLE handle, CK_ATTRIBUTE_PTR templ, CK_ULONG count,
                   CK_OBJECT_HANDLE_PTR created) {
    Entry entry;
    if (CK_RV rv = entry.Check())
        return rv;
    Session* session = nullptr;
    Slot* slot = nullptr;
    if (CK_RV rv = entry.module.FindSession(handle, &session, &slot))
        return rv;
    if ((!templ && count) || !created)
        return CKR_ARGUMENTS_BAD;
    AttributeMap given;
    if (CK_RV rv = ParseTemplate(templ, count, &given))
        return rv;
    if (CK_RV rv = entry.module.RequireToken(*slot))
        return rv;
    if (CK_RV rv = CheckWriteAccess(*session, *slot, WouldBeTokenObject(given), WouldBePrivate(given)))
        return rv;
    std::vector<AttributeMap> objects(1);
    if (CK_RV rv = BuildObject(given, Origin::Create, &objects[0]))
        return rv;
    std::vector<CK_OBJECT_HANDLE> handles;
    CK_RV rv = StoreNewObjects(entry.module, session, *slot, objects, &handles);
    if (rv == CKR_OK)
        *created = handles[0];
    return rv;
}

CK_RV DestroyObject(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE objectHandle) {
    Entry entry;
    if (CK_RV rv = entry.Check())
        return rv;
    Session* session = nullptr;
    Slot* slot = nullptr;
    if (CK_RV rv = entry.module.FindSession(handle, &session, &slot))
        return rv;
    if (CK_RV rv = entry.module.RequireToken(*slot))
        return rv;
    ObjectPtr object = entry.module.FindObject(*slot, objectHandle);
    if (!object)
        return CKR_OBJECT_HANDLE_INVALID;
    if (CK_RV rv = CheckWriteAccess(*session, *slot, object->IsTokenObject(), object->IsPrivate()))
        return rv;
    if (!object->Bool(CKA_DESTROYABLE, true))
        return CKR_ACTION_PROHIBITED;
    if (!object->IsTokenObject()) {
        entry.module.sessionObjects.erase(objectHandle);
        return CKR_OK;
    }
    return entry.module.ChangeToken(*slot, [&](TokenData& data) {
        for (auto it = data.objects.begin(); it != data.objects.end(); ++it) {
            if ((*it)->storedId == object->storedId) {
                data.objects.erase(it);
                return CKR_OK;
            }
        }
        return CKR_OBJECT_HANDLE_INVALID;
    });
}

CK_RV GetObjectSize(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE objectHandle, CK_ULONG_PTR size) {
    Entry entry;
    if (CK_RV rv = entry.Check())
        return rv;
    Session* session = nullptr;
    Slot* slot = nullptr;
    if (CK_RV rv = entry.module.FindSession(handle, &session, &slot))
        return rv;
    if (!size)
        return CKR_ARGUMENTS_BAD;
    if (CK_RV rv = entry.module.RequireToken(*slot))
        return rv;
    ObjectPtr object = entry.module.FindObject(*slot, objectHandle);
    if (!object)
        return CKR_OBJECT_HANDLE_INVALID;
    *size = object->Size();
    return CKR_OK;
}

// Every entry of the template is answered; the result is the first error
// met, if any.
CK_RV GetAttributeValue(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE objectHandle,
                        CK_ATTRIBUTE_PTR templ, CK_ULONG count) {
    Entry entry;
    if (CK_RV rv = entry.Check())
        return rv;
    Session* session = nullptr;
    Slot* slot = nullptr;
    if (CK_RV rv = entry.module.FindSession(handle, &session, &slot))
        return rv;
    if (!templ && count)
        return CKR_ARGUMENTS_BAD;
    if (CK_RV rv = entry.module.RequireToken(*slot))
        return rv;
    ObjectPtr object = entry.module.FindObject(*slot, objectHandle);
    const Schema* schema = object ? SchemaOf(*object) : nullptr;
    if (!object || !schema)
        return CKR_OBJECT_HANDLE_INVALID;
    CK_RV result = CKR_OK;
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_RV rv = ReadAttribute(*object, *schema, templ[i]);
        if (result == CKR_OK)
            result = rv;
    }
    return result;
}

CK_RV SetAttributeValue(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE objectHandle,
                        CK_ATTRIBUTE_PTR templ, CK_ULONG count) {
    Entry entry;
    if (CK_RV rv = entry.Check())
        return rv;
    Session* session = nullptr;
    Slot* slot = nullptr;
    if (CK_RV rv = entry.module.FindSession(handle, &session, &slot))
        return rv;
    if (!templ && count)
        return CKR_ARGUMENTS_BAD;
    AttributeMap given;
    if (CK_RV rv = ParseTemplate(templ, count, &given))
        return rv;
    if (CK_RV rv = entry.module.RequireToken(*slot))
        return rv;
    ObjectPtr object = entry.module.FindObject(*slot, objectHandle);
    if (!object)
        return CKR_OBJECT_HANDLE_INVALID;
    if (CK_RV rv = CheckWriteAccess(*session, *slot, object->IsTokenObject(), object->IsPrivate()))
        return rv;
    if (!object->Bool(CKA_MODIFIABLE, true))
        return CKR_ACTION_PROHIBITED;
    auto changed = std::make_shared<Object>(*object);
    changed->signer.reset();
    for (const auto& attribute : given) {
        if (CK_RV rv = CheckChange(*object, attribute.first, attribute.second))
            return rv;
        changed->attributes[attribute.first] = attribute.second;
    }
    return ReplaceObject(entry.module, *slot, *object, changed);
}

}  // namespace ops
}  // namespace softtoken
