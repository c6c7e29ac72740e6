// The store management and fault functions of SoftTokenControl.h. They
// work on the store files directly, under the slot locks, so a running
// module (here or in another process) sees their changes like any other.
#include "SoftTokenControl.h"

#include "Crypto.h"
#include "Faults.h"
#include "KeyPair.h"
#include "ObjectFactory.h"
#include "SlotEvents.h"
#include "Store.h"

#include <cstdio>
#include <cstring>
#include <functional>

namespace softtoken {
namespace {

CK_RV Guarded(const std::function<CK_RV()>& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return CKR_HOST_MEMORY;
    } catch (...) {
        return CKR_GENERAL_ERROR;
    }
}

// Runs `change` on the slot's token under its lock and saves the result.
CK_RV WithToken(CK_SLOT_ID slot, const std::function<CK_RV(TokenData&)>& change) {
    Store store(Store::ResolveFolder());
    if (!store.ValidSlot(slot))
        return CKR_SLOT_ID_INVALID;
    SlotLock lock(store, slot);
    TokenData data;
    CK_RV rv = store.Load(slot, &data);
    if (rv == CKR_OK)
        rv = change(data);
    if (rv == CKR_OK)
        rv = store.Save(slot, &data);
    return rv;
}

std::string Text(const char* value, const char* fallback) {
    return value ? value : fallback;
}

CK_VERSION VersionOr(CK_VERSION version) {
    return version.major || version.minor ? version : CK_VERSION{1, 0};
}

CK_RV MakeToken(const SoftTokenParams& p, TokenData* data) {
    if (!p.label || !p.serial || strlen(p.label) > 32 || strlen(p.serial) > 16 ||
        (p.manufacturer && strlen(p.manufacturer) > 32) || (p.model && strlen(p.model) > 16))
        return CKR_ARGUMENTS_BAD;
    const std::string soPin = Text(p.soPin, kFactorySoPin);
    if (soPin.size() < kSoPinMinLen || soPin.size() > kSoPinMaxLen)
        return CKR_PIN_LEN_RANGE;
    crypto::Random(&data->instance, sizeof data->instance);
    data->label = p.label;
    data->serial = p.serial;
    data->manufacturer = Text(p.manufacturer, "Tolvane");
    data->model = Text(p.model, "SoftToken");
    data->hardware = VersionOr(p.hardware);
    data->firmware = VersionOr(p.firmware);
    data->capacity = p.capacity ? p.capacity : kDefaultCapacity;
    const auto* so = reinterpret_cast<const CK_UTF8CHAR*>(soPin.data());
    if (!MakePinRecord(so, static_cast<CK_ULONG>(soPin.size()), &data->soPin))
        return CKR_FUNCTION_FAILED;
    if (p.userPin && !MakePinRecord(reinterpret_cast<const CK_UTF8CHAR*>(p.userPin),
                                    static_cast<CK_ULONG>(strlen(p.userPin)), &data->userPin))
        return CKR_FUNCTION_FAILED;
    return CKR_OK;
}

// Adds finished objects as token objects, all or none.
CK_RV AddToToken(TokenData& data, std::vector<AttributeMap>& objects) {
    CK_ULONG needed = 0;
    std::vector<ObjectPtr> made;
    for (AttributeMap& attributes : objects) {
        auto object = std::make_shared<Object>();
        object->attributes = std::move(attributes);
        object->storedId = data.nextObjectId++;
        needed += object->Size();
        made.push_back(object);
    }
    if (needed > data.FreeMemory())
        return CKR_DEVICE_MEMORY;
    data.objects.insert(data.objects.end(), made.begin(), made.end());
    return CKR_OK;
}

CK_RV BuildTokenObject(const CK_ATTRIBUTE* templ, CK_ULONG count, AttributeMap* object) {
    AttributeMap given;
    CK_RV rv = ParseTemplate(templ, count, &given);
    if (rv != CKR_OK)
        return rv;
    given[CKA_TOKEN] = BoolBytes(true);
    return BuildObject(given, Origin::Create, object);
}

const char* SlotWord(SlotContent content) {
    switch (content) {
    case SlotContent::Present: return "present";
    case SlotContent::Removed: return "removed";
    default: return "empty";
    }
}

std::string Describe(const Store& store, CK_SLOT_ID slot) {
    const SlotContent content = store.Content(slot);
    std::string line = "slot " + std::to_string(slot) + ": " + SlotWord(content);
    if (content != SlotContent::Present)
        return line;
    TokenData data;
    if (store.Load(slot, &data) != CKR_OK)
        return line + " (not recognised: damaged token file)";
    char details[400];
    snprintf(details, sizeof details,
             " label=\"%s\" serial=\"%s\" manufacturer=\"%s\" model=\"%s\" objects=%u used=%lu/%lu"
             " user-pin=%s failed=%lu policy=%lu/%lu/%lu/%lu",
             data.label.c_str(), data.serial.c_str(), data.manufacturer.c_str(), data.model.c_str(),
             static_cast<unsigned>(data.objects.size()), data.UsedMemory(), data.capacity,
             data.userPin.IsSet() ? (data.UserLocked() ? "locked" : "set") : "none", data.userFailed,
             data.policy.level, data.policy.maxFailed, data.policy.minLength, data.policy.maxLength);
    return line + details;
}

}  // namespace
}  // namespace softtoken

