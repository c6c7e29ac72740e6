#include "CryptokiSpy.h"

#include "app/AppState.h"
#include "cryptoki/ModuleLoader.h"

namespace {

std::mutex spyMutex;
std::vector<SpyCall> recorded;
VendorFunctionList* real = nullptr;

std::string Text(CK_UTF8CHAR_PTR bytes, CK_ULONG length) {
    return bytes ? std::string(reinterpret_cast<const char*>(bytes), length) : std::string();
}

SpyCall Named(const char* function) {
    SpyCall call;
    call.function = function;
    return call;
}

CK_RV SpyLogin(CK_SESSION_HANDLE session, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pin, CK_ULONG length) {
    SpyCall call = Named("C_Login");
    call.userType = userType;
    call.pin = Text(pin, length);
    call.pinAt = pin;
    CryptokiSpy::Record(call);
    return real->C_Login(session, userType, pin, length);
}

CK_RV SpyLogout(CK_SESSION_HANDLE session) {
    CryptokiSpy::Record(Named("C_Logout"));
    return real->C_Logout(session);
}

CK_RV SpyInitPin(CK_SESSION_HANDLE session, CK_UTF8CHAR_PTR pin, CK_ULONG length) {
    SpyCall call = Named("C_InitPIN");
    call.pin = Text(pin, length);
    call.pinAt = pin;
    CryptokiSpy::Record(call);
    return real->C_InitPIN(session, pin, length);
}

CK_RV SpySetPin(CK_SESSION_HANDLE session, CK_UTF8CHAR_PTR oldPin, CK_ULONG oldLength, CK_UTF8CHAR_PTR newPin,
                CK_ULONG newLength) {
    SpyCall call = Named("C_SetPIN");
    call.pin = Text(oldPin, oldLength);
    call.newPin = Text(newPin, newLength);
    call.pinAt = oldPin;
    call.newPinAt = newPin;
    CryptokiSpy::Record(call);
    return real->C_SetPIN(session, oldPin, oldLength, newPin, newLength);
}

CK_RV SpyInitToken(CK_SLOT_ID slot, CK_UTF8CHAR_PTR pin, CK_ULONG length, CK_UTF8CHAR_PTR label) {
    SpyCall call = Named("C_InitToken");
    call.pin = Text(pin, length);
    call.pinAt = pin;
    call.label = Text(label, 32);
    CryptokiSpy::Record(call);
    return real->C_InitToken(slot, pin, length, label);
}

CK_RV SpyCloseAllSessions(CK_SLOT_ID slot) {
    CryptokiSpy::Record(Named("C_CloseAllSessions"));
    return real->C_CloseAllSessions(slot);
}

CK_RV SpyOpenSession(CK_SLOT_ID slot, CK_FLAGS flags, CK_VOID_PTR application, CK_NOTIFY notify,
                     CK_SESSION_HANDLE_PTR session) {
    CryptokiSpy::Record(Named("C_OpenSession"));
    return real->C_OpenSession(slot, flags, application, notify, session);
}

CK_RV SpySetUserPinPolicy(CK_SLOT_ID slot, CK_SESSION_HANDLE session, CK_ULONG level, CK_ULONG maxFailed,
                          CK_ULONG minLength, CK_ULONG maxLength) {
    SpyCall call = Named("C_SetUserPinPolicy");
    call.numbers[0] = level;
    call.numbers[1] = maxFailed;
    call.numbers[2] = minLength;
    call.numbers[3] = maxLength;
    CryptokiSpy::Record(call);
    return real->C_SetUserPinPolicy(slot, session, level, maxFailed, minLength, maxLength);
}

}  // namespace

CryptokiSpy::CryptokiSpy() {
    original_ = Cryptoki.FunctionList;
    real = original_;
    spied_ = *original_;
    spied_.C_Login = SpyLogin;
    spied_.C_Logout = SpyLogout;
    spied_.C_InitPIN = SpyInitPin;
    spied_.C_SetPIN = SpySetPin;
    spied_.C_InitToken = SpyInitToken;
    spied_.C_CloseAllSessions = SpyCloseAllSessions;
    spied_.C_OpenSession = SpyOpenSession;
    spied_.C_SetUserPinPolicy = SpySetUserPinPolicy;
    Cryptoki.FunctionList = &spied_;
    Clear();
}

CryptokiSpy::~CryptokiSpy() {
    Cryptoki.FunctionList = original_;
    real = nullptr;
}

void CryptokiSpy::Record(const SpyCall& call) {
    std::lock_guard<std::mutex> lock(spyMutex);
    recorded.push_back(call);
}

std::vector<SpyCall> CryptokiSpy::Calls() {
    std::lock_guard<std::mutex> lock(spyMutex);
    return recorded;
}

std::vector<SpyCall> CryptokiSpy::CallsOf(const std::string& function) {
    std::vector<SpyCall> calls;
    for (const SpyCall& call : Calls())
        if (call.function == function)
            calls.push_back(call);
    return calls;
}

std::string CryptokiSpy::Sequence() {
    std::string sequence;
    for (const SpyCall& call : Calls())
        sequence += (sequence.empty() ? "" : " ") + call.function;
    return sequence;
}

void CryptokiSpy::Clear() {
    std::lock_guard<std::mutex> lock(spyMutex);
    recorded.clear();
}
