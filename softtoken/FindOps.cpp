// Searching objects: a search takes a snapshot of the matching handles at
// C_FindObjectsInit and hands them out in the order the token holds them.
#include "AttributeTable.h"
#include "Operations.h"
#include "OpsCommon.h"

namespace softtoken {
namespace ops {
namespace {

bool Matches(const Object& object, const CK_ATTRIBUTE* templ, CK_ULONG count) {
    for (CK_ULONG i = 0; i < count; ++i) {
        const Bytes* value = object.Find(templ[i].type);
        if (!value || value->size() != templ[i].ulValueLen)
            return false;
        if (value->empty())
            continue;
        const auto* wanted = static_cast<const unsigned char*>(templ[i].pValue);
        const AttrKind* kind = KindOf(templ[i].type);
        if (kind && *kind == AttrKind::Bool) {
            // Booleans: any non-zero byte means true.
            if (((*value)[0] != 0) != (wanted[0] != 0))
                return false;
        } else if (memcmp(value->data(), wanted, value->size()) != 0) {
            return false;
        }
    }
    return true;
}

CK_RV CheckSearchTemplate(const CK_ATTRIBUTE* templ, CK_ULONG count) {
    if (!templ && count)
        return CKR_ARGUMENTS_BAD;
    for (CK_ULONG i = 0; i < count; ++i)
        if (!templ[i].pValue && templ[i].ulValueLen)
            return CKR_ARGUMENTS_BAD;
    return CKR_OK;
}

}  // namespace

CK_RV FindObjectsInit(CK_SESSION_HANDLE handle, CK_ATTRIBUTE_PTR templ, CK_ULONG count) {
    Entry entry;
    if (CK_RV rv = entry.Check())
        return rv;
    Session* session = nullptr;
    Slot* slot = nullptr;
    if (CK_RV rv = entry.module.FindSession(handle, &session, &slot))
        return rv;
    if (CK_RV rv = CheckSearchTemplate(templ, count))
        return rv;
    if (CK_RV rv = entry.module.RequireToken(*slot))
        return rv;
    if (session->find.active)
        return CKR_OPERATION_ACTIVE;
    FindOperation find;
    find.active = true;
    for (const ObjectPtr& object : entry.module.VisibleObjects(*slot))
        if (Matches(*object, templ, count))
            find.results.push_back(object->handle);
    session->find = std::move(find);
    return CKR_OK;
}

CK_RV FindObjects(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE_PTR objects, CK_ULONG max,
                  CK_ULONG_PTR found) {
    Entry entry;
    if (CK_RV rv = entry.Check())
        return rv;
    Session* session = nullptr;
    Slot* slot = nullptr;
    if (CK_RV rv = entry.module.FindSession(handle, &session, &slot))
        return rv;
    if ((!objects && max) || !found)
        return CKR_ARGUMENTS_BAD;
    if (!session->find.active)
        return CKR_OPERATION_NOT_INITIALIZED;
    FindOperation& find = session->find;
    CK_ULONG given = 0;
    // Objects destroyed (or hidden by a logout) since the search began are
    // left out.
    while (given < max && find.next < find.results.size()) {
        const CK_OBJECT_HANDLE next = find.results[find.next++];
        if (entry.module.FindObject(*slot, next))
            objects[given++] = next;
    }
    *found = given;
    return CKR_OK;
}

CK_RV FindObjectsFinal(CK_SESSION_HANDLE handle) {
    Entry entry;
    if (CK_RV rv = entry.Check())
        return rv;
    Session* session = nullptr;
    Slot* slot = nullptr;
    if (CK_RV rv = entry.module.FindSession(handle, &session, &slot))
        return rv;
    if (!session->find.active)
        return CKR_OPERATION_NOT_INITIALIZED;
    session->find = FindOperation();
    return CKR_OK;
}

}  // namespace ops
}  // namespace softtoken
