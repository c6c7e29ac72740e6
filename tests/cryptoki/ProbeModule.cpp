// Misbehaving Cryptoki modules for the loader's failure paths. One source,
// built once per variant:
//   PROBE_NO_ENTRY        exports no C_GetFunctionList
//   PROBE_LIST_FAILS      C_GetFunctionList answers CKR_GENERAL_ERROR
//   PROBE_INIT_FAILS      C_Initialize answers CKR_DEVICE_ERROR
//   PROBE_CANT_LOCK       C_Initialize refuses locking arguments with CKR_CANT_LOCK
//   PROBE_NO_VENDOR       a list of the standard entries only, followed by
//                         bytes that are no entries: a pointer into the heap
//                         and a made-up value
//   PROBE_HEAP_LIST       a list with both vendor entries, handed out from
//                         a heap block instead of the module's image
//   PROBE_DATA_ENTRIES    vendor entries that point to the module's data
//   PROBE_VENDOR          vendor entries that are the module's own code
//   PROBE_MANY_SLOTS      a module of its own, for a program to start on:
//                         0x7FFFFFFF slots, none with a token, a blocking
//                         slot wait that C_Finalize ends, every other entry
//                         CKR_FUNCTION_NOT_SUPPORTED
//   (none)                C_Initialize succeeds
// Each records the C_Initialize calls it saw, for the tests to read. Every
// standard entry but C_Initialize is the software token's when that is
// loaded in the process, so that a program can run on the probe.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "cryptoki/Cryptoki.h"

namespace {

enum class Variant {
    Works, NoEntry, ListFails, InitFails, CantLock, NoVendor, HeapList, DataEntries, Vendor, ManySlots
};

constexpr Variant kVariant =
#if defined(PROBE_NO_ENTRY)
    Variant::NoEntry;
#elif defined(PROBE_LIST_FAILS)
    Variant::ListFails;
#elif defined(PROBE_INIT_FAILS)
    Variant::InitFails;
#elif defined(PROBE_CANT_LOCK)
    Variant::CantLock;
#elif defined(PROBE_NO_VENDOR)
    Variant::NoVendor;
#elif defined(PROBE_HEAP_LIST)
    Variant::HeapList;
#elif defined(PROBE_DATA_ENTRIES)
    Variant::DataEntries;
#elif defined(PROBE_VENDOR)
    Variant::Vendor;
#elif defined(PROBE_MANY_SLOTS)
    Variant::ManySlots;
#else
    Variant::Works;
#endif

struct InitializeRecord {
    long calls = 0;
    long firstHadArgs = -1;    // 1 when the first call passed arguments
    unsigned long firstFlags = 0;
    long lastHadArgs = -1;
};

InitializeRecord record;

// Policy values the probe's own getter answers, for tests to recognise.
constexpr CK_ULONG kProbePolicy[4] = {4, 9, 6, 20};

CK_RV ProbeInitialize(void* args) {
    ++record.calls;
    auto* initArgs = static_cast<CK_C_INITIALIZE_ARGS*>(args);
    if (record.calls == 1) {
        record.firstHadArgs = initArgs ? 1 : 0;
        record.firstFlags = initArgs ? initArgs->flags : 0;
    }
    record.lastHadArgs = initArgs ? 1 : 0;
    if (kVariant == Variant::InitFails)
        return CKR_DEVICE_ERROR;
    if (kVariant == Variant::CantLock && initArgs)
        return CKR_CANT_LOCK;
    return CKR_OK;
}

CK_RV ProbeSetUserPinPolicy(CK_SLOT_ID, CK_SESSION_HANDLE, CK_ULONG, CK_ULONG, CK_ULONG, CK_ULONG) {
    return CKR_OK;
}

CK_RV ProbeGetUserPinPolicy(CK_SLOT_ID, CK_ULONG, CK_ULONG_PTR level, CK_ULONG_PTR maxFailed,
                            CK_ULONG_PTR minLength, CK_ULONG_PTR maxLength) {
    *level = kProbePolicy[0];
    *maxFailed = kProbePolicy[1];
    *minLength = kProbePolicy[2];
    *maxLength = kProbePolicy[3];
    return CKR_OK;
}

// The standard list, with the software token's entries when it is loaded.
CK_FUNCTION_LIST StandardList() {
    CK_FUNCTION_LIST list = {};
    HMODULE softToken = GetModuleHandleW(L"tolvane11.dll");
    auto getList = softToken ? reinterpret_cast<CK_C_GetFunctionList>(reinterpret_cast<void*>(
                                   GetProcAddress(softToken, "C_GetFunctionList")))
                             : nullptr;
    CK_FUNCTION_LIST_PTR tokenList = nullptr;
    if (getList && getList(&tokenList) == CKR_OK && tokenList)
        list = *tokenList;
    list.version = {2, 20};
    list.C_Initialize = ProbeInitialize;
    return list;
}

#pragma pack(push, 1)
// A module without the vendor extension: its list ends at the last
// standard entry, and the next variable of its data follows.
struct StandardListAndNeighbours {
    CK_FUNCTION_LIST list;
    void* heapBlock;
    unsigned long long madeUp;
};
#pragma pack(pop)

StandardListAndNeighbours standardOnly = {};
VendorFunctionList functionList = {};
unsigned char someData[16] = {0xC3};

CK_FUNCTION_LIST_PTR StandardListFollowedByNoEntries() {
    standardOnly.list = StandardList();
    standardOnly.heapBlock = malloc(64);
    memset(standardOnly.heapBlock, 0xCC, 64);
    standardOnly.madeUp = 0x00007FFFDEADBEEFull;
    return &standardOnly.list;
}

// The many-slots module: it is the only module of its process, so it
// cannot lend the software token's entries.
constexpr CK_ULONG kManySlots = 0x7FFFFFFF;
HANDLE finalized = CreateEventW(nullptr, TRUE, FALSE, nullptr);

// Stands in for every entry the module lacks. On x64 one calling convention
// serves every signature, and the caller cleans up nothing.
CK_RV NotSupported() {
    return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV ManySlotsFinalize(void*) {
    SetEvent(finalized);
    return CKR_OK;
}

CK_RV ManySlotsGetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR, CK_ULONG_PTR count) {
    *count = tokenPresent ? 0 : kManySlots;
    return CKR_OK;
}

CK_RV ManySlotsWaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR, void*) {
    if (flags & CKF_DONT_BLOCK)
        return CKR_NO_EVENT;
    WaitForSingleObject(finalized, INFINITE);
    return CKR_CRYPTOKI_NOT_INITIALIZED;
}

