// Helpers that several families of entry points share.
#pragma once

#include "Module.h"

namespace softtoken {
namespace ops {

// The first two steps of every entry that takes a session: the module is
// initialised and the session exists.
inline CK_RV EnterSession(Entry& entry, CK_SESSION_HANDLE handle, Session** session, Slot** slot) {
    if (CK_RV rv = entry.Check())
        return rv;
    return entry.module.FindSession(handle, session, slot);
}

// The same for an entry that needs nothing of the session but that it is valid.
inline CK_RV CheckSession(CK_SESSION_HANDLE handle) {
    Entry entry;
    Session* session = nullptr;
    Slot* slot = nullptr;
    return EnterSession(entry, handle, &session, &slot);
}

// Checks a PIN and keeps the failure count (SessionOps.cpp).
CK_RV VerifyPin(Module& module, Slot& slot, bool securityOfficer, const CK_UTF8CHAR* pin,
                CK_ULONG length);

// Whether the session may make or change an object that is a token object
// and/or private: CKR_SESSION_READ_ONLY or CKR_USER_NOT_LOGGED_IN if not.
inline CK_RV CheckWriteAccess(const Session& session, const Slot& slot, bool tokenObject,
                              bool privateObject) {
    if (tokenObject && !session.ReadWrite())
        return CKR_SESSION_READ_ONLY;
    if (privateObject && slot.login != LoginState::User)
        return CKR_USER_NOT_LOGGED_IN;
    return CKR_OK;
}

// A Cryptoki character field without its trailing blanks.
inline std::string Unpad(const CK_UTF8CHAR* field, size_t size) {
    std::string text(reinterpret_cast<const char*>(field), size);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
        text.pop_back();
    return text;
}

}  // namespace ops
}  // namespace softtoken

namespace softtoken {
namespace ops {

// Stores new objects made from complete attribute sets: token objects all
// together in one save (CKR_DEVICE_MEMORY when they do not fit, and then
// nothing is stored), session objects in this process (ObjectOps.cpp).
CK_RV StoreNewObjects(Module& module, const Session* session, Slot& slot,
                      std::vector<AttributeMap>& objects, std::vector<CK_OBJECT_HANDLE>* handles);

// Whether an object made from `given` would be a token object and private.
bool WouldBeTokenObject(const AttributeMap& given);
bool WouldBePrivate(const AttributeMap& given);

}  // namespace ops
}  // namespace softtoken
