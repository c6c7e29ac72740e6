// Counts the Cryptoki calls that the code under test makes through
// AppState.FunctionList, and forwards every one of them to the module the
// list came from. Installed for the counter's lifetime; one counter at a
// time. Used by tests (how many searches a command started, how the slot
// monitor waits) and by the listing benchmark (calls per object).
#pragma once

#include <string>

#include "cryptoki/Cryptoki.h"

class CallCounter {
public:
    CallCounter();
    ~CallCounter();
    CallCounter(const CallCounter&) = delete;
    CallCounter& operator=(const CallCounter&) = delete;

    // Calls of `function` ("C_FindObjects") since the last Reset. The two
    // kinds of wait are also counted apart: "C_WaitForSlotEvent:blocking"
    // and "C_WaitForSlotEvent:nonblocking".
    long Count(const std::string& function) const;
    // Every call of the standard and vendor entries.
    long Total() const;
    void Reset();
    // "C_FindObjects=3 C_GetAttributeValue=5 ...", the entries called.
    std::string Summary() const;
};