using namespace softtoken;

SOFTTOKEN_API CK_RV SoftToken_SetStorePath(const wchar_t* folder) {
    Store::SetFolderOverride(folder);
    return CKR_OK;
}

SOFTTOKEN_API CK_RV SoftToken_InitStore(CK_ULONG slotCount) {
    return Guarded([&] { return Store(Store::ResolveFolder()).Initialise(slotCount); });
}

SOFTTOKEN_API CK_RV SoftToken_GetSlotCount(CK_ULONG* slotCount) {
    if (!slotCount)
        return CKR_ARGUMENTS_BAD;
    return Guarded([&] {
        *slotCount = Store(Store::ResolveFolder()).SlotCount();
        return CKR_OK;
    });
}

SOFTTOKEN_API CK_RV SoftToken_CreateToken(CK_SLOT_ID slot, const SoftTokenParams* params) {
    if (!params)
        return CKR_ARGUMENTS_BAD;
    return Guarded([&] {
        Store store(Store::ResolveFolder());
        if (!store.ValidSlot(slot))
            return CKR_SLOT_ID_INVALID;
        TokenData data;
        CK_RV rv = MakeToken(*params, &data);
        if (rv != CKR_OK)
            return rv;
        if (GetFileAttributesW((store.Folder() + L"\\store.cfg").c_str()) == INVALID_FILE_ATTRIBUTES &&
            (rv = store.Initialise(store.SlotCount())) != CKR_OK)
            return rv;
        SlotLock lock(store, slot);
        DeleteFileW(store.RemovedPath(slot).c_str());
        if ((rv = store.Save(slot, &data)) == CKR_OK)
            store.BumpPresence(slot);
        return rv;
    });
}

SOFTTOKEN_API CK_RV SoftToken_RemoveToken(CK_SLOT_ID slot) {
    return Guarded([&] {
        Store store(Store::ResolveFolder());
        if (!store.ValidSlot(slot))
            return CKR_SLOT_ID_INVALID;
        SlotLock lock(store, slot);
        return store.Remove(slot);
    });
}

SOFTTOKEN_API CK_RV SoftToken_InsertToken(CK_SLOT_ID slot) {
    return Guarded([&] {
        Store store(Store::ResolveFolder());
        if (!store.ValidSlot(slot))
            return CKR_SLOT_ID_INVALID;
        SlotLock lock(store, slot);
        return store.Insert(slot);
    });
}

SOFTTOKEN_API CK_RV SoftToken_GetSlotState(CK_SLOT_ID slot, CK_ULONG* state) {
    if (!state)
        return CKR_ARGUMENTS_BAD;
    return Guarded([&] {
        Store store(Store::ResolveFolder());
        if (!store.ValidSlot(slot))
            return CKR_SLOT_ID_INVALID;
        const SlotContent content = store.Content(slot);
        *state = content == SlotContent::Present   ? SOFTTOKEN_SLOT_PRESENT
                 : content == SlotContent::Removed ? SOFTTOKEN_SLOT_REMOVED
                                                   : SOFTTOKEN_SLOT_EMPTY;
        return CKR_OK;
    });
}

