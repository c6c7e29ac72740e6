#include "admin/SoLogin.h"

#include "admin/AdminDialog.h"
#include "admin/PinEntry.h"
#include "admin/TokenDisplay.h"
#include "cryptoki/ErrorReport.h"
#include "cryptoki/ModuleLoader.h"
#include "cryptoki/SessionTable.h"

namespace {

// A session whose state cannot be read counts as nobody logged in.
CK_STATE StateOrPublic(CK_SESSION_HANDLE session) {
    CK_STATE state = CKS_RW_PUBLIC_SESSION;
    ReadSessionState(session, &state);
    return state;
}

void LogoutUserIfLoggedIn(CK_SESSION_HANDLE session, CK_STATE state) {
    if (state == CKS_RW_USER_FUNCTIONS)
        Cryptoki.FunctionList->C_Logout(session);
}

// Shows the state after the user logout on the main window; from here on
// the Login button offers a login again.
void ShowStateAfterLogout(HWND dialog, CK_SESSION_HANDLE session, const SoLoginVariant& variant, CK_STATE* state) {
    TokenDisplay& display = *DialogCommand(dialog).display;
    const bool known = ReadSessionState(session, state);
    if (known) {
        display.UpdateButtonsForState(DialogSlot(dialog), *state);
        if (variant.showStateInTokenRow)
            display.SetTokenRowStatus(*state, DialogSlot(dialog));
    } else {
        *state = CKS_RW_PUBLIC_SESSION;
    }
    display.SetLoginCaption(DialogSlot(dialog), kLoginCaption);
}

CK_RV LoginSo(HWND dialog, int soPinEditId, CK_SESSION_HANDLE session) {
    PinText soPin;
    soPin.ReadEdit(dialog, soPinEditId);
    return Cryptoki.FunctionList->C_Login(session, CKU_SO, soPin.CkBytes(), soPin.Length());
}

}  // namespace

bool ReadSessionState(CK_SESSION_HANDLE session, CK_STATE* state) {
    CK_SESSION_INFO info = {};
    if (Cryptoki.FunctionList->C_GetSessionInfo(session, &info) != CKR_OK)
        return false;
    *state = info.state;
    return true;
}

CK_RV RunSoLoginStep(HWND dialog, int soPinEditId, const SoLoginVariant& variant) {
    const CK_SESSION_HANDLE session = DialogSession(dialog);
    const CK_STATE first = StateOrPublic(session);
    if (variant.skipDecidedByFirstRead && first == CKS_RW_SO_FUNCTIONS)
        return CKR_OK;
    LogoutUserIfLoggedIn(session, first);
    CK_STATE current = CKS_RW_PUBLIC_SESSION;
    ShowStateAfterLogout(dialog, session, variant, &current);
    if (!variant.skipDecidedByFirstRead && current == CKS_RW_SO_FUNCTIONS)
        return CKR_OK;  // logged in by an earlier OK of the same dialog
    return LoginSo(dialog, soPinEditId, session);
}

void LogoutSoIfLoggedIn(CK_SESSION_HANDLE session) {
    CK_STATE state = CKS_RW_PUBLIC_SESSION;
    if (ReadSessionState(session, &state) && state == CKS_RW_SO_FUNCTIONS)
        Cryptoki.FunctionList->C_Logout(session);
}

void ActOnSoLoginRefusal(HWND dialog, CK_RV rv, const SoLoginFailure& wrong, const SoLoginFailure& locked,
                         const SoLoginFailure& other, int soPinEditId, SoLoginBox box) {
    const SoLoginFailure& failure = ChooseBySoPinRefusal(rv, wrong, locked, other);
    if (failure.focusSoPin)
        SetFocus(GetDlgItem(dialog, soPinEditId));
    if (box == SoLoginBox::WithReturnCode)
        ShowCkErrorW(rv, failure.caption, failure.text);
    else
        MessageBoxW(dialog, failure.text, failure.caption, MB_ICONERROR);
    if (failure.endDialog)
        EndDialog(dialog, 0);
}
