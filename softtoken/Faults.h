// Faults for tests: the n-th call of a named entry point (counted from when
// the fault was set, in this process) answers a chosen code instead of
// running; optionally every call from the n-th on. A removal fault instead
// takes a slot's token out just before the n-th call runs, so a test can
// pull the token at an exact point of an operation. The name "*" counts
// the calls of every entry point. Faults come from this
// process (SoftToken_SetFault) or from the store's control file, which the
// tool writes and every process rereads within about 15 ms of a change.
//
// Control file faults.txt, one fault a line:
//   <serial> <function> <nth> <return code, hex> once|repeat
// The function is a C_ name or a variant of the wait:
// C_WaitForSlotEvent:blocking or C_WaitForSlotEvent:nonblocking.
#pragma once

#include "Store.h"

#include <memory>
#include <mutex>

namespace softtoken {

struct Fault {
    uint64_t serial = 0;
    std::string function;
    CK_ULONG nth = 1;
    CK_RV rv = CKR_OK;
    bool repeat = false;
    bool removeToken = false;  // rv is then the slot whose token goes
    CK_ULONG calls = 0;
};

// What the faults make of one call.
struct FaultAction {
    bool answer = false;  // answer `rv` instead of running
    CK_RV rv = CKR_OK;
    bool removeToken = false;  // take the token of `slot` out, then run
    CK_SLOT_ID slot = 0;
};

class Faults {
public:
    static Faults& Get();

    void Set(const std::string& function, CK_ULONG nth, CK_RV rv, bool repeat);
    void SetRemoval(const std::string& function, CK_ULONG nth, CK_SLOT_ID slot);
    void Clear();
    // Faults of this process set to happen once that have not happened.
    CK_ULONG Pending();
    // The entry point whose call a fault last answered or removed a token
    // before; empty when none has yet.
    std::string LastHit();
    // The store whose control file applies; null for none.
    void UseStore(std::shared_ptr<Store> store);

    // Counts a call of `function` (and of `variant`, when given) and tells
    // what the faults do with it.
    FaultAction Take(const char* function, const char* variant);

private:
    void AddLocal(Fault fault);
    void PollControlFile();
    static bool Hit(Fault& fault);

    std::mutex mutex_;
    std::vector<Fault> local_;
    std::vector<Fault> fromFile_;
    uint64_t nextLocalSerial_ = 1;
    std::string lastHit_;
    std::shared_ptr<Store> store_;
    int64_t fileGeneration_ = -1;
    FileStamp fileStamp_;
    ULONGLONG lastPoll_ = 0;
};

// The control file's faults, and writing them back (under the store lock).
std::vector<Fault> ReadFaultFile(const Store& store);
CK_RV AddFaultToFile(Store& store, const std::string& function, CK_ULONG nth, CK_RV rv, bool repeat);
CK_RV ClearFaultFile(Store& store);

}  // namespace softtoken