CK_FUNCTION_LIST_PTR ManySlotsList() {
    static_cast<CK_FUNCTION_LIST&>(functionList) = {};
    auto* entries = reinterpret_cast<CK_RV (**)()>(&functionList.C_Initialize);
    auto* end = reinterpret_cast<CK_RV (**)()>(&functionList.C_WaitForSlotEvent) + 1;
    for (; entries != end; ++entries)
        *entries = NotSupported;
    functionList.version = {2, 20};
    functionList.C_Initialize = ProbeInitialize;
    functionList.C_Finalize = ManySlotsFinalize;
    functionList.C_GetSlotList = ManySlotsGetSlotList;
    functionList.C_WaitForSlotEvent = ManySlotsWaitForSlotEvent;
    return &functionList;
}

CK_FUNCTION_LIST_PTR MakeList() {
    if (kVariant == Variant::NoVendor)
        return StandardListFollowedByNoEntries();
    if (kVariant == Variant::ManySlots)
        return ManySlotsList();
    static_cast<CK_FUNCTION_LIST&>(functionList) = StandardList();
    if (kVariant == Variant::DataEntries) {
        functionList.C_SetUserPinPolicy = reinterpret_cast<CK_C_SetUserPinPolicy>(static_cast<void*>(someData));
        functionList.C_GetUserPinPolicy = reinterpret_cast<CK_C_GetUserPinPolicy>(static_cast<void*>(&record));
    } else if (kVariant == Variant::Vendor || kVariant == Variant::HeapList) {
        functionList.C_SetUserPinPolicy = ProbeSetUserPinPolicy;
        functionList.C_GetUserPinPolicy = ProbeGetUserPinPolicy;
    }
    if (kVariant != Variant::HeapList)
        return &functionList;
    auto* onHeap = static_cast<VendorFunctionList*>(malloc(sizeof(VendorFunctionList)));
    *onHeap = functionList;
    return onHeap;
}

CK_RV AnswerFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
    if (kVariant == Variant::ListFails)
        return CKR_GENERAL_ERROR;
    *list = MakeList();
    return CKR_OK;
}

}  // namespace

extern "C" {

__declspec(dllexport) void Probe_GetInitializeRecord(long* calls, long* firstHadArgs,
                                                     unsigned long* firstFlags, long* lastHadArgs) {
    *calls = record.calls;
    *firstHadArgs = record.firstHadArgs;
    *firstFlags = record.firstFlags;
    *lastHadArgs = record.lastHadArgs;
}

#if defined(PROBE_NO_ENTRY)
// The list under a name no loader looks for.
__declspec(dllexport) CK_RV Probe_ListUnderAnotherName(CK_FUNCTION_LIST_PTR_PTR list) {
    return AnswerFunctionList(list);
}
#else
__declspec(dllexport) CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
    return AnswerFunctionList(list);
}
#endif

}  // extern "C"
