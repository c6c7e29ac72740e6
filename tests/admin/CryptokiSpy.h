// Records the PIN-related Cryptoki calls that the code under test makes, and
// forwards every one of them to the real module: the token still answers.
// Installed into Cryptoki.FunctionList for the spy's lifetime.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "cryptoki/Cryptoki.h"

struct SpyCall {
    std::string function;  // "C_Login", "C_InitPIN", ...
    CK_ULONG userType = 0;  // C_Login
    std::string pin;        // the PIN or old PIN as sent, byte for byte
    std::string newPin;     // C_SetPIN
    std::string label;      // C_InitToken: the 32-byte label field
    CK_ULONG numbers[4] = {};  // C_SetUserPinPolicy: level, max failed, min, max
    const void* pinAt = nullptr;     // where the caller kept `pin`
    const void* newPinAt = nullptr;  // and `newPin`
};

class CryptokiSpy {
public:
    CryptokiSpy();
    ~CryptokiSpy();
    CryptokiSpy(const CryptokiSpy&) = delete;
    CryptokiSpy& operator=(const CryptokiSpy&) = delete;

    std::vector<SpyCall> Calls();
    std::vector<SpyCall> CallsOf(const std::string& function);
    // The recorded function names, in order, joined by blanks.
    std::string Sequence();
    void Clear();

    static void Record(const SpyCall& call);

private:
    VendorFunctionList* original_ = nullptr;
    VendorFunctionList spied_ = {};
};
