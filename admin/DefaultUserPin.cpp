// "Set default user pincode": gives a token without user PIN the fixed
// default user PIN, logging in as SO with the factory SO PIN. No dialog;
// every box has no owner window.
#include <windows.h>

#include <cstring>

#include "admin/AdminCommands.h"
#include "admin/AdminDialog.h"
#include "admin/FixedPins.h"
#include "admin/PinEntry.h"
#include "cryptoki/ErrorReport.h"
#include "cryptoki/ModuleLoader.h"
#include "cryptoki/SessionTable.h"

namespace {

const wchar_t kSetPinErrorCaption[] = L"Error in set pin";
const wchar_t kGeneralSetPinError[] = L"General error occured. Can't set pin.\r\n";

struct SoLoginRefusal {
    CK_RV rv;
    const wchar_t* text;
};

const SoLoginRefusal kSoLoginRefusals[] = {
    {CKR_PIN_INCORRECT, L"SO pincode is chagnged. Can't set pin.\r\n"},
    {CKR_USER_ANOTHER_ALREADY_LOGGED_IN, L"User is logged in. Can't set pin.\r\n"},
};

const wchar_t* SoLoginRefusalText(CK_RV rv) {
    for (const SoLoginRefusal& refusal : kSoLoginRefusals)
        if (refusal.rv == rv)
            return refusal.text;
    return kGeneralSetPinError;
}

// A fixed PIN copied out of the constant, so that what the module was
// handed can be wiped afterwards.
class FixedPinCopy {
public:
    explicit FixedPinCopy(const char* pin) { strncpy(bytes_, pin, sizeof bytes_ - 1); }
    ~FixedPinCopy() { SecureZeroMemory(bytes_, sizeof bytes_); }
    FixedPinCopy(const FixedPinCopy&) = delete;
    FixedPinCopy& operator=(const FixedPinCopy&) = delete;
    CK_UTF8CHAR_PTR Bytes() { return reinterpret_cast<CK_UTF8CHAR_PTR>(bytes_); }
    CK_ULONG Length() const { return static_cast<CK_ULONG>(strlen(bytes_)); }

private:
    char bytes_[16] = {};
};

// "User pincode is set to 4826": the default PIN widened after the text.
void ShowSuccess() {
    wchar_t text[64] = {};
    FormatTextW(text, L"User pincode is set to %hs", kDefaultUserPin);
    MessageBoxW(nullptr, text, L"Successful set pin", MB_ICONINFORMATION);
}

// False after a refusal box: no slot, no token information, or a user PIN
// that is there already.
bool TokenNeedsDefaultPin(int slot) {
    CK_TOKEN_INFO info = {};
    if (slot < 0 || Cryptoki.FunctionList->C_GetTokenInfo(static_cast<CK_SLOT_ID>(slot), &info) != CKR_OK) {
        MessageBoxW(nullptr, L"General error occured.\r\n", L"Set default pincode error", MB_ICONERROR);
        return false;
    }
    if (info.flags & CKF_USER_PIN_INITIALIZED) {
        MessageBoxW(nullptr, L"User pin has been already set.\r\n", L"Error in setting default pin", MB_ICONERROR);
        return false;
    }
    return true;
}

}  // namespace

void OnDefaultUserPinCommand(const AdminCommand& command) {
    const int slot = command.slot;
    if (!TokenNeedsDefaultPin(slot))
        return;
    const CK_SESSION_HANDLE session = SessionTable[slot];
    FixedPinCopy soPin(kFactorySoPin);
    const CK_RV loginRv = Cryptoki.FunctionList->C_Login(session, CKU_SO, soPin.Bytes(), soPin.Length());
    if (loginRv != CKR_OK) {
        // Nobody was logged in by this command: no logout.
        MessageBoxW(nullptr, SoLoginRefusalText(loginRv), kSetPinErrorCaption, MB_ICONERROR);
        return;
    }
    FixedPinCopy userPin(kDefaultUserPin);
    if (Cryptoki.FunctionList->C_InitPIN(session, userPin.Bytes(), userPin.Length()) == CKR_OK)
        ShowSuccess();
    else
        MessageBoxW(nullptr, kGeneralSetPinError, kSetPinErrorCaption, MB_ICONERROR);
    Cryptoki.FunctionList->C_Logout(session);
}
