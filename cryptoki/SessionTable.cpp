#include "cryptoki/SessionTable.h"

#include <cassert>

#include "cryptoki/ModuleLoader.h"

SessionTableRecord SessionTable;

namespace {

constexpr CK_FLAGS kReadWriteSession = CKF_SERIAL_SESSION | CKF_RW_SESSION;

}  // namespace

void SessionTableRecord::CheckOwner() const {
    assert((owner_ == 0 || owner_ == GetCurrentThreadId()) && "the session table is the window thread's");
}

CK_SESSION_HANDLE SessionTableRecord::operator[](int slot) const {
    CheckOwner();
    if (slot < 0 || !InTable(static_cast<CK_SLOT_ID>(slot)))
        return CK_INVALID_HANDLE;
    return sessions_[slot];
}

bool SessionTableRecord::Answers(CK_SLOT_ID slot) const {
    // A handle that the module has given out again, for a session of
    // another slot, is not this slot's.
    CK_SESSION_INFO info = {};
    return sessions_[slot] != CK_INVALID_HANDLE &&
           Cryptoki.FunctionList->C_GetSessionInfo(sessions_[slot], &info) == CKR_OK && info.slotID == slot;
}

CK_RV SessionTableRecord::OpenInto(CK_SLOT_ID slot) {
    CK_SESSION_HANDLE opened = CK_INVALID_HANDLE;
    const CK_RV rv = Cryptoki.FunctionList->C_OpenSession(slot, kReadWriteSession, nullptr, nullptr, &opened);
    sessions_[slot] = rv == CKR_OK ? opened : CK_INVALID_HANDLE;
    return rv;
}

CK_RV SessionTableRecord::Open(CK_SLOT_ID slot) {
    CheckOwner();
    if (!InTable(slot))
        return CKR_SLOT_ID_INVALID;
    // A dead handle is only forgotten: closing it could close whatever
    // session the module now calls by that number.
    if (sessions_[slot] != CK_INVALID_HANDLE && Answers(slot))
        Cryptoki.FunctionList->C_CloseSession(sessions_[slot]);
    return OpenInto(slot);
}

CK_RV SessionTableRecord::KeepOrOpen(CK_SLOT_ID slot) {
    CheckOwner();
    if (!InTable(slot))
        return CKR_SLOT_ID_INVALID;
    return Answers(slot) ? CKR_OK : OpenInto(slot);
}

void SessionTableRecord::CloseAll(CK_SLOT_ID slot) {
    CheckOwner();
    Cryptoki.FunctionList->C_CloseAllSessions(slot);
    if (InTable(slot))
        sessions_[slot] = CK_INVALID_HANDLE;
}

CK_RV SessionTableRecord::CloseAllAndReopen(CK_SLOT_ID slot) {
    CloseAll(slot);
    return Open(slot);
}
