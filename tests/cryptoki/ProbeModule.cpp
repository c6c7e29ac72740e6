// Misbehaving Cryptoki modules for the loader's failure paths. One source,
// built once per variant:
//   PROBE_NO_ENTRY        exports no C_GetFunctionList
//   PROBE_LIST_FAILS      C_GetFunctionList answers CKR_GENERAL_ERROR
//   PROBE_INIT_FAILS      C_Initialize answers CKR_DEVICE_ERROR
//   PROBE_CANT_LOCK       C_Initialize refuses locking arguments with CKR_CANT_LOCK
//   (none)                C_Initialize succeeds
// Each records the C_Initialize calls it saw, for the tests to read.
#include <windows.h>

#include "cryptoki/Cryptoki.h"

namespace {

struct InitializeRecord {
    long calls = 0;
    long firstHadArgs = -1;    // 1 when the first call passed arguments
    unsigned long firstFlags = 0;
    long lastHadArgs = -1;
};

InitializeRecord record;

CK_RV ProbeInitialize(void* args) {
    ++record.calls;
    auto* initArgs = static_cast<CK_C_INITIALIZE_ARGS*>(args);
    if (record.calls == 1) {
        record.firstHadArgs = initArgs ? 1 : 0;
        record.firstFlags = initArgs ? initArgs->flags : 0;
    }
    record.lastHadArgs = initArgs ? 1 : 0;
#if defined(PROBE_INIT_FAILS)
    return CKR_DEVICE_ERROR;
#elif defined(PROBE_CANT_LOCK)
    return initArgs ? CKR_CANT_LOCK : CKR_OK;
#else
    return CKR_OK;
#endif
}

VendorFunctionList functionList = [] {
    VendorFunctionList list = {};
    list.version = {2, 20};
    list.C_Initialize = ProbeInitialize;
    return list;
}();

}  // namespace

extern "C" {

__declspec(dllexport) void Probe_GetInitializeRecord(long* calls, long* firstHadArgs,
                                                     unsigned long* firstFlags, long* lastHadArgs) {
    *calls = record.calls;
    *firstHadArgs = record.firstHadArgs;
    *firstFlags = record.firstFlags;
    *lastHadArgs = record.lastHadArgs;
}

#if !defined(PROBE_NO_ENTRY)
__declspec(dllexport) CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
#if defined(PROBE_LIST_FAILS)
    (void)list;
    return CKR_GENERAL_ERROR;
#else
    *list = &functionList;
    return CKR_OK;
#endif
}
#endif

}  // extern "C"
