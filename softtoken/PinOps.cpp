// Token initialisation, PIN setting and the user-PIN policy entries.
#include "Operations.h"
#include "OpsCommon.h"

namespace softtoken {
namespace ops {
namespace {

CK_RV StorePin(Module& module, Slot& slot, bool securityOfficer, const CK_UTF8CHAR* pin,
               CK_ULONG length) {
    PinRecord record;
    if (!MakePinRecord(pin, length, &record))
        return CKR_FUNCTION_FAILED;
    return module.ChangeToken(slot, [&](TokenData& data) {
        (securityOfficer ? data.soPin : data.userPin) = record;
        (securityOfficer ? data.soFailed : data.userFailed) = 0;
        return CKR_OK;
    });
}

CK_RV CheckSoPinLength(CK_ULONG length) {
    return length < kSoPinMinLen || length > kSoPinMaxLen ? CKR_PIN_LEN_RANGE : CKR_OK;
}

}  // namespace

CK_RV InitToken(CK_SLOT_ID id, CK_UTF8CHAR_PTR soPin, CK_ULONG soPinLen, CK_UTF8CHAR_PTR label) {
    Entry entry;
    if (CK_RV rv = entry.Check())
        return rv;
    Slot* slot = nullptr;
    if (CK_RV rv = entry.module.FindSlot(id, &slot))
        return rv;
    if (!soPin || !label)
        return CKR_ARGUMENTS_BAD;
    if (CK_RV rv = entry.module.RequireToken(*slot))
        return rv;
    if (entry.module.SessionCount(id, false) > 0)
        return CKR_SESSION_EXISTS;
    if (CK_RV rv = VerifyPin(entry.module, *slot, true, soPin, soPinLen))
        return rv;
    const std::string newLabel = Unpad(label, 32);
    return entry.module.ChangeToken(*slot, [&](TokenData& data) {
        data.objects.clear();
        data.userPin = PinRecord();
        data.userFailed = 0;
        data.label = newLabel;
        return CKR_OK;
    });
}

CK_RV InitPIN(CK_SESSION_HANDLE handle, CK_UTF8CHAR_PTR pin, CK_ULONG pinLen) {
    Entry entry;
    if (CK_RV rv = entry.Check())
        return rv;
    Session* session = nullptr;
    Slot* slot = nullptr;
    if (CK_RV rv = entry.module.FindSession(handle, &session, &slot))
        return rv;
    if (!pin)
        return CKR_ARGUMENTS_BAD;
    if (CK_RV rv = entry.module.RequireToken(*slot))
        return rv;
    if (entry.module.StateOf(*session, *slot) != CKS_RW_SO_FUNCTIONS)
        return CKR_USER_NOT_LOGGED_IN;
    if (CK_RV rv = CheckPinAgainstPolicy(slot->data.policy, pin, pinLen))
        return rv;
    return StorePin(entry.module, *slot, false, pin, pinLen);
}

CK_RV SetPIN(CK_SESSION_HANDLE handle, CK_UTF8CHAR_PTR oldPin, CK_ULONG oldLen,
             CK_UTF8CHAR_PTR newPin, CK_ULONG newLen) {
    Entry entry;
    if (CK_RV rv = entry.Check())
        return rv;
    Session* session = nullptr;
    Slot* slot = nullptr;
    if (CK_RV rv = entry.module.FindSession(handle, &session, &slot))
        return rv;
    if (!oldPin || !newPin)
        return CKR_ARGUMENTS_BAD;
    if (CK_RV rv = entry.module.RequireToken(*slot))
        return rv;
    if (!session->ReadWrite())
        return CKR_SESSION_READ_ONLY;
    if (slot->login == LoginState::None)
        return CKR_USER_TYPE_INVALID;
    const bool so = slot->login == LoginState::SecurityOfficer;
    CK_RV rv = so ? CheckSoPinLength(newLen) : CheckPinAgainstPolicy(slot->data.policy, newPin, newLen);
    if (rv != CKR_OK)
        return rv;
    if ((rv = VerifyPin(entry.module, *slot, so, oldPin, oldLen)) != CKR_OK)
        return rv;
    return StorePin(entry.module, *slot, so, newPin, newLen);
}

CK_RV SetUserPinPolicy(CK_SLOT_ID id, CK_SESSION_HANDLE handle, CK_ULONG level, CK_ULONG maxFailed,
                       CK_ULONG minLen, CK_ULONG maxLen) {
    Entry entry;
    if (CK_RV rv = entry.Check())
        return rv;
    Session* session = nullptr;
    Slot* slot = nullptr;
    if (CK_RV rv = entry.module.FindSession(handle, &session, &slot))
        return rv;
    if (id != session->slot)
        return id < entry.module.slots.size() ? CKR_SESSION_HANDLE_INVALID : CKR_SLOT_ID_INVALID;
    PinPolicy policy;
    policy.level = level;
    policy.maxFailed = maxFailed;
    policy.minLength = minLen;
    policy.maxLength = maxLen;
    if (CK_RV rv = CheckPolicyValues(policy))
        return rv;
    if (CK_RV rv = entry.module.RequireToken(*slot))
        return rv;
    if (slot->login != LoginState::SecurityOfficer)
        return CKR_USER_NOT_LOGGED_IN;
    return entry.module.ChangeToken(*slot, [&](TokenData& data) {
        data.policy = policy;
        return CKR_OK;
    });
}

CK_RV GetUserPinPolicy(CK_SLOT_ID id, CK_ULONG which, CK_ULONG_PTR level, CK_ULONG_PTR maxFailed,
                       CK_ULONG_PTR minLen, CK_ULONG_PTR maxLen) {
    Entry entry;
    if (CK_RV rv = entry.Check())
        return rv;
    Slot* slot = nullptr;
    if (CK_RV rv = entry.module.FindSlot(id, &slot))
        return rv;
    if (which != 1 || !level || !maxFailed || !minLen || !maxLen)
        return CKR_ARGUMENTS_BAD;
    if (CK_RV rv = entry.module.RequireToken(*slot))
        return rv;
    const PinPolicy& policy = slot->data.policy;
    *level = policy.level;
    *maxFailed = policy.maxFailed;
    *minLen = policy.minLength;
    *maxLen = policy.maxLength;
    return CKR_OK;
}

}  // namespace ops
}  // namespace softtoken
