// What the library keeps between calls, for one load of the DLL: whether
// initPKE ran, the Cryptoki module it works through, its own session with
// the login that `login` made, and the signing set-up. Entry points hold
// the lock for their whole run, so calls from several threads take turns.
#pragma once

#include <windows.h>

#include <string>

#include "cryptoki/Cryptoki.h"

namespace softpke {

struct LibraryState {
    bool initialised = false;  // initPKE ran (kept by later initPKE calls)

    HMODULE module = nullptr;  // the module named to setCryptoki, pinned
    std::string moduleName;
    CK_FUNCTION_LIST_PTR functions = nullptr;

    // The library's own session on the token `login` logged in to; the
    // program's sessions are never touched.
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    CK_SLOT_ID slot = 0;
    bool loggedIn = false;

    bool signMechSet = false;  // RSA PKCS #1 v1.5 with SHA-256
};

LibraryState& State();

// Holds the library's lock for its lifetime.
class StateLock {
public:
    StateLock();
    ~StateLock();
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;
};

}  // namespace softpke