SOFTTOKEN_API CK_RV SoftToken_DescribeSlot(CK_SLOT_ID slot, char* text, CK_ULONG size) {
    if (!text || size == 0)
        return CKR_ARGUMENTS_BAD;
    return Guarded([&] {
        Store store(Store::ResolveFolder());
        if (!store.ValidSlot(slot))
            return CKR_SLOT_ID_INVALID;
        const std::string line = Describe(store, slot);
        if (line.size() + 1 > size)
            return CKR_BUFFER_TOO_SMALL;
        memcpy(text, line.c_str(), line.size() + 1);
        return CKR_OK;
    });
}

SOFTTOKEN_API CK_RV SoftToken_SetUserPin(CK_SLOT_ID slot, const char* pin) {
    if (!pin || !*pin)
        return CKR_ARGUMENTS_BAD;
    return Guarded([&] {
        PinRecord record;
        if (!MakePinRecord(reinterpret_cast<const CK_UTF8CHAR*>(pin), static_cast<CK_ULONG>(strlen(pin)),
                           &record))
            return CKR_FUNCTION_FAILED;
        return WithToken(slot, [&](TokenData& data) {
            data.userPin = record;
            data.userFailed = 0;
            return CKR_OK;
        });
    });
}

SOFTTOKEN_API CK_RV SoftToken_SetPolicy(CK_SLOT_ID slot, CK_ULONG level, CK_ULONG maxFailed,
                                        CK_ULONG minLen, CK_ULONG maxLen) {
    PinPolicy policy;
    policy.level = level;
    policy.maxFailed = maxFailed;
    policy.minLength = minLen;
    policy.maxLength = maxLen;
    if (CK_RV rv = CheckPolicyValues(policy))
        return rv;
    return Guarded([&] {
        return WithToken(slot, [&](TokenData& data) {
            data.policy = policy;
            return CKR_OK;
        });
    });
}

SOFTTOKEN_API CK_RV SoftToken_SetCapacity(CK_SLOT_ID slot, CK_ULONG bytes) {
    if (bytes == 0)
        return CKR_ARGUMENTS_BAD;
    return Guarded([&] {
        return WithToken(slot, [&](TokenData& data) {
            if (bytes < data.UsedMemory())
                return CKR_DEVICE_MEMORY;
            data.capacity = bytes;
            return CKR_OK;
        });
    });
}

SOFTTOKEN_API CK_RV SoftToken_AddObjects(CK_SLOT_ID slot, const CK_ATTRIBUTE* const* templates,
                                         const CK_ULONG* counts, CK_ULONG objectCount) {
    if (!templates || !counts)
        return CKR_ARGUMENTS_BAD;
    return Guarded([&] {
        std::vector<AttributeMap> objects(objectCount);
        for (CK_ULONG i = 0; i < objectCount; ++i) {
            if (!templates[i] && counts[i])
                return CKR_ARGUMENTS_BAD;
            if (CK_RV rv = BuildTokenObject(templates[i], counts[i], &objects[i]))
                return rv;
        }
        return WithToken(slot, [&](TokenData& data) { return AddToToken(data, objects); });
    });
}

SOFTTOKEN_API CK_RV SoftToken_GenerateKeyPair(CK_SLOT_ID slot, CK_ULONG bits, const char* label,
                                              const unsigned char* id, CK_ULONG idLen) {
    if (!id && idLen)
        return CKR_ARGUMENTS_BAD;
    return Guarded([&] {
        AttributeMap publicGiven, privateGiven;
        for (AttributeMap* given : {&publicGiven, &privateGiven}) {
            (*given)[CKA_TOKEN] = BoolBytes(true);
            (*given)[CKA_LABEL] = label ? ToBytes(label, strlen(label)) : Bytes();
            (*given)[CKA_ID] = id ? ToBytes(id, idLen) : Bytes();
        }
        publicGiven[CKA_MODULUS_BITS] = UlongBytes(bits);
        CK_ULONG checkedBits = 0;
        CK_RV rv = PrepareRsaTemplates(&publicGiven, &privateGiven, &checkedBits);
        std::vector<AttributeMap> keys(2);
        if (rv == CKR_OK)
            rv = MakeRsaKeyPair(publicGiven, privateGiven, checkedBits, &keys[0], &keys[1]);
        if (rv != CKR_OK)
            return rv;
        return WithToken(slot, [&](TokenData& data) { return AddToToken(data, keys); });
    });
}

