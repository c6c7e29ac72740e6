// "Login to token": logs the user in with the PIN, or, when the Login button
// reads "Log out", logs the token out while opening and is never shown.
#include <windows.h>

#include "admin/AdminCommands.h"
#include "admin/AdminDialog.h"
#include "admin/PinEntry.h"
#include "admin/TokenDisplay.h"
#include "cryptoki/ErrorReport.h"
#include "cryptoki/ModuleLoader.h"
#include "res/resource.h"

namespace {

const wchar_t kLoginErrorCaption[] = L"Login error";
const wchar_t kTooShortText[] = L"The entered pincode is too short\r\n";
const wchar_t kFinalTryText[] =
    L"Note: This is your last chance to login as user.\nThis time, if the entered pincode is wrong, "
    L"the user pincode will be locked. Do you want to continue?\n\r";
const wchar_t kOtherFailureText[] = L"An error occured.\r\n";

enum class AfterFailure { EmptyPinAndStay, Stay, End };

struct LoginFailure {
    CK_RV rv;
    const wchar_t* context;
    AfterFailure after;
};

const LoginFailure kLoginFailures[] = {
    {CKR_PIN_INCORRECT, L"The entered pincode is wrong\r\n", AfterFailure::EmptyPinAndStay},
    {CKR_USER_PIN_NOT_INITIALIZED,
     L"User pincode is not initailized.\nYou should first login as SO and then initialize user pincode "
     L"using Init Pin.\r\n",
     AfterFailure::Stay},
    {CKR_PIN_LOCKED, L"User pincode is locked.\r\n", AfterFailure::End},
    {CKR_PIN_LEN_RANGE,
     L"The specified pincode is too long or too short according to pincode policy.\nPlease note that "
     L"your system keyboard language should be english (EN).\n\r",
     AfterFailure::Stay},
    {CKR_ARGUMENTS_BAD,
     L"The specified pincode is either too long/short or it's doesn't satisfy pincode policy.\nPlease "
     L"note that your system keyboard language should be english (EN).\n\r",
     AfterFailure::Stay},
};

const LoginFailure kOtherLoginFailure = {0, kOtherFailureText, AfterFailure::End};

const LoginFailure& FailureFor(CK_RV rv) {
    for (const LoginFailure& failure : kLoginFailures)
        if (failure.rv == rv)
            return failure;
    return kOtherLoginFailure;
}

TokenDisplay& Display(HWND dialog) {
    return *DialogCommand(dialog).display;
}

// The login state the module now reports, on the buttons and in the row.
void ShowSessionState(HWND dialog) {
    CK_SESSION_INFO info = {};
    if (Cryptoki.FunctionList->C_GetSessionInfo(DialogSession(dialog), &info) != CKR_OK)
        return;
    Display(dialog).UpdateButtonsForState(DialogSlot(dialog), info.state);
    Display(dialog).SetTokenRowStatus(info.state, DialogSlot(dialog));
}

// The caption is read as the button holds it, at most 19 characters.
bool LoginButtonReadsLogOut(HWND dialog) {
    return Display(dialog).LoginCaption().substr(0, 19) == kLogoutCaption;
}

void LogOut(HWND dialog) {
    Cryptoki.FunctionList->C_Logout(DialogSession(dialog));  // the caption goes back regardless
    Display(dialog).SetLoginCaption(DialogSlot(dialog), kLoginCaption);
    ShowSessionState(dialog);
    EndDialog(dialog, 0);
}

BOOL OnInitDialog(HWND dialog) {
    const bool logOut = LoginButtonReadsLogOut(dialog);
    OpenOnBoundToken(dialog, IDC_LOGIN_PIN);
    if (DialogSlot(dialog) >= 0 && logOut)
        LogOut(dialog);
    return FALSE;
}

// False when the token warns that a wrong PIN now locks it and the user
// chooses not to go on.
bool ConfirmFinalTry(HWND dialog) {
    CK_TOKEN_INFO info = {};
    if (Cryptoki.FunctionList->C_GetTokenInfo(static_cast<CK_SLOT_ID>(DialogSlot(dialog)), &info) != CKR_OK)
        return true;  // no flags known: no warning
    if (!(info.flags & CKF_USER_PIN_FINAL_TRY))
        return true;
    return MessageBoxW(dialog, kFinalTryText, L"Warning", MB_ICONWARNING | MB_YESNO) != IDNO;
}

void FocusPin(HWND dialog) {
    SetFocus(GetDlgItem(dialog, IDC_LOGIN_PIN));
}

void OnLoginRefused(HWND dialog, CK_RV rv) {
    const LoginFailure& failure = FailureFor(rv);
    ShowCkErrorW(rv, kLoginErrorCaption, failure.context);
    switch (failure.after) {
    case AfterFailure::EmptyPinAndStay:
        SetDlgItemTextW(dialog, IDC_LOGIN_PIN, L"");
        FocusPin(dialog);
        break;
    case AfterFailure::Stay:
        FocusPin(dialog);
        break;
    case AfterFailure::End:
        EndDialog(dialog, 0);
        break;
    }
}

void OnOk(HWND dialog) {
    if (RefuseUnsendableText(dialog, {{IDC_LOGIN_PIN, TokenTextForm::Pin}}))
        return;
    if (!ConfirmFinalTry(dialog)) {
        EndDialog(dialog, 0);
        return;
    }
    PinText pin;
    pin.ReadEdit(dialog, IDC_LOGIN_PIN);
    if (pin.WideLength() < kMinPinLength) {
        MessageBoxW(dialog, kTooShortText, kLoginErrorCaption, MB_ICONERROR);
        FocusPin(dialog);
        return;
    }
    const CK_RV rv = Cryptoki.FunctionList->C_Login(DialogSession(dialog), CKU_USER, pin.CkBytes(), pin.Length());
    pin.Wipe();
    if (rv != CKR_OK) {
        OnLoginRefused(dialog, rv);
        return;
    }
    Display(dialog).SetLoginCaption(DialogSlot(dialog), kLogoutCaption);
    ShowSessionState(dialog);
    EndDialog(dialog, 0);
}

const AdminDialogHandlers kLoginHandlers = {OnInitDialog, OnOk, EndDialogQuietly};

INT_PTR CALLBACK LoginDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return RouteAdminDialogMessage(kLoginHandlers, dialog, message, wParam, lParam);
}

}  // namespace

void OnLoginCommand(const AdminCommand& command) {
    OpenAdminDialog(command, IDD_LOGIN, LoginDialogProc);
}
