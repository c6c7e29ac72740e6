// "Set user pincode policy": reads the token's user-PIN policy through the
// module's vendor extension, lets the SO edit it and stores it again.
#include <windows.h>

#include <cwchar>

#include "admin/AdminCommands.h"
#include "admin/AdminDialog.h"
#include "admin/PinEntry.h"
#include "admin/SoLogin.h"
#include "cryptoki/ModuleLoader.h"
#include "cryptoki/SessionTable.h"
#include "res/resource.h"

namespace {

constexpr CK_ULONG kUserPinPolicy = 1;  // C_GetUserPinPolicy's second argument

// The radio button of each complexity level, level 1 first.
const int kLevelButtons[] = {IDC_POLICY_LEVEL1, IDC_POLICY_LEVEL2, IDC_POLICY_LEVEL3, IDC_POLICY_LEVEL4};
constexpr CK_ULONG kLevelCount = sizeof kLevelButtons / sizeof kLevelButtons[0];

const wchar_t kCantSetCaption[] = L"Can't set pincode policy";

struct PinPolicy {
    CK_ULONG level = 0;
    CK_ULONG maxFailedLogins = 0;
    CK_ULONG minLength = 0;
    CK_ULONG maxLength = 0;
};

const SoLoginFailure kWrongSoPin = {L"Wrong SO pincode", L"The SO pincode is wrong.\r\n", true, false};
const SoLoginFailure kLockedSoPin = {L"Locked SO pincode", L"The SO pincode is locked.\r\n", false, true};
const SoLoginFailure kOtherSoFailure = {L"SO login failure", L"An error occured during SO login.\r\n", false, true};

// A module without the vendor entries cannot answer.
CK_RV GetUserPinPolicy(CK_SLOT_ID slot, PinPolicy* policy) {
    if (!Cryptoki.FunctionList->C_GetUserPinPolicy)
        return CKR_FUNCTION_NOT_SUPPORTED;
    return Cryptoki.FunctionList->C_GetUserPinPolicy(slot, kUserPinPolicy, &policy->level,
                                                     &policy->maxFailedLogins, &policy->minLength,
                                                     &policy->maxLength);
}

CK_RV SetUserPinPolicy(CK_SLOT_ID slot, CK_SESSION_HANDLE session, const PinPolicy& policy) {
    if (!Cryptoki.FunctionList->C_SetUserPinPolicy)
        return CKR_FUNCTION_NOT_SUPPORTED;
    return Cryptoki.FunctionList->C_SetUserPinPolicy(slot, session, policy.level, policy.maxFailedLogins,
                                                     policy.minLength, policy.maxLength);
}

void ShowPolicy(HWND dialog, const PinPolicy& policy) {
    SetDlgItemInt(dialog, IDC_POLICY_MAX_LENGTH, policy.maxLength, FALSE);
    SetDlgItemInt(dialog, IDC_POLICY_MIN_LENGTH, policy.minLength, FALSE);
    SetDlgItemInt(dialog, IDC_POLICY_MAX_FAILED, policy.maxFailedLogins, FALSE);
    if (policy.level >= 1 && policy.level <= kLevelCount)
        CheckDlgButton(dialog, kLevelButtons[policy.level - 1], BST_CHECKED);
}

BOOL OnInitDialog(HWND dialog) {
    const int slot = DialogSlot(dialog);
    PinPolicy policy;
    if (slot < 0) {
        EndDialog(dialog, 0);
        return FALSE;
    }
    if (GetUserPinPolicy(static_cast<CK_SLOT_ID>(slot), &policy) != CKR_OK) {
        MessageBoxW(dialog,
                    L"Error in getting pincode policy. This function is not supported in this token\n\r",
                    L"Can't get pincode policy", MB_ICONERROR);
        EndDialog(dialog, 0);
        return FALSE;
    }
    ShowPolicy(dialog, policy);
    SetFocus(GetDlgItem(dialog, IDC_POLICY_MIN_LENGTH));
    return FALSE;
}

// The field's number as the run-time library reads it: leading blanks, a
// sign and the digits up to the first other character; no digits give 0.
CK_ULONG ReadNumberField(HWND dialog, int id) {
    wchar_t text[kPinEditLimit + 1] = {};
    GetDlgItemTextW(dialog, id, text, kPinEditLimit + 1);
    return static_cast<CK_ULONG>(wcstol(text, nullptr, 10));
}

// The last checked button of the level order wins; none checked gives 0.
CK_ULONG ReadLevel(HWND dialog) {
    CK_ULONG level = 0;
    for (CK_ULONG i = 0; i < kLevelCount; ++i)
        if (IsDlgButtonChecked(dialog, kLevelButtons[i]) == BST_CHECKED)
            level = i + 1;
    return level;
}

PinPolicy ReadPolicy(HWND dialog) {
    PinPolicy policy;
    policy.maxLength = ReadNumberField(dialog, IDC_POLICY_MAX_LENGTH);
    policy.minLength = ReadNumberField(dialog, IDC_POLICY_MIN_LENGTH);
    policy.maxFailedLogins = ReadNumberField(dialog, IDC_POLICY_MAX_FAILED);
    policy.level = ReadLevel(dialog);
    return policy;
}

void OnSoLoginRefused(HWND dialog, CK_RV rv) {
    ActOnSoLoginRefusal(dialog, rv, kWrongSoPin, kLockedSoPin, kOtherSoFailure, IDC_POLICY_SO_PIN,
                        SoLoginBox::Plain);
}

// Out-of-range values keep the SO logged in for another try; any other
// answer logs the SO out and closes the dialog.
void ActOnSetPolicy(HWND dialog, CK_SESSION_HANDLE session, CK_RV rv) {
    if (rv == CKR_OK) {
        Cryptoki.FunctionList->C_Logout(session);
        EndDialog(dialog, 0);
        MessageBoxW(dialog, L"User pincode policy stored successfully.\r\n", L"Successful pincode policy operation",
                    MB_ICONINFORMATION);
    } else if (rv == CKR_ARGUMENTS_BAD) {
        MessageBoxW(dialog,
                    L"Setting pincode policy failed duo to out of range argument.\nPlease check the entered "
                    L"numbers and try again.\r",
                    kCantSetCaption, MB_ICONERROR);
        SetFocus(GetDlgItem(dialog, IDC_POLICY_MIN_LENGTH));
    } else {
        MessageBoxW(dialog, L"An error occured in setting pincode policy.\r", kCantSetCaption, MB_ICONERROR);
        Cryptoki.FunctionList->C_Logout(session);
        EndDialog(dialog, 0);
    }
}

// The token is the one of the opening, whatever is selected now.
void OnOk(HWND dialog) {
    if (RefuseUnsendableText(dialog, {{IDC_POLICY_SO_PIN, TokenTextForm::Pin}}))
        return;
    const int slot = DialogSlot(dialog);
    const CK_RV loginRv = RunSoLoginStep(dialog, IDC_POLICY_SO_PIN, kPinPolicySoLogin);
    if (loginRv != CKR_OK) {
        OnSoLoginRefused(dialog, loginRv);
        return;
    }
    const CK_SESSION_HANDLE session = DialogSession(dialog);
    const CK_RV rv = SetUserPinPolicy(static_cast<CK_SLOT_ID>(slot), session, ReadPolicy(dialog));
    ActOnSetPolicy(dialog, session, rv);
}

void OnClose(HWND dialog) {
    LogoutSoIfLoggedIn(DialogSession(dialog));
    EndDialog(dialog, 0);
}

const AdminDialogHandlers kPinPolicyHandlers = {OnInitDialog, OnOk, OnClose};

INT_PTR CALLBACK PinPolicyDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return RouteAdminDialogMessage(kPinPolicyHandlers, dialog, message, wParam, lParam);
}

}  // namespace

void OnPinPolicyCommand(const AdminCommand& command) {
    OpenAdminDialog(command, IDD_PIN_POLICY, PinPolicyDialogProc);
}
