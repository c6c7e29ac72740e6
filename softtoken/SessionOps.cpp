// Sessions, login and logout. The login state belongs to the token and is
// shared by all sessions of this process on it.
#include "OpsCommon.h"
#include "Operations.h"

namespace softtoken {
namespace ops {

// Checks a PIN against the token's record and keeps the failure count on
// disk: a wrong PIN counts up (and at the policy's limit locks the PIN), a
// right one sets the count back to zero.
CK_RV VerifyPin(Module& module, Slot& slot, bool securityOfficer, const CK_UTF8CHAR* pin,
                CK_ULONG length) {
    bool matched = false;
    CK_RV rv = module.ChangeToken(slot, [&](TokenData& data) {
        if (securityOfficer ? data.SoLocked() : data.UserLocked())
            return CKR_PIN_LOCKED;
        CK_ULONG& failed = securityOfficer ? data.soFailed : data.userFailed;
        matched = PinMatches(securityOfficer ? data.soPin : data.userPin, pin, length);
        if (matched && failed == 0)
            return kUnchanged;
        failed = matched ? 0 : failed + 1;
        return CKR_OK;
    });
    if (rv != CKR_OK)
        return rv;
    return matched ? CKR_OK : CKR_PIN_INCORRECT;
}

CK_RV OpenSession(CK_SLOT_ID id, CK_FLAGS flags, CK_VOID_PTR, CK_NOTIFY, CK_SESSION_HANDLE_PTR handle) {
    Entry entry;
    if (CK_RV rv = entry.Check())
        return rv;
    Slot* slot = nullptr;
    if (CK_RV rv = entry.module.FindSlot(id, &slot))
        return rv;
    if (!handle)
        return CKR_ARGUMENTS_BAD;
    if (!(flags & CKF_SERIAL_SESSION))
        return CKR_SESSION_PARALLEL_NOT_SUPPORTED;
    if (CK_RV rv = entry.module.RequireToken(*slot))
        return rv;
    if (slot->login == LoginState::SecurityOfficer && !(flags & CKF_RW_SESSION))
        return CKR_SESSION_READ_WRITE_SO_EXISTS;
    return entry.module.OpenSession(*slot, flags & (CKF_SERIAL_SESSION | CKF_RW_SESSION), handle);
}

CK_RV CloseSession(CK_SESSION_HANDLE handle) {
    Entry entry;
    if (CK_RV rv = entry.Check())
        return rv;
    Session* session = nullptr;
    Slot* slot = nullptr;
    if (CK_RV rv = entry.module.FindSession(handle, &session, &slot))
        return rv;
    entry.module.CloseSession(handle);
    return CKR_OK;
}

CK_RV CloseAllSessions(CK_SLOT_ID id) {
    Entry entry;
    if (CK_RV rv = entry.Check())
        return rv;
    Slot* slot = nullptr;
    if (CK_RV rv = entry.module.FindSlot(id, &slot))
        return rv;
    entry.module.Refresh(*slot);
    entry.module.CloseSlotSessions(id);
    slot->login = LoginState::None;
    return CKR_OK;
}

CK_RV GetSessionInfo(CK_SESSION_HANDLE handle, CK_SESSION_INFO_PTR info) {
    Entry entry;
    if (CK_RV rv = entry.Check())
        return rv;
    Session* session = nullptr;
    Slot* slot = nullptr;
    if (CK_RV rv = entry.module.FindSession(handle, &session, &slot))
        return rv;
    if (!info)
        return CKR_ARGUMENTS_BAD;
    info->slotID = session->slot;
    info->state = entry.module.StateOf(*session, *slot);
    info->flags = session->flags;
    info->ulDeviceError = 0;
    return CKR_OK;
}

CK_RV Login(CK_SESSION_HANDLE handle, CK_USER_TYPE user, CK_UTF8CHAR_PTR pin, CK_ULONG pinLen) {
    Entry entry;
    if (CK_RV rv = entry.Check())
        return rv;
    Session* session = nullptr;
    Slot* slot = nullptr;
    if (CK_RV rv = entry.module.FindSession(handle, &session, &slot))
        return rv;
    if (!pin)
        return CKR_ARGUMENTS_BAD;
    if (user == CKU_CONTEXT_SPECIFIC)
        return CKR_OPERATION_NOT_INITIALIZED;
    if (user != CKU_USER && user != CKU_SO)
        return CKR_USER_TYPE_INVALID;
    if (CK_RV rv = entry.module.RequireToken(*slot))
        return rv;
    const LoginState wanted = user == CKU_SO ? LoginState::SecurityOfficer : LoginState::User;
    if (slot->login == wanted)
        return CKR_USER_ALREADY_LOGGED_IN;
    if (slot->login != LoginState::None)
        return CKR_USER_ANOTHER_ALREADY_LOGGED_IN;
    if (wanted == LoginState::SecurityOfficer &&
        entry.module.SessionCount(slot->id, false) != entry.module.SessionCount(slot->id, true))
        return CKR_SESSION_READ_ONLY_EXISTS;
    if (wanted == LoginState::User && !slot->data.userPin.IsSet())
        return CKR_USER_PIN_NOT_INITIALIZED;
    CK_RV rv = VerifyPin(entry.module, *slot, wanted == LoginState::SecurityOfficer, pin, pinLen);
    if (rv == CKR_OK)
        slot->login = wanted;
    return rv;
}

CK_RV Logout(CK_SESSION_HANDLE handle) {
    Entry entry;
    if (CK_RV rv = entry.Check())
        return rv;
    Session* session = nullptr;
    Slot* slot = nullptr;
    if (CK_RV rv = entry.module.FindSession(handle, &session, &slot))
        return rv;
    if (slot->login == LoginState::None)
        return CKR_USER_NOT_LOGGED_IN;
    slot->login = LoginState::None;
    // Operations that needed the login end with it.
    for (auto& open : entry.module.sessions)
        if (open.second->slot == slot->id)
            open.second->sign = SignOperation();
    return CKR_OK;
}

}  // namespace ops
}  // namespace softtoken
