// Managing the software token's store and injecting faults, in process.
// The tool softtoken.exe is built on these functions; tests call them
// directly (GetProcAddress on tolvane11.dll) instead of starting the tool.
// Every function works on the store the module would use (see
// SoftToken_SetStorePath) whether or not C_Initialize was called; a
// running module sees the changes as another process would.
#pragma once

#include "cryptoki/Cryptoki.h"

#ifdef CRYPTOKI_EXPORTS
#define SOFTTOKEN_API extern "C" __declspec(dllexport)
#else
#define SOFTTOKEN_API extern "C" __declspec(dllimport)
#endif

// A new token. Null strings and zero numbers take the defaults noted.
struct SoftTokenParams {
    const char* label;          // required, at most 32 characters
    const char* serial;         // required, at most 16 characters
    const char* soPin;          // "tolvane"
    const char* userPin;        // none: the PIN is not initialised
    const char* manufacturer;   // "Tolvane", at most 32 characters
    const char* model;          // "SoftToken", at most 16 characters
    CK_VERSION hardware;        // 1.0
    CK_VERSION firmware;        // 1.0
    CK_ULONG capacity;          // 65536 bytes of object data
};

// SoftToken_GetSlotState answers.
#define SOFTTOKEN_SLOT_EMPTY 0UL
#define SOFTTOKEN_SLOT_PRESENT 1UL
#define SOFTTOKEN_SLOT_REMOVED 2UL

// Fault flag: every call from the n-th on fails, not the n-th alone.
#define SOFTTOKEN_FAULT_REPEAT 1UL
// Fault flag: the n-th call is not refused; the token of slot `rv` is taken
// out just before it runs (in-process faults only).
#define SOFTTOKEN_FAULT_REMOVE_TOKEN 2UL

// The store folder for later calls and the next C_Initialize; null goes
// back to TOLVANE_SOFTTOKEN_STORE or the default folder.
SOFTTOKEN_API CK_RV SoftToken_SetStorePath(const wchar_t* folder);
// Makes the store with `slotCount` slots (1 to 64).
SOFTTOKEN_API CK_RV SoftToken_InitStore(CK_ULONG slotCount);
SOFTTOKEN_API CK_RV SoftToken_GetSlotCount(CK_ULONG* slotCount);

// Puts a new, empty token in the slot, replacing any token there.
SOFTTOKEN_API CK_RV SoftToken_CreateToken(CK_SLOT_ID slot, const SoftTokenParams* params);
// Takes the token out of the slot; its data is kept for SoftToken_InsertToken.
SOFTTOKEN_API CK_RV SoftToken_RemoveToken(CK_SLOT_ID slot);
SOFTTOKEN_API CK_RV SoftToken_InsertToken(CK_SLOT_ID slot);
SOFTTOKEN_API CK_RV SoftToken_GetSlotState(CK_SLOT_ID slot, CK_ULONG* state);
// One line about the slot and its token, for listings.
SOFTTOKEN_API CK_RV SoftToken_DescribeSlot(CK_SLOT_ID slot, char* text, CK_ULONG size);

// Personalisation: sets the user PIN (no SO login; unblocks it too).
SOFTTOKEN_API CK_RV SoftToken_SetUserPin(CK_SLOT_ID slot, const char* pin);
SOFTTOKEN_API CK_RV SoftToken_SetPolicy(CK_SLOT_ID slot, CK_ULONG level, CK_ULONG maxFailed,
                                        CK_ULONG minLen, CK_ULONG maxLen);
SOFTTOKEN_API CK_RV SoftToken_SetCapacity(CK_SLOT_ID slot, CK_ULONG bytes);
// Stores token objects without a login; `count[i]` attributes in `templates[i]`.
SOFTTOKEN_API CK_RV SoftToken_AddObjects(CK_SLOT_ID slot, const CK_ATTRIBUTE* const* templates,
                                         const CK_ULONG* counts, CK_ULONG objectCount);
// An RSA key pair on the token (private key private and sensitive).
SOFTTOKEN_API CK_RV SoftToken_GenerateKeyPair(CK_SLOT_ID slot, CK_ULONG bits, const char* label,
                                              const unsigned char* id, CK_ULONG idLen);

// Faults of this process: the `nth` call of `function` from now on
// answers `rv`. `function` is a C_ name, C_WaitForSlotEvent:blocking,
// C_WaitForSlotEvent:nonblocking, or "*" for the calls of every entry.
SOFTTOKEN_API CK_RV SoftToken_SetFault(const char* function, CK_ULONG nth, CK_RV rv);
SOFTTOKEN_API CK_RV SoftToken_SetFaultEx(const char* function, CK_ULONG nth, CK_RV rv, CK_ULONG flags);
SOFTTOKEN_API CK_RV SoftToken_ClearFaults(void);
// How many faults of this process set to happen once have not happened
// yet: a test learns whether an operation got as far as the n-th call.
SOFTTOKEN_API CK_RV SoftToken_PendingFaults(CK_ULONG* count);
// The slot events of this process: how many looks at the slots the watcher
// has made, how many events wait to be taken, and the look at which a
// caller of C_WaitForSlotEvent last stood with nothing to take (the current
// look while one blocks; a caller that polls, at its last CKR_NO_EVENT).
// A test learns from it that a slot monitor has taken every change made
// before it asked: nothing queued, and the monitor idle at a look that
// began after the change.
SOFTTOKEN_API CK_RV SoftToken_GetSlotEventState(CK_ULONG* looks, CK_ULONG* pending, CK_ULONG* idleLook);
// Waits until that state differs from the one passed in, or `timeoutMs`
// has passed, and writes the state of then: CKR_OK when it changed,
// CKR_NO_EVENT when the time ran out. A test waits on it instead of asking
// again and again.
SOFTTOKEN_API CK_RV SoftToken_WaitSlotEventState(CK_ULONG* looks, CK_ULONG* pending, CK_ULONG* idleLook,
                                                 CK_ULONG timeoutMs);
// The C_ name of the call a fault of this process last answered (or pulled
// the token before), NUL-terminated in `name`; "" when none has. Cleared
// with the faults.
SOFTTOKEN_API CK_RV SoftToken_LastFaultFunction(char* name, CK_ULONG size);
// The same through the store's control file, for every process on it.
SOFTTOKEN_API CK_RV SoftToken_AddStoreFault(const char* function, CK_ULONG nth, CK_RV rv, CK_ULONG flags);
SOFTTOKEN_API CK_RV SoftToken_ClearStoreFaults(void);
