// A software-token store of the test's own, and the program's Cryptoki
// layer loaded on it: the module tolvane11.dll from the build's bin folder,
// initialised through LoadCryptokiModuleFrom, its function list in AppState.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "softtoken/SoftTokenControl.h"
#include "support/TestFiles.h"

// The management and fault functions of tolvane11.dll, found by name.
struct SoftTokenFunctions {
    decltype(&SoftToken_SetStorePath) SetStorePath = nullptr;
    decltype(&SoftToken_InitStore) InitStore = nullptr;
    decltype(&SoftToken_CreateToken) CreateToken = nullptr;
    decltype(&SoftToken_RemoveToken) RemoveToken = nullptr;
    decltype(&SoftToken_GetSlotState) GetSlotState = nullptr;
    decltype(&SoftToken_InsertToken) InsertToken = nullptr;
    decltype(&SoftToken_SetUserPin) SetUserPin = nullptr;
    decltype(&SoftToken_SetPolicy) SetPolicy = nullptr;
    decltype(&SoftToken_SetCapacity) SetCapacity = nullptr;
    decltype(&SoftToken_AddObjects) AddObjects = nullptr;
    decltype(&SoftToken_GenerateKeyPair) GenerateKeyPair = nullptr;
    decltype(&SoftToken_SetFault) SetFault = nullptr;
    decltype(&SoftToken_SetFaultEx) SetFaultEx = nullptr;
    decltype(&SoftToken_ClearFaults) ClearFaults = nullptr;
    decltype(&SoftToken_PendingFaults) PendingFaults = nullptr;
    decltype(&SoftToken_GetSlotEventState) GetSlotEventState = nullptr;
    decltype(&SoftToken_WaitSlotEventState) WaitSlotEventState = nullptr;
    decltype(&SoftToken_LastFaultFunction) LastFaultFunction = nullptr;
    decltype(&SoftToken_AddStoreFault) AddStoreFault = nullptr;
    decltype(&SoftToken_ClearStoreFaults) ClearStoreFaults = nullptr;
};

constexpr char kTestUserPin[] = "1234";

// The slot-event state of this process (SoftToken_GetSlotEventState).
struct SlotEventState {
    CK_ULONG looks = 0;
    CK_ULONG pending = 0;
    CK_ULONG idleLook = 0;
};
SlotEventState CurrentSlotEventState();
// Waits, on the module's own notice of each change, until `done` holds for
// the state (true) or `timeoutMs` has passed (false).
bool WaitForSlotEventState(const std::function<bool(const SlotEventState&)>& done, DWORD timeoutMs = 5000);

class TokenStore {
public:
    explicit TokenStore(CK_ULONG slotCount = 4);
    ~TokenStore();
    TokenStore(const TokenStore&) = delete;
    TokenStore& operator=(const TokenStore&) = delete;

    // A token with a user PIN (kTestUserPin unless another or null is given).
    bool AddToken(CK_SLOT_ID slot, const char* label, const char* serial,
                  const char* userPin = kTestUserPin);
    bool AddToken(CK_SLOT_ID slot, const SoftTokenParams& params);

    // Loads and initialises the module for the program's code (AppState).
    bool LoadModule();
    // Opens the slot's R/W session into SessionTable.
    bool OpenSession(CK_SLOT_ID slot);

    const std::wstring& Path() const { return folder_.Path(); }
    static const SoftTokenFunctions& Control();

private:
    TempFolder folder_;
    bool loaded_ = false;
};
