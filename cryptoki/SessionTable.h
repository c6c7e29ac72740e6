// The one read-write session of each slot, by slot ID.
//
// The table belongs to the window thread: start-up fills it, and the
// window thread alone opens, replaces and closes its sessions (slot events,
// Clear token, the end of a CSR run). A worker is handed the handle it
// needs when it starts and never looks here. Start-up names the owning
// thread; debug builds check that every later use comes from it.
#pragma once

#include <windows.h>

#include "cryptoki/Cryptoki.h"

constexpr int kMaxSlots = 64;

class SessionTableRecord {
public:
    // The thread that owns the table from now on (the window thread).
    void SetOwnerThread(DWORD threadId) { owner_ = threadId; }

    // The session of `slot`; CK_INVALID_HANDLE for a slot without one or
    // beyond the table.
    CK_SESSION_HANDLE operator[](int slot) const;

    // Opens a read-write session for `slot`. A live session the table held
    // for the slot is closed first; when the new one cannot be opened the
    // slot keeps none. The module's answer to C_OpenSession.
    CK_RV Open(CK_SLOT_ID slot);

    // For a token put into `slot`: keeps the slot's session when it still
    // answers C_GetSessionInfo for that slot (an event for a token that never
    // left), otherwise opens a new one as Open does. CKR_OK when the slot
    // has a session afterwards, otherwise C_OpenSession's answer.
    CK_RV KeepOrOpen(CK_SLOT_ID slot);

    // C_CloseAllSessions for `slot`, whose answer is not looked at; the
    // table forgets the slot's session, which went with it.
    void CloseAll(CK_SLOT_ID slot);

    // C_CloseAllSessions, then C_OpenSession into the table: the slot's
    // session replaced by a fresh public one. C_OpenSession's answer.
    CK_RV CloseAllAndReopen(CK_SLOT_ID slot);

private:
    void CheckOwner() const;
    // The slot's handle names a live session of that slot.
    bool Answers(CK_SLOT_ID slot) const;
    CK_RV OpenInto(CK_SLOT_ID slot);
    static bool InTable(CK_SLOT_ID slot) { return slot < static_cast<CK_SLOT_ID>(kMaxSlots); }

    CK_SESSION_HANDLE sessions_[kMaxSlots] = {};
    DWORD owner_ = 0;  // 0: not named yet, any thread
};

extern SessionTableRecord SessionTable;
