#include "admin/SoLogin.h"

#include "admin/PinEntry.h"
#include "app/AppState.h"
#include "app/TokenPanel.h"

namespace {

// A session whose state cannot be read counts as nobody logged in.
CK_STATE StateOrPublic(CK_SESSION_HANDLE session) {
    CK_STATE state = CKS_RW_PUBLIC_SESSION;
    ReadSessionState(session, &state);
    return state;
}

void LogoutUserIfLoggedIn(CK_SESSION_HANDLE session, CK_STATE state) {
    if (state == CKS_RW_USER_FUNCTIONS)
        AppState.FunctionList->C_Logout(session);
}

// Shows the state after the user logout on the main window; from here on
// the Login button offers a login again.
void ShowStateAfterLogout(CK_SESSION_HANDLE session, int slot, const SoLoginVariant& variant,
                          CK_STATE* state) {
    const bool known = ReadSessionState(session, state);
    if (known) {
        UpdateButtonsForState(*state);
        if (variant.showStateInTokenRow)
            SetTokenRowStatus(*state, slot);
    } else {
        *state = CKS_RW_PUBLIC_SESSION;
    }
    SetLoginCaption(kLoginCaption);
}

CK_RV LoginSo(HWND dialog, int soPinEditId, CK_SESSION_HANDLE session) {
    PinText soPin;
    soPin.ReadEdit(dialog, soPinEditId);
    return AppState.FunctionList->C_Login(session, CKU_SO, soPin.CkBytes(), soPin.Length());
}

}  // namespace

bool ReadSessionState(CK_SESSION_HANDLE session, CK_STATE* state) {
    CK_SESSION_INFO info = {};
    if (AppState.FunctionList->C_GetSessionInfo(session, &info) != CKR_OK)
        return false;
    *state = info.state;
    return true;
}

CK_RV RunSoLoginStep(HWND dialog, int soPinEditId, int slot, const SoLoginVariant& variant) {
    const CK_SESSION_HANDLE session = AppState.SessionTable[slot];
    const CK_STATE first = StateOrPublic(session);
    if (variant.skipDecidedByFirstRead && first == CKS_RW_SO_FUNCTIONS)
        return CKR_OK;
    LogoutUserIfLoggedIn(session, first);
    CK_STATE current = CKS_RW_PUBLIC_SESSION;
    ShowStateAfterLogout(session, slot, variant, &current);
    if (!variant.skipDecidedByFirstRead && current == CKS_RW_SO_FUNCTIONS)
        return CKR_OK;  // logged in by an earlier OK of the same dialog
    return LoginSo(dialog, soPinEditId, session);
}

void LogoutSoIfLoggedIn(CK_SESSION_HANDLE session) {
    CK_STATE state = CKS_RW_PUBLIC_SESSION;
    if (ReadSessionState(session, &state) && state == CKS_RW_SO_FUNCTIONS)
        AppState.FunctionList->C_Logout(session);
}
