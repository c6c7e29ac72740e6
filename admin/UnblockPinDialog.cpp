// "Unblock user pincode": the SO sets a new user PIN with C_InitPIN, which
// unblocks a locked user PIN and gives a new token its first one.
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

const wchar_t kUserPinTooShortText[] = L"User pincode is too short.\r\n";

// All three refusals keep the dialog open; the SO is not logged in.
const SoLoginFailure kWrongSoPin = {L"Wrong SO pincode", L"The SO old pincode is wrong.\r\n", true, false};
const SoLoginFailure kLockedSoPin = {L"Locked SO pincode", L"The SO pincode is locked.\r\n", false, false};
const SoLoginFailure kOtherSoFailure = {L"SO login failure", L"An error occured during SO login.\r\n", false, false};

BOOL OnInitDialog(HWND dialog) {
    return OpenOnBoundToken(dialog, IDC_UNBLOCK_SO_PIN);
}

void OnSoLoginRefused(HWND dialog, CK_RV rv) {
    ActOnSoLoginRefusal(dialog, rv, kWrongSoPin, kLockedSoPin, kOtherSoFailure, IDC_UNBLOCK_SO_PIN,
                        SoLoginBox::WithReturnCode);
}

void ActOnInitPin(HWND dialog, CK_RV rv) {
    const CK_SESSION_HANDLE session = DialogSession(dialog);
    if (rv == CKR_OK) {
        MessageBoxW(dialog, L"User pincode initialized successfully.\r\n", L"", MB_ICONINFORMATION);
        Cryptoki.FunctionList->C_Logout(session);
        EndDialog(dialog, 0);
    } else if (rv == CKR_PIN_LEN_RANGE) {
        // The SO stays logged in: the next OK goes straight to C_InitPIN.
        ShowCkErrorW(rv, L"Invalid user pincode",
                     L"Init pin failed. The pin does not meet the minimum pin length requiement of the "
                     L"device.\r\n");
        SetFocus(GetDlgItem(dialog, IDC_UNBLOCK_USER_PIN));
    } else {
        ShowCkErrorA(rv, "Initialize pin error",
                     "Init pin failed. The pin might not meet the minimum pin complexity requirements of "
                     "the device.\r\n",
                     MB_ICONERROR);
        Cryptoki.FunctionList->C_Logout(session);
    }
}

void OnOk(HWND dialog) {
    if (RefuseUnsendableText(dialog, {{IDC_UNBLOCK_SO_PIN, TokenTextForm::Pin},
                                      {IDC_UNBLOCK_USER_PIN, TokenTextForm::Pin},
                                      {IDC_UNBLOCK_CONFIRM_PIN, TokenTextForm::Pin}}))
        return;
    PinText userPin, confirmation;
    userPin.ReadEdit(dialog, IDC_UNBLOCK_USER_PIN);
    confirmation.ReadEdit(dialog, IDC_UNBLOCK_CONFIRM_PIN);
    if (!PassesNewPinChecks(dialog, userPin, confirmation, userPin, kUserPinTooShortText))
        return;
    confirmation.Wipe();
    const CK_RV loginRv = RunSoLoginStep(dialog, IDC_UNBLOCK_SO_PIN, kUnblockSoLogin);
    if (loginRv != CKR_OK) {
        OnSoLoginRefused(dialog, loginRv);
        return;
    }
    const CK_RV rv = Cryptoki.FunctionList->C_InitPIN(DialogSession(dialog), userPin.CkBytes(), userPin.Length());
    userPin.Wipe();
    ActOnInitPin(dialog, rv);
}

void OnClose(HWND dialog) {
    LogoutSoIfLoggedIn(DialogSession(dialog));
    EndDialog(dialog, 0);
}

const AdminDialogHandlers kUnblockHandlers = {OnInitDialog, OnOk, OnClose};

INT_PTR CALLBACK UnblockPinDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return RouteAdminDialogMessage(kUnblockHandlers, dialog, message, wParam, lParam);
}

}  // namespace

void OnUnblockPinCommand(const AdminCommand& command) {
    OpenAdminDialog(command, IDD_UNBLOCK_PIN, UnblockPinDialogProc);
}