SOFTTOKEN_API CK_RV SoftToken_SetFault(const char* function, CK_ULONG nth, CK_RV rv) {
    return SoftToken_SetFaultEx(function, nth, rv, 0);
}

SOFTTOKEN_API CK_RV SoftToken_SetFaultEx(const char* function, CK_ULONG nth, CK_RV rv, CK_ULONG flags) {
    if (!function || !*function || nth == 0)
        return CKR_ARGUMENTS_BAD;
    if ((flags & SOFTTOKEN_FAULT_REMOVE_TOKEN) && (flags & SOFTTOKEN_FAULT_REPEAT))
        return CKR_ARGUMENTS_BAD;  // a token is taken out once
    return Guarded([&] {
        if (flags & SOFTTOKEN_FAULT_REMOVE_TOKEN)
            Faults::Get().SetRemoval(function, nth, rv);
        else
            Faults::Get().Set(function, nth, rv, (flags & SOFTTOKEN_FAULT_REPEAT) != 0);
        return CKR_OK;
    });
}

SOFTTOKEN_API CK_RV SoftToken_PendingFaults(CK_ULONG* count) {
    if (!count)
        return CKR_ARGUMENTS_BAD;
    *count = Faults::Get().Pending();
    return CKR_OK;
}

SOFTTOKEN_API CK_RV SoftToken_GetSlotEventState(CK_ULONG* looks, CK_ULONG* pending, CK_ULONG* idleLook) {
    if (!looks || !pending || !idleLook)
        return CKR_ARGUMENTS_BAD;
    const SlotEvents::State state = SlotEvents::Get().CurrentState();
    *looks = state.looks;
    *pending = state.pending;
    *idleLook = state.idleLook;
    return CKR_OK;
}

SOFTTOKEN_API CK_RV SoftToken_WaitSlotEventState(CK_ULONG* looks, CK_ULONG* pending, CK_ULONG* idleLook,
                                                 CK_ULONG timeoutMs) {
    if (!looks || !pending || !idleLook)
        return CKR_ARGUMENTS_BAD;
    SlotEvents::State state;
    state.looks = *looks;
    state.pending = *pending;
    state.idleLook = *idleLook;
    const bool changed = SlotEvents::Get().WaitForStateChange(&state, std::chrono::milliseconds(timeoutMs));
    *looks = state.looks;
    *pending = state.pending;
    *idleLook = state.idleLook;
    return changed ? CKR_OK : CKR_NO_EVENT;
}

SOFTTOKEN_API CK_RV SoftToken_LastFaultFunction(char* name, CK_ULONG size) {
    if (!name || size == 0)
        return CKR_ARGUMENTS_BAD;
    const std::string last = Faults::Get().LastHit();
    if (last.size() >= size)
        return CKR_BUFFER_TOO_SMALL;
    memcpy(name, last.c_str(), last.size() + 1);
    return CKR_OK;
}

SOFTTOKEN_API CK_RV SoftToken_ClearFaults(void) {
    Faults::Get().Clear();
    return CKR_OK;
}

SOFTTOKEN_API CK_RV SoftToken_AddStoreFault(const char* function, CK_ULONG nth, CK_RV rv, CK_ULONG flags) {
    if (!function || !*function || nth == 0 || strchr(function, ' ') || (flags & SOFTTOKEN_FAULT_REMOVE_TOKEN))
        return CKR_ARGUMENTS_BAD;
    return Guarded([&] {
        Store store(Store::ResolveFolder());
        return AddFaultToFile(store, function, nth, rv, (flags & SOFTTOKEN_FAULT_REPEAT) != 0);
    });
}

SOFTTOKEN_API CK_RV SoftToken_ClearStoreFaults(void) {
    return Guarded([&] {
        Store store(Store::ResolveFolder());
        return ClearFaultFile(store);
    });
}
