#include "CryptokiLink.h"

#include <cstring>
#include <vector>

#include "LibraryState.h"
#include "PkeStatus.h"

namespace softpke {
namespace {

constexpr int kConfigurationNotSet = 529;  // "Configuration cannot be set."

// Initialises the module for threads that the OS locks; a module that the
// program initialised already answers CKR_CRYPTOKI_ALREADY_INITIALIZED.
int InitialiseModule(LibraryState* state) {
    CK_C_INITIALIZE_ARGS arguments = {};
    arguments.flags = CKF_OS_LOCKING_OK;
    const CK_RV rv = state->functions->C_Initialize(&arguments);
    if (rv == CKR_OK) {
        // The module was not initialised, so no session of ours survived:
        // forget the handle rather than close whatever now carries it.
        state->session = CK_INVALID_HANDLE;
        state->loggedIn = false;
    }
    return rv == CKR_OK || rv == CKR_CRYPTOKI_ALREADY_INITIALIZED ? kPkeOk : kPkeInitializeFailed;
}

int LoadModule(const char* moduleName, LibraryState* state) {
    // A bare name finds the module the program has loaded already. The
    // reference is kept for the rest of the process: releasing it while
    // this library unloads could run the module's own unloading inside ours.
    HMODULE module = LoadLibraryA(moduleName);
    if (!module)
        return kPkeCryptokiNotFound;
    auto getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(
        reinterpret_cast<void*>(GetProcAddress(module, "C_GetFunctionList")));
    CK_FUNCTION_LIST_PTR functions = nullptr;
    if (!getFunctionList || getFunctionList(&functions) != CKR_OK || !functions) {
        FreeLibrary(module);
        return kPkeCryptokiUnusable;
    }
    state->module = module;
    state->moduleName = moduleName;
    state->functions = functions;
    return kPkeOk;
}

}  // namespace

int LinkCryptoki(const char* moduleName, const char* configuration) {
    LibraryState& state = State();
    if (!moduleName || !*moduleName)
        return kPkeNullParameter;
    if (!state.initialised)
        return kPkeNotInitialised;
    if (configuration && *configuration)
        return kConfigurationNotSet;
    if (!state.functions) {
        if (int status = LoadModule(moduleName, &state))
            return status;
    } else if (_stricmp(state.moduleName.c_str(), moduleName) != 0) {
        return kPkeCryptokiLoaded;
    }
    // Again on every call: the program may have finalised and initialised
    // the module since.
    return InitialiseModule(&state);
}

void CloseLibrarySession() {
    LibraryState& state = State();
    if (state.session != CK_INVALID_HANDLE && state.functions)
        state.functions->C_CloseSession(state.session);
    state.session = CK_INVALID_HANDLE;
    state.loggedIn = false;
}

namespace {

// The slot of the `index`-th slot that holds a token.
CK_RV SlotWithToken(CK_FUNCTION_LIST_PTR functions, int index, CK_SLOT_ID* slot) {
    CK_ULONG count = 0;
    CK_RV rv = functions->C_GetSlotList(CK_TRUE, nullptr, &count);
    std::vector<CK_SLOT_ID> slots(count);
    if (rv == CKR_OK && count)
        rv = functions->C_GetSlotList(CK_TRUE, slots.data(), &count);
    if (rv != CKR_OK)
        return rv;
    if (index < 0 || static_cast<CK_ULONG>(index) >= count)
        return CKR_SLOT_ID_INVALID;
    *slot = slots[index];
    return CKR_OK;
}

}  // namespace

int LoginUser(int userType, int slotIndex, const char* pin) {
    LibraryState& state = State();
    if (!state.initialised)
        return kPkeNotInitialised;
    if (!state.functions)
        return kPkeNoCryptoki;
    if (!pin)
        return kPkeNullParameter;
    CloseLibrarySession();

    CK_FUNCTION_LIST_PTR f = state.functions;
    CK_SLOT_ID slot = 0;
    CK_RV rv = SlotWithToken(f, slotIndex, &slot);
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    if (rv == CKR_OK)
        rv = f->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session);
    if (rv != CKR_OK)
        return static_cast<int>(rv);
    rv = f->C_Login(session, static_cast<CK_USER_TYPE>(userType),
                    reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin)),
                    static_cast<CK_ULONG>(strlen(pin)));
    if (rv != CKR_OK) {
        f->C_CloseSession(session);
        return static_cast<int>(rv);
    }
    state.session = session;
    state.slot = slot;
    state.loggedIn = true;
    return kPkeOk;
}

}  // namespace softpke
