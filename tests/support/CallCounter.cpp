#include "support/CallCounter.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

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
HANDLE heldEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
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
    SetEvent(heldEvent);
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

// The recorded calls: the PIN and token entries record their arguments,
// then go through the counting thunk like every other entry.
std::mutex recordMutex;
std::vector<RecordedCall> recorded;

void Record(const RecordedCall& call) {
    std::lock_guard<std::mutex> lock(recordMutex);
    recorded.push_back(call);
}

RecordedCall Named(const char* function) {
    RecordedCall call;
    call.function = function;
    return call;
}

std::string Text(CK_UTF8CHAR_PTR bytes, CK_ULONG length) {
    return bytes ? std::string(reinterpret_cast<const char*>(bytes), length) : std::string();
}

// Entry `I` through its counting thunk, with the recorder's own arguments.
template <int I, typename... A>
CK_RV Forward(A... arguments) {
    return Thunk<I, CK_RV, A...>::Call(arguments...);
}

CK_RV RecordedLogin(CK_SESSION_HANDLE session, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pin, CK_ULONG length) {
    RecordedCall call = Named("C_Login");
    call.userType = userType;
    call.pin = Text(pin, length);
    call.pinAt = pin;
    Record(call);
    return Forward<k_C_Login>(session, userType, pin, length);
}

CK_RV RecordedLogout(CK_SESSION_HANDLE session) {
    Record(Named("C_Logout"));
    return Forward<k_C_Logout>(session);
}

CK_RV RecordedInitPin(CK_SESSION_HANDLE session, CK_UTF8CHAR_PTR pin, CK_ULONG length) {
    RecordedCall call = Named("C_InitPIN");
    call.pin = Text(pin, length);
    call.pinAt = pin;
    Record(call);
    return Forward<k_C_InitPIN>(session, pin, length);
}

CK_RV RecordedSetPin(CK_SESSION_HANDLE session, CK_UTF8CHAR_PTR oldPin, CK_ULONG oldLength, CK_UTF8CHAR_PTR newPin,
                     CK_ULONG newLength) {
    RecordedCall call = Named("C_SetPIN");
    call.pin = Text(oldPin, oldLength);
    call.newPin = Text(newPin, newLength);
    call.pinAt = oldPin;
    call.newPinAt = newPin;
    Record(call);
    return Forward<k_C_SetPIN>(session, oldPin, oldLength, newPin, newLength);
}

CK_RV RecordedInitToken(CK_SLOT_ID slot, CK_UTF8CHAR_PTR pin, CK_ULONG length, CK_UTF8CHAR_PTR label) {
    RecordedCall call = Named("C_InitToken");
    call.pin = Text(pin, length);
    call.pinAt = pin;
    call.label = Text(label, 32);
    Record(call);
    return Forward<k_C_InitToken>(slot, pin, length, label);
}

CK_RV RecordedCloseAllSessions(CK_SLOT_ID slot) {
    Record(Named("C_CloseAllSessions"));
    return Forward<k_C_CloseAllSessions>(slot);
}

CK_RV RecordedOpenSession(CK_SLOT_ID slot, CK_FLAGS flags, CK_VOID_PTR application, CK_NOTIFY notify,
                          CK_SESSION_HANDLE_PTR session) {
    Record(Named("C_OpenSession"));
    return Forward<k_C_OpenSession>(slot, flags, application, notify, session);
}

CK_RV RecordedSetUserPinPolicy(CK_SLOT_ID slot, CK_SESSION_HANDLE session, CK_ULONG level, CK_ULONG maxFailed,
                               CK_ULONG minLength, CK_ULONG maxLength) {
    RecordedCall call = Named("C_SetUserPinPolicy");
    call.numbers[0] = level;
    call.numbers[1] = maxFailed;
    call.numbers[2] = minLength;
    call.numbers[3] = maxLength;
    Record(call);
    return Forward<k_C_SetUserPinPolicy>(slot, session, level, maxFailed, minLength, maxLength);
}

// Puts the recorder in place of an entry the module has.
template <typename F>
void RecordThrough(F*& entry, F* recorder) {
    if (entry)
        entry = recorder;
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
    RecordThrough(counted.C_Login, RecordedLogin);
    RecordThrough(counted.C_Logout, RecordedLogout);
    RecordThrough(counted.C_InitPIN, RecordedInitPin);
    RecordThrough(counted.C_SetPIN, RecordedSetPin);
    RecordThrough(counted.C_InitToken, RecordedInitToken);
    RecordThrough(counted.C_CloseAllSessions, RecordedCloseAllSessions);
    RecordThrough(counted.C_OpenSession, RecordedOpenSession);
    RecordThrough(counted.C_SetUserPinPolicy, RecordedSetUserPinPolicy);
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
    std::lock_guard<std::mutex> lock(recordMutex);
    recorded.clear();
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
    ResetEvent(heldEvent);
    threadHeld = false;
    callsBeforeHold = nth - 1;
    heldEntry = entry;
}

bool CallCounter::Held() const {
    return threadHeld;
}

bool CallCounter::WaitHeld(DWORD timeoutMs) const {
    return WaitForSingleObject(heldEvent, timeoutMs) == WAIT_OBJECT_0;
}

void CallCounter::Release() {
    heldEntry = -1;
    SetEvent(releaseEvent);
}

std::vector<RecordedCall> CallCounter::Calls() const {
    std::lock_guard<std::mutex> lock(recordMutex);
    return recorded;
}

std::vector<RecordedCall> CallCounter::CallsOf(const std::string& function) const {
    std::vector<RecordedCall> calls;
    for (const RecordedCall& call : Calls())
        if (call.function == function)
            calls.push_back(call);
    return calls;
}

std::string CallCounter::Sequence() const {
    std::string sequence;
    for (const RecordedCall& call : Calls())
        sequence += (sequence.empty() ? "" : " ") + call.function;
    return sequence;
}
