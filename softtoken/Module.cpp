#include "Module.h"

#include "SlotEvents.h"

namespace softtoken {
namespace {

// How often a slot's file is looked at when the shared counters say
// nothing changed: catches edits made without this module.
constexpr ULONGLONG kStatIntervalMs = 20;
constexpr size_t kMaxSessions = 1024;

}  // namespace

Module& Module::Get() {
    static Module module;
    return module;
}

CK_RV Module::Start() {
    store = std::make_shared<Store>(Store::ResolveFolder());
    slots.clear();
    slots.resize(store->SlotCount());
    for (CK_SLOT_ID id = 0; id < slots.size(); ++id)
        slots[id].id = id;
    initialised = true;
    SlotEvents::Get().Start(store);
    return CKR_OK;
}

void Module::Stop() {
    SlotEvents::Get().Stop();
    sessions.clear();
    sessionObjects.clear();
    slots.clear();
    storedHandles_.clear();
    store.reset();
    initialised = false;
}

CK_RV Module::FindSlot(CK_SLOT_ID id, Slot** slot) {
    if (id >= slots.size())
        return CKR_SLOT_ID_INVALID;
    *slot = &slots[id];
    return CKR_OK;
}

void Module::Refresh(Slot& slot, bool checkDisk) {
    const int64_t generation = store->ContentGeneration(slot.id);
    const ULONGLONG now = GetTickCount64();
    const bool known = slot.status != SlotStatus::Unknown && generation == slot.contentGeneration;
    if (known && !checkDisk && now - slot.lastStat < kStatIntervalMs)
        return;
    const FileStamp stamp = store->Stamp(slot.id);
    slot.lastStat = now;
    if (known && stamp == slot.stamp)
        return;
    Reload(slot);
}

void Module::Reload(Slot& slot) {
    SlotLock lock(*store, slot.id);
    const int64_t generation = store->ContentGeneration(slot.id);
    const FileStamp stamp = store->Stamp(slot.id);
    TokenData data;
    const CK_RV rv = store->Load(slot.id, &data);
    const bool sameToken = slot.status == SlotStatus::Present && rv == CKR_OK &&
                           data.instance == slot.data.instance;
    if (!sameToken)
        DropToken(slot);
    slot.status = rv == CKR_OK ? SlotStatus::Present
                  : rv == CKR_TOKEN_NOT_PRESENT ? SlotStatus::Empty : SlotStatus::Unrecognized;
    if (rv == CKR_OK)
        Adopt(slot, std::move(data));
    slot.contentGeneration = generation;
    slot.stamp = stamp;
}

void Module::Adopt(Slot& slot, TokenData&& data) {
    slot.data = std::move(data);
    slot.objects.clear();
    for (ObjectPtr& object : slot.data.objects) {
        object->slot = slot.id;
        CK_OBJECT_HANDLE& handle = storedHandles_[{slot.data.instance, object->storedId}];
        if (!handle)
            handle = NewObjectHandle();
        object->handle = handle;
        slot.objects[handle] = object;
    }
}

// The token left the slot, or another took its place: its sessions end
// and its login with them.
void Module::DropToken(Slot& slot) {
    CloseSlotSessions(slot.id);
    slot.login = LoginState::None;
    slot.objects.clear();
    slot.data = TokenData();
}

CK_RV Module::RequireToken(Slot& slot) {
    Refresh(slot);
    switch (slot.status) {
    case SlotStatus::Present: return CKR_OK;
    case SlotStatus::Unrecognized: return CKR_TOKEN_NOT_RECOGNIZED;
    default: return CKR_TOKEN_NOT_PRESENT;
    }
}

CK_RV Module::FindSession(CK_SESSION_HANDLE handle, Session** session, Slot** slot) {
    auto it = sessions.find(handle);
    if (it == sessions.end())
        return CKR_SESSION_HANDLE_INVALID;
    Slot& owner = slots[it->second->slot];
    Refresh(owner);
    it = sessions.find(handle);  // a reload closes the sessions of a token that went
    if (it == sessions.end())
        return CKR_SESSION_HANDLE_INVALID;
    *session = it->second.get();
    *slot = &owner;
    return CKR_OK;
}

CK_STATE Module::StateOf(const Session& session, const Slot& slot) const {
    const bool rw = session.ReadWrite();
    switch (slot.login) {
    case LoginState::User: return rw ? CKS_RW_USER_FUNCTIONS : CKS_RO_USER_FUNCTIONS;
    case LoginState::SecurityOfficer: return CKS_RW_SO_FUNCTIONS;
    default: return rw ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION;
    }
}

CK_RV Module::OpenSession(Slot& slot, CK_FLAGS flags, CK_SESSION_HANDLE* handle) {
    if (sessions.size() >= kMaxSessions)
        return CKR_SESSION_COUNT;
    auto session = std::make_unique<Session>();
    session->handle = nextSessionHandle_++;
    session->slot = slot.id;
    session->flags = flags;
    *handle = session->handle;
    sessions[session->handle] = std::move(session);
    return CKR_OK;
}

void Module::CloseSession(CK_SESSION_HANDLE handle) {
    auto it = sessions.find(handle);
    if (it == sessions.end())
        return;
    const CK_SLOT_ID slot = it->second->slot;
    sessions.erase(it);
    for (auto object = sessionObjects.begin(); object != sessionObjects.end();)
        object = object->second->ownerSession == handle ? sessionObjects.erase(object) : ++object;
    if (SessionCount(slot, false) == 0 && slot < slots.size())
        slots[slot].login = LoginState::None;
}

void Module::CloseSlotSessions(CK_SLOT_ID slot) {
    std::vector<CK_SESSION_HANDLE> closing;
    for (const auto& entry : sessions)
        if (entry.second->slot == slot)
            closing.push_back(entry.first);
    for (CK_SESSION_HANDLE handle : closing)
        CloseSession(handle);
}

size_t Module::SessionCount(CK_SLOT_ID slot, bool readWriteOnly) const {
    size_t count = 0;
    for (const auto& entry : sessions)
        if (entry.second->slot == slot && (!readWriteOnly || entry.second->ReadWrite()))
            ++count;
    return count;
}

bool Module::Visible(const Slot& slot, const Object& object) const {
    return object.slot == slot.id && (!object.IsPrivate() || slot.login == LoginState::User);
}

ObjectPtr Module::FindObject(const Slot& slot, CK_OBJECT_HANDLE handle) const {
    ObjectPtr object;
    auto own = slot.objects.find(handle);
    if (own != slot.objects.end()) {
        object = own->second;
    } else {
        auto session = sessionObjects.find(handle);
        if (session != sessionObjects.end())
            object = session->second;
    }
    return object && Visible(slot, *object) ? object : nullptr;
}

std::vector<ObjectPtr> Module::VisibleObjects(const Slot& slot) const {
    std::vector<ObjectPtr> visible;
    visible.reserve(slot.data.objects.size());
    for (const ObjectPtr& object : slot.data.objects)
        if (Visible(slot, *object))
            visible.push_back(object);
    for (const auto& entry : sessionObjects)
        if (Visible(slot, *entry.second))
            visible.push_back(entry.second);
    return visible;
}

CK_RV Module::ChangeToken(Slot& slot, const std::function<CK_RV(TokenData&)>& change) {
    SlotLock lock(*store, slot.id);
    Refresh(slot, true);
    CK_RV rv = RequireToken(slot);
    if (rv != CKR_OK)
        return rv;
    TokenData changed = slot.data;
    if ((rv = change(changed)) != CKR_OK)
        return rv == kUnchanged ? CKR_OK : rv;
    if ((rv = store->Save(slot.id, &changed)) != CKR_OK)
        return rv;
    slot.contentGeneration = store->ContentGeneration(slot.id);
    slot.stamp = store->Stamp(slot.id);
    slot.lastStat = GetTickCount64();
    Adopt(slot, std::move(changed));
    return CKR_OK;
}

CK_OBJECT_HANDLE Module::HandleOfStored(const Slot& slot, CK_ULONG storedId) const {
    auto it = storedHandles_.find({slot.data.instance, storedId});
    return it == storedHandles_.end() ? CK_INVALID_HANDLE : it->second;
}

}  // namespace softtoken
