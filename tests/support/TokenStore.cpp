#include "support/TokenStore.h"

#include "app/AppState.h"
#include "cryptoki/ModuleLoader.h"

namespace {

std::wstring ModulePath() {
    return BinFolder() + L"\\tolvane11.dll";
}

template <typename T>
void Resolve(HMODULE module, const char* name, T* function) {
    *function = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

SoftTokenFunctions LoadControl() {
    SoftTokenFunctions f;
    HMODULE module = LoadLibraryW(ModulePath().c_str());
    if (!module)
        return f;
    Resolve(module, "SoftToken_SetStorePath", &f.SetStorePath);
    Resolve(module, "SoftToken_InitStore", &f.InitStore);
    Resolve(module, "SoftToken_CreateToken", &f.CreateToken);
    Resolve(module, "SoftToken_RemoveToken", &f.RemoveToken);
    Resolve(module, "SoftToken_GetSlotState", &f.GetSlotState);
    Resolve(module, "SoftToken_InsertToken", &f.InsertToken);
    Resolve(module, "SoftToken_SetUserPin", &f.SetUserPin);
    Resolve(module, "SoftToken_SetPolicy", &f.SetPolicy);
    Resolve(module, "SoftToken_SetCapacity", &f.SetCapacity);
    Resolve(module, "SoftToken_AddObjects", &f.AddObjects);
    Resolve(module, "SoftToken_GenerateKeyPair", &f.GenerateKeyPair);
    Resolve(module, "SoftToken_SetFault", &f.SetFault);
    Resolve(module, "SoftToken_SetFaultEx", &f.SetFaultEx);
    Resolve(module, "SoftToken_ClearFaults", &f.ClearFaults);
    Resolve(module, "SoftToken_PendingFaults", &f.PendingFaults);
    Resolve(module, "SoftToken_GetSlotEventState", &f.GetSlotEventState);
    Resolve(module, "SoftToken_WaitSlotEventState", &f.WaitSlotEventState);
    Resolve(module, "SoftToken_LastFaultFunction", &f.LastFaultFunction);
    Resolve(module, "SoftToken_AddStoreFault", &f.AddStoreFault);
    Resolve(module, "SoftToken_ClearStoreFaults", &f.ClearStoreFaults);
    return f;
}

}  // namespace

const SoftTokenFunctions& TokenStore::Control() {
    static const SoftTokenFunctions functions = LoadControl();
    return functions;
}

SlotEventState CurrentSlotEventState() {
    SlotEventState state;
    TokenStore::Control().GetSlotEventState(&state.looks, &state.pending, &state.idleLook);
    return state;
}

bool WaitForSlotEventState(const std::function<bool(const SlotEventState&)>& done, DWORD timeoutMs) {
    SlotEventState state = CurrentSlotEventState();
    const ULONGLONG until = GetTickCount64() + timeoutMs;
    while (!done(state)) {
        const ULONGLONG now = GetTickCount64();
        if (now >= until)
            return false;
        TokenStore::Control().WaitSlotEventState(&state.looks, &state.pending, &state.idleLook,
                                                 static_cast<CK_ULONG>(until - now));
    }
    return true;
}

TokenStore::TokenStore(CK_ULONG slotCount) {
    const SoftTokenFunctions& f = Control();
    if (f.SetStorePath && f.InitStore) {
        f.SetStorePath(folder_.Path().c_str());
        f.InitStore(slotCount);
    }
}

TokenStore::~TokenStore() {
    if (loaded_ && Cryptoki.FunctionList) {
        Control().ClearFaults();
        Cryptoki.FunctionList->C_Finalize(nullptr);
    }
    AppState = AppStateRecord();
    SessionTable = SessionTableRecord();
    Cryptoki = CryptokiModuleRecord();
    if (Control().SetStorePath)
        Control().SetStorePath(nullptr);
}

bool TokenStore::AddToken(CK_SLOT_ID slot, const char* label, const char* serial,
                          const char* userPin) {
    SoftTokenParams params = {};
    params.label = label;
    params.serial = serial;
    params.userPin = userPin;
    return AddToken(slot, params);
}

bool TokenStore::AddToken(CK_SLOT_ID slot, const SoftTokenParams& params) {
    return Control().CreateToken && Control().CreateToken(slot, &params) == CKR_OK;
}

bool TokenStore::LoadModule() {
    loaded_ = LoadCryptokiModuleFrom(ModulePath().c_str()) == kModuleLoaded;
    return loaded_;
}

bool TokenStore::OpenSession(CK_SLOT_ID slot) {
    return Cryptoki.FunctionList && SessionTable.Open(slot) == CKR_OK;
}
