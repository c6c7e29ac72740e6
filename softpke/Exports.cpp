// The exported entry points of vexpke.dll (names in vexpke.def). The five
// that the token manager calls work; each reports its status through its
// last argument and returns it as well. Every other name of the library's
// interface answers kPkeNotImplemented as its return value and touches no
// argument: their argument lists are not known here, so no status pointer
// can be found among them.
#include <windows.h>

#include <cstring>
#include <string>

#include "CryptokiLink.h"
#include "GenerateCsr.h"
#include "LibraryState.h"
#include "PkeStatus.h"
#include "TestControl.h"

using namespace softpke;

namespace {

// Runs `body` under the library's lock unless a test fault answers first;
// a null status pointer gets kPkeNullParameter as the return value.
template <typename Body>
int Run(const char* entry, const std::string& arguments, int* status, Body body) {
    int answer = kPkeOk;
    if (!TakeCall(entry, arguments, &answer)) {
        StateLock lock;
        answer = status ? body() : kPkeNullParameter;
    }
    if (status)
        *status = answer;
    return answer;
}

std::string Text(const char* text) {
    return text ? text : "(null)";
}

}  // namespace

extern "C" {

// Prepares the library. Calling it again keeps what later calls set up
// (the module, the login, the signing choice), so that a program can
// initialise before each use.
int VexInitPke(int* status) {
    return Run("initPKE", "", status, [] {
        State().initialised = true;
        return static_cast<int>(kPkeOk);
    });
}

int VexSetCryptoki(const char* moduleName, const char* configuration, int* status) {
    return Run("setCryptoki", Text(moduleName) + "|" + Text(configuration), status,
               [&] { return LinkCryptoki(moduleName, configuration); });
}

int VexLogin(int userType, int slotIndex, const char* pin, int* status) {
    // The PIN itself is never recorded: its length tells tests enough.
    const std::string arguments = std::to_string(userType) + " " + std::to_string(slotIndex) + " " +
                                  std::to_string(pin ? strlen(pin) : 0);
    return Run("login", arguments, status,
               [&] { return LoginUser(userType, slotIndex, pin); });
}

// The signing set-up: `scheme` 1 is RSA PKCS #1 v1.5, `format` 0 a plain
// signature over the DER to be signed, `hash` 1 SHA-256; `parameters`
// points to three words for schemes with parameters, all 0 here.
int VexSetSignMech(int scheme, int format, int hash, const unsigned int* parameters, int* status) {
    std::string arguments = std::to_string(scheme) + " " + std::to_string(format) + " " + std::to_string(hash);
    for (int i = 0; i < 3 && parameters; ++i)
        arguments += " " + std::to_string(parameters[i]);
    return Run("setSignMech", arguments, status, [&] {
        LibraryState& state = State();
        if (!state.initialised)
            return static_cast<int>(kPkeNotInitialised);
        if (!state.functions)
            return static_cast<int>(kPkeNoCryptoki);
        int answer = kPkeOk;
        if (scheme != 1)
            answer = kPkeSignMechInvalid;
        else if (format != 0)
            answer = kPkeSignFormatInvalid;
        else if (hash != 1)
            answer = kPkeSignHashInvalid;
        else if (!parameters)
            answer = kPkeNullParameter;
        else if (parameters[0] || parameters[1] || parameters[2])
            answer = kPkeSignParameterInvalid;
        state.signMechSet = answer == kPkeOk;
        return answer;
    });
}

int VexExGenCsr(const char* keyId, const char* const* subjectFields, const char* const* altNames, int keyBits,
                int, int, int, const char* keyUsage, const char* extendedKeyUsage, char* auxiliaryOutput,
                char* csrOutput, int* status) {
    const std::string arguments =
        Text(keyId) + "|" + std::to_string(keyBits) + "|" + Text(keyUsage) + "|" + Text(extendedKeyUsage);
    return Run("exGenCSR", arguments, status, [&] {
        return GenerateCsr({keyId, subjectFields, altNames, keyBits, keyUsage, extendedKeyUsage, auxiliaryOutput,
                            csrOutput});
    });
}

int VexNotImplemented() {
    return kPkeNotImplemented;
}

}  // extern "C"
