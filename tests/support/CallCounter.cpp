#include "support/CallCounter.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "app/AppState.h"
#include "cryptoki/ModuleLoader.h"

namespace {

// The entries of the vendor's list, in their order in it.
#define CRYPTOKI_ENTRIES(X)                                                                                \
    X(C_Initialize) X(C_Finalize) X(C_GetInfo) X(C_GetFunctionList) X(C_GetSlotList) X(C_GetSlotInfo)     \
    X(C_GetTokenInfo) X(C_GetMechanismList) X(C_GetMechanismInfo) X(C_InitToken) X(C_InitPIN) X(C_SetPIN) \
    X(C_OpenSession) X(C_CloseSession) X(C_CloseAllSessions) X(C_GetSessionInfo) X(C_GetOperationState)  \
    X(C_SetOperationState) X(C_Login) X(C_Logout) X(C_CreateObject) X(C_CopyObject) X(C_DestroyObject)   \
    X(C_GetObjectSize) X(C_GetAttributeValue) X(C_SetAttributeValue) X(C_FindObjectsInit)                \
    X(C_FindObjects) X(C_FindObjectsFinal) X(C_EncryptInit) X(C_Encrypt) X(C_EncryptUpdate)              \
    X(C_EncryptFinal) X(C_DecryptInit) X(C_Decrypt) X(C_DecryptUpdate) X(C_DecryptFinal) X(C_DigestInit) \
    X(C_Digest) X(C_DigestUpdate) X(C_DigestKey) X(C_DigestFinal) X(C_SignInit) X(C_Sign)                \
    X(C_SignUpdate) X(C_SignFinal) X(C_SignRecoverInit) X(C_SignRecover) X(C_VerifyInit) X(C_Verify)     \
    X(C_VerifyUpdate) X(C_VerifyFinal) X(C_VerifyRecoverInit) X(C_VerifyRecover)                         \
    X(C_DigestEncryptUpdate) X(C_DecryptDigestUpdate) X(C_SignEncryptUpdate) X(C_DecryptVerifyUpdate)    \
    X(C_GenerateKey) X(C_GenerateKeyPair) X(C_WrapKey) X(C_UnwrapKey) X(C_DeriveKey) X(C_SeedRandom)     \
    X(C_GenerateRandom) X(C_GetFunctionStatus) X(C_CancelFunction) X(C_WaitForSlotEvent)                 \
    X(C_SetUserPinPolicy) X(C_GetUserPinPolicy)

enum Entry {
#define ENTRY_INDEX(name) k_##name,
    CRYPTOKI_ENTRIES(ENTRY_INDEX)
#undef ENTRY_INDEX
    kEntryCount,
    kBlockingWait = kEntryCount,
    kNonBlockingWait,
    kCounterCount
};

static_assert(kEntryCount == sizeof(VendorFunctionList) / sizeof(void*), "every entry of the list is counted");

const char* const kEntryNames[kCounterCount] = {
#define ENTRY_NAME(name) #name,
    CRYPTOKI_ENTRIES(ENTRY_NAME)
#undef ENTRY_NAME
    "C_WaitForSlotEvent:blocking",
    "C_WaitForSlotEvent:nonblocking",
};

std::atomic<long> counts[kCounterCount];
void* realEntries[kEntryCount];  // the module's entries, by index
VendorFunctionList* original = nullptr;
VendorFunctionList counted;

// The hold: the entry it waits at (-1 for none), the calls of that entry
// still let through, whether a thread waits, and what lets it go.
std::atomic<int> heldEntry{-1};
std::atomic<long> callsBeforeHold{0};
std::atomic<bool> threadHeld{false};
HANDLE releaseEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);

// A held thread waits at most this long, so that a test that never
// releases it fails instead of hanging.
constexpr DWORD kLongestHoldMs = 60000;

// The counter of `function` (an entry, or one kind of wait); -1 for none.
int CounterIndex(const std::string& function) {
    for (int i = 0; i < kCounterCount; ++i)
        if (function == kEntryNames[i])
            return i;
    return -1;
}

void HoldIfDue(int entry) {
    if (entry != heldEntry.load() || --callsBeforeHold >= 0)
        return;
    threadHeld = true;
    WaitForSingleObject(releaseEvent, kLongestHoldMs);
}

// Counts entry `I` and calls the module's entry with the same arguments.
template <int I, typename R, typename... A>
struct Thunk {
    static R Call(A... arguments) {
        ++counts[I];
        HoldIfDue(I);
        return reinterpret_cast<R (*)(A...)>(realEntries[I])(arguments...);
    }
};

// The thunk for entry `I`; the argument only gives the entry's type.
template <int I, typename R, typename... A>
R (*ThunkFor(R (*)(A...)))(A...) {
    return &Thunk<I, R, A...>::Call;
}

CK_RV CountedWait(CK_FLAGS flags, CK_SLOT_ID_PTR slot, CK_VOID_PTR reserved) {
    ++counts[(flags & CKF_DONT_BLOCK) ? kNonBlockingWait : kBlockingWait];
    return Thunk<k_C_WaitForSlotEvent, CK_RV, CK_FLAGS, CK_SLOT_ID_PTR, CK_VOID_PTR>::Call(flags, slot, reserved);
}

}  // namespace

CallCounter::CallCounter() {
    original = Cryptoki.FunctionList;
    if (!original)
        return;
    // The list is packed: the entries follow the version as plain pointers.
    const unsigned char* first = reinterpret_cast<const unsigned char*>(original) + sizeof(CK_VERSION);
    memcpy(realEntries, first, sizeof realEntries);
    // The order of the entry names above is the order of the list.
#define CHECK_ORDER(name) \
    if (realEntries[k_##name] != reinterpret_cast<void*>(original->name)) \
        abort();
    CRYPTOKI_ENTRIES(CHECK_ORDER)
#undef CHECK_ORDER
    counted = *original;
    // A missing entry stays missing: the code under test must see it so.
#define INSTALL(name) counted.name = counted.name ? ThunkFor<k_##name>(counted.name) : nullptr;
    CRYPTOKI_ENTRIES(INSTALL)
#undef INSTALL
    counted.C_WaitForSlotEvent = CountedWait;
    Reset();
    Cryptoki.FunctionList = &counted;
}

CallCounter::~CallCounter() {
    Release();
    if (Cryptoki.FunctionList == &counted)
        Cryptoki.FunctionList = original;
}

long CallCounter::Count(const std::string& function) const {
    const int counter = CounterIndex(function);
    return counter < 0 ? 0 : counts[counter].load();
}

long CallCounter::Total() const {
    long total = 0;
    for (int i = 0; i < kEntryCount; ++i)
        total += counts[i];
    return total;
}

void CallCounter::Reset() {
    for (std::atomic<long>& count : counts)
        count = 0;
}

std::string CallCounter::Summary() const {
    std::string text;
    for (int i = 0; i < kEntryCount; ++i) {
        if (counts[i] == 0)
            continue;
        if (!text.empty())
            text += ' ';
        text += std::string(kEntryNames[i]) + "=" + std::to_string(counts[i].load());
    }
    return text;
}

void CallCounter::HoldAt(const std::string& function, long nth) {
    const int entry = CounterIndex(function);
    if (entry < 0 || entry >= kEntryCount)
        abort();  // not an entry of the list: the test is wrong
    ResetEvent(releaseEvent);
    threadHeld = false;
    callsBeforeHold = nth - 1;
    heldEntry = entry;
}

bool CallCounter::Held() const {
    return threadHeld;
}

void CallCounter::Release() {
    heldEntry = -1;
    SetEvent(releaseEvent);
}
