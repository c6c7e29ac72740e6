// The module's state in this process: slots and the tokens in them as last
// read from the store, sessions, session objects and object handles. One
// lock guards it all; every entry point takes it for its whole run except
// where it waits (slot events) or works long (key generation).
#pragma once

#include "Common.h"
#include "Crypto.h"
#include "Object.h"
#include "Store.h"
#include "TokenData.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace softtoken {

enum class LoginState { None, User, SecurityOfficer };

// What a ChangeToken edit answers when it found nothing to change: the
// call succeeds and nothing is written.
constexpr CK_RV kUnchanged = CKR_VENDOR_DEFINED | 0x57c0;

struct FindOperation {
    bool active = false;
    std::vector<CK_OBJECT_HANDLE> results;
    size_t next = 0;
};

struct SignOperation {
    bool active = false;
    CK_MECHANISM_TYPE mechanism = 0;
    crypto::HashAlg hash = crypto::HashAlg::None;
    ObjectPtr key;
    std::shared_ptr<crypto::Hasher> hasher;  // hashing mechanisms
    Bytes data;                              // CKM_RSA_PKCS
    bool multipart = false;
};

struct Session {
    CK_SESSION_HANDLE handle = 0;
    CK_SLOT_ID slot = 0;
    CK_FLAGS flags = 0;
    FindOperation find;
    SignOperation sign;
    bool ReadWrite() const { return (flags & CKF_RW_SESSION) != 0; }
};

enum class SlotStatus { Unknown, Empty, Present, Unrecognized };

// A slot and its token as this process last read them.
struct Slot {
    CK_SLOT_ID id = 0;
    SlotStatus status = SlotStatus::Unknown;
    TokenData data;
    LoginState login = LoginState::None;
    int64_t contentGeneration = -1;
    FileStamp stamp;
    ULONGLONG lastStat = 0;
    std::unordered_map<CK_OBJECT_HANDLE, ObjectPtr> objects;  // token objects by handle
};

class Module {
public:
    static Module& Get();

    std::mutex mutex;
    bool initialised = false;
    std::shared_ptr<Store> store;
    std::vector<Slot> slots;
    std::map<CK_SESSION_HANDLE, std::unique_ptr<Session>> sessions;
    std::map<CK_OBJECT_HANDLE, ObjectPtr> sessionObjects;

    // Called with `mutex` held.
    CK_RV Start();
    void Stop();

    // CKR_SLOT_ID_INVALID for a slot the store does not have.
    CK_RV FindSlot(CK_SLOT_ID id, Slot** slot);
    // Reads the slot's token again if it changed (cheaply checked);
    // `checkDisk` skips the throttle on file checks.
    void Refresh(Slot& slot, bool checkDisk = false);
    // CKR_TOKEN_NOT_PRESENT / CKR_TOKEN_NOT_RECOGNIZED unless a usable token
    // is in the slot.
    CK_RV RequireToken(Slot& slot);
    // The session, after its token was checked: a session whose token went
    // away is closed and answers CKR_SESSION_HANDLE_INVALID.
    CK_RV FindSession(CK_SESSION_HANDLE handle, Session** session, Slot** slot);

    CK_STATE StateOf(const Session& session, const Slot& slot) const;
    CK_RV OpenSession(Slot& slot, CK_FLAGS flags, CK_SESSION_HANDLE* handle);
    void CloseSession(CK_SESSION_HANDLE handle);
    void CloseSlotSessions(CK_SLOT_ID slot);
    size_t SessionCount(CK_SLOT_ID slot, bool readWriteOnly) const;

    // An object the session may see: null for unknown handles, objects of
    // another slot and private objects while the user is not logged in.
    ObjectPtr FindObject(const Slot& slot, CK_OBJECT_HANDLE handle) const;
    bool Visible(const Slot& slot, const Object& object) const;
    // Every visible object of the slot, token objects first.
    std::vector<ObjectPtr> VisibleObjects(const Slot& slot) const;

    // Changes the token on disk: reloads it under the slot's lock, lets
    // `change` edit a copy and saves that copy. Nothing changes unless
    // `change` and the save both succeed.
    CK_RV ChangeToken(Slot& slot, const std::function<CK_RV(TokenData&)>& change);
    CK_OBJECT_HANDLE HandleOfStored(const Slot& slot, CK_ULONG storedId) const;

    CK_OBJECT_HANDLE NewObjectHandle() { return nextObjectHandle_++; }

private:
    void Reload(Slot& slot);
    void Adopt(Slot& slot, TokenData&& data);
    void DropToken(Slot& slot);

    CK_SESSION_HANDLE nextSessionHandle_ = 1;
    CK_OBJECT_HANDLE nextObjectHandle_ = 1;
    // Token objects keep their handle across reloads: (token, stored id).
    std::map<std::pair<uint64_t, CK_ULONG>, CK_OBJECT_HANDLE> storedHandles_;
};

// Takes the module lock and answers CKR_CRYPTOKI_NOT_INITIALIZED until
// C_Initialize ran: the first step of every entry point.
class Entry {
public:
    Entry() : module(Module::Get()), lock(module.mutex) {}
    CK_RV Check() const { return module.initialised ? CKR_OK : CKR_CRYPTOKI_NOT_INITIALIZED; }
    Module& module;
    std::unique_lock<std::mutex> lock;
};

}  // namespace softtoken
