// Counts the Cryptoki calls that the code under test makes through
// Cryptoki.FunctionList, and forwards every one of them to the module the
// list came from. Installed for the counter's lifetime; one counter at a
// time. Used by tests (how many searches a command started, how the slot
// monitor waits) and by the listing benchmark (calls per object). It can
// also hold a worker at a chosen call, and it records the arguments of the
// calls that carry a PIN or change the token (RecordedCall).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "cryptoki/Cryptoki.h"

// One recorded call of C_Login, C_Logout, C_InitPIN, C_SetPIN, C_InitToken,
// C_CloseAllSessions, C_OpenSession or C_SetUserPinPolicy.
struct RecordedCall {
    std::string function;      // "C_Login", "C_InitPIN", ...
    CK_ULONG userType = 0;     // C_Login
    std::string pin;           // the PIN or old PIN as sent, byte for byte
    std::string newPin;        // C_SetPIN
    std::string label;         // C_InitToken: the 32-byte label field
    CK_ULONG numbers[4] = {};  // C_SetUserPinPolicy: level, max failed, min, max
    const void* pinAt = nullptr;     // where the caller kept `pin`
    const void* newPinAt = nullptr;  // and `newPin`
};

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
    // Counts and recorded calls start again from nothing.
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
    // Waits until a thread waits at the hold; false after `timeoutMs`. For
    // a caller that need not take messages meanwhile (the held thread is
    // not a worker of its window).
    bool WaitHeld(DWORD timeoutMs) const;
    // Lets the held threads go on; the hold is gone. Also done by the
    // destructor, so that a failed test never leaves a worker stuck.
    void Release();

    // The recorded calls since the last Reset, in order; those of one entry.
    std::vector<RecordedCall> Calls() const;
    std::vector<RecordedCall> CallsOf(const std::string& function) const;
    // The recorded functions' names, in order, joined by blanks.
    std::string Sequence() const;
};
