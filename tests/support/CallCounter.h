// Counts the Cryptoki calls that the code under test makes through
// Cryptoki.FunctionList, and forwards every one of them to the module the
// list came from. Installed for the counter's lifetime; one counter at a
// time. Used by tests (how many searches a command started, how the slot
// monitor waits) and by the listing benchmark (calls per object). It can
// also hold a worker at a chosen call.
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

    // Stops the thread that makes the `nth` call of `function` from now
    // on (and any later caller of it) before the call reaches the module,
    // until Release. A test thereby catches a worker in the middle of its
    // run however fast the machine is.
    void HoldAt(const std::string& function, long nth);
    // True once a thread waits at the hold. The worker reaches it only
    // while the window thread takes its messages, so tests ask this
    // between pumps.
    bool Held() const;
    // Lets the held threads go on; the hold is gone. Also done by the
    // destructor, so that a failed test never leaves a worker stuck.
    void Release();
};
