// "Change SO pincode": logs the SO in with the old SO PIN and changes it
// with C_SetPIN.
#include <windows.h>

#include "admin/AdminCommands.h"
#include "admin/AdminDialog.h"
#include "admin/PinEntry.h"
#include "admin/SoLogin.h"
#include "cryptoki/ErrorReport.h"
#include "cryptoki/ModuleLoader.h"
#include "cryptoki/SessionTable.h"
#include "res/resource.h"

namespace {

const wchar_t kOldPinTooShortText[] = L"The entered old pincode is too short.\r\n";

const wchar_t kWrongOldSoPinW[] = L"The old SO pincode is wrong.\r\n";
const wchar_t kSoPinLockedW[] = L"The SO pincode is locked.\r\n";

BOOL OnInitDialog(HWND dialog) {
    return OpenOnBoundToken(dialog, IDC_SOPIN_OLD);
}

// A wrong PIN keeps the dialog, with the focus on the old-PIN edit.
const SoLoginFailure kWrongSoPin = {L"Wrong SO pincode", kWrongOldSoPinW, true, false};
const SoLoginFailure kLockedSoPin = {L"Locked SO pincode", kSoPinLockedW, false, true};
const SoLoginFailure kOtherSoFailure = {L"SO login failure", L"An error occured during SO login.\r\n", false, true};

void OnSoLoginRefused(HWND dialog, CK_RV rv) {
    ActOnSoLoginRefusal(dialog, rv, kWrongSoPin, kLockedSoPin, kOtherSoFailure, IDC_SOPIN_OLD,
                        SoLoginBox::WithReturnCode);
}

// A wrong old PIN or an out-of-range new one keeps the SO logged in and the
// dialog open; every other outcome logs the SO out and closes it.
void ActOnSetPin(HWND dialog, CK_RV rv) {
    bool staysLoggedIn = false;
    switch (rv) {
    case CKR_OK:
        MessageBoxW(dialog, L"The SO pincode changed successfully.\r\n", L"Successful change pin",
                    MB_ICONINFORMATION);
        break;
    case CKR_PIN_INCORRECT:
        ShowCkErrorW(rv, L"Wrong SO pincode", kWrongOldSoPinW);
        staysLoggedIn = true;
        break;
    case CKR_PIN_LOCKED:
        ShowCkErrorW(rv, L"Locked SO pincode", kSoPinLockedW);
        break;
    case CKR_PIN_LEN_RANGE:
        ShowCkErrorW(rv, L"Invalid user pincode",
                     L"Changing SO pincode failed.\rThe enetered pin does not meet minimum length requirement "
                     L"of the device.\r\n");
        staysLoggedIn = true;
        break;
    default:
        ShowCkErrorA(rv, "Invalid user pincode",
                     "Changing pin failed. The pin might not meet the minimum pin complexity requirements of "
                     "the device.\r\n",
                     MB_ICONERROR);
        break;
    }
    if (staysLoggedIn)
        return;
    Cryptoki.FunctionList->C_Logout(DialogSession(dialog));
    EndDialog(dialog, 0);
}

void OnOk(HWND dialog) {
    if (RefuseUnsendableText(dialog, {{IDC_SOPIN_OLD, TokenTextForm::Pin},
                                      {IDC_SOPIN_NEW, TokenTextForm::Pin},
                                      {IDC_SOPIN_CONFIRM, TokenTextForm::Pin}}))
        return;
    PinText oldPin, newPin, confirmation;
    oldPin.ReadEdit(dialog, IDC_SOPIN_OLD);
    newPin.ReadEdit(dialog, IDC_SOPIN_NEW);
    confirmation.ReadEdit(dialog, IDC_SOPIN_CONFIRM);
    if (!PassesNewPinChecks(dialog, newPin, confirmation, oldPin, kOldPinTooShortText))
        return;
    confirmation.Wipe();
    const CK_RV loginRv = RunSoLoginStep(dialog, IDC_SOPIN_OLD, kChangeSoPinSoLogin);
    if (loginRv != CKR_OK) {
        OnSoLoginRefused(dialog, loginRv);
        return;
    }
    // Also after a login skipped because the SO was logged in already: the
    // old-PIN field must still hold the current SO PIN.
    const CK_RV rv = Cryptoki.FunctionList->C_SetPIN(DialogSession(dialog), oldPin.CkBytes(), oldPin.Length(),
                                                     newPin.CkBytes(), newPin.Length());
    oldPin.Wipe();
    newPin.Wipe();
    ActOnSetPin(dialog, rv);
}

void OnClose(HWND dialog) {
    LogoutSoIfLoggedIn(DialogSession(dialog));
    EndDialog(dialog, 0);
}

const AdminDialogHandlers kChangeSoPinHandlers = {OnInitDialog, OnOk, OnClose};

INT_PTR CALLBACK ChangeSoPinDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return RouteAdminDialogMessage(kChangeSoPinHandlers, dialog, message, wParam, lParam);
}

}  // namespace

void OnChangeSoPinCommand(const AdminCommand& command) {
    OpenAdminDialog(command, IDD_CHANGE_SO_PIN, ChangeSoPinDialogProc);
}
