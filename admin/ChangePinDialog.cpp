// "Change pincode": changes the PIN of whoever is logged in on the token's
// session, the user's or, in an SO session, the SO's. No login of its own.
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

// The two wordings of one outcome: for an SO session and for the user.
struct Wording {
    const wchar_t* caption;
    const wchar_t* text;
};

struct SessionWordings {
    Wording so;
    Wording user;
    const Wording& For(bool soSession) const { return soSession ? so : user; }
};

const SessionWordings kChanged = {
    {L"", L"SO pincode changed successfully.\r\n"},
    {L"Successful change pin operation", L"The user pincode changed successfully.\r\n"},
};
const SessionWordings kOldPinWrong = {
    {L"Wrong SO pincode", L"The old SO pincode is wrong.\r\n"},
    {L"Wrong user pincode", L"The old user pincode is wrong.\r\n"},
};
const SessionWordings kPinLocked = {
    {L"Locked SO pincode", L"The SO pincode is locked.\r\n"},
    {L"Locked user pincode", L"The user pincode is locked.\r\n"},
};

// The refusals reported with the 8-bit report, whatever the session.
struct PlainRefusal {
    CK_RV rv;
    const char* caption;
    const char* context;
    bool endDialog;
};

const char kNotLoggedInCaption[] = "problem in changing user pincode";
const char kNotLoggedInText[] = "To change user pincode, you should login to token.\r\n";

const PlainRefusal kPlainRefusals[] = {
    {CKR_PIN_LEN_RANGE, "Invalid user pincode",
     "The entered pincode is invalid due to the device pin policy.\r\n", false},
    {CKR_USER_TYPE_INVALID, kNotLoggedInCaption, kNotLoggedInText, false},
    {CKR_FUNCTION_NOT_SUPPORTED, kNotLoggedInCaption, kNotLoggedInText, true},
};

const PlainRefusal kOtherRefusal = {
    0, "Invalid user pincode",
    "Changing pin failed. The pin might not meet the minimum pin complexity requirements of the "
    "device.\r\n",
    false};

BOOL OnInitDialog(HWND dialog) {
    return OpenOnBoundToken(dialog, IDC_CHANGE_OLD_PIN);
}

// Mismatch first, then the old PIN's length; false after a report.

void ActOnResult(HWND dialog, CK_RV rv, bool soSession) {
    if (rv == CKR_OK) {
        const Wording& changed = kChanged.For(soSession);
        MessageBoxW(dialog, changed.text, changed.caption, MB_ICONINFORMATION);
        EndDialog(dialog, 0);
        return;
    }
    if (rv == CKR_PIN_INCORRECT || rv == CKR_PIN_LOCKED) {
        const Wording& report = (rv == CKR_PIN_INCORRECT ? kOldPinWrong : kPinLocked).For(soSession);
        ShowCkErrorW(rv, report.caption, report.text);
        if (rv == CKR_PIN_LOCKED)
            EndDialog(dialog, 0);
        return;
    }
    const PlainRefusal* refusal = &kOtherRefusal;
    for (const PlainRefusal& candidate : kPlainRefusals)
        if (candidate.rv == rv)
            refusal = &candidate;
    ShowCkErrorA(rv, refusal->caption, refusal->context, MB_ICONERROR);
    if (refusal->endDialog)
        EndDialog(dialog, 0);
}

void OnOk(HWND dialog) {
    if (RefuseUnsendableText(dialog, {{IDC_CHANGE_OLD_PIN, TokenTextForm::Pin},
                                      {IDC_CHANGE_NEW_PIN, TokenTextForm::Pin},
                                      {IDC_CHANGE_CONFIRM_PIN, TokenTextForm::Pin}}))
        return;
    PinText oldPin, newPin, confirmation;
    oldPin.ReadEdit(dialog, IDC_CHANGE_OLD_PIN);
    newPin.ReadEdit(dialog, IDC_CHANGE_NEW_PIN);
    confirmation.ReadEdit(dialog, IDC_CHANGE_CONFIRM_PIN);
    if (!PassesNewPinChecks(dialog, newPin, confirmation, oldPin, kOldPinTooShortText))
        return;
    const CK_SESSION_HANDLE session = DialogSession(dialog);
    CK_STATE state = CKS_RW_PUBLIC_SESSION;
    ReadSessionState(session, &state);  // only chooses the wording
    const CK_RV rv = Cryptoki.FunctionList->C_SetPIN(session, oldPin.CkBytes(), oldPin.Length(),
                                                     newPin.CkBytes(), newPin.Length());
    oldPin.Wipe();
    newPin.Wipe();
    confirmation.Wipe();
    ActOnResult(dialog, rv, state == CKS_RW_SO_FUNCTIONS);
}

const AdminDialogHandlers kChangePinHandlers = {OnInitDialog, OnOk, EndDialogQuietly};

INT_PTR CALLBACK ChangePinDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return RouteAdminDialogMessage(kChangePinHandlers, dialog, message, wParam, lParam);
}

}  // namespace

void OnChangePinCommand(const AdminCommand& command) {
    OpenAdminDialog(command, IDD_CHANGE_PIN, ChangePinDialogProc);
}
