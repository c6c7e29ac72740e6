// The SO login that Unblock user pincode, Change SO pincode and the user-PIN
// policy dialog run before their own Cryptoki call, and the SO logout with
// which those dialogs close.
#pragma once

#include <windows.h>

#include "cryptoki/Cryptoki.h"

// How the dialogs differ in the login step.
struct SoLoginVariant {
    // The state reached after a user logout is also written to the token
    // row's login-status column (Change SO pincode).
    bool showStateInTokenRow;
    // The first session-state read decides the skip as well as the user
    // logout, and the buttons and caption are touched only when a login
    // follows (user-PIN policy).
    bool skipDecidedByFirstRead;
};

constexpr SoLoginVariant kUnblockSoLogin = {false, false};
constexpr SoLoginVariant kChangeSoPinSoLogin = {true, false};
constexpr SoLoginVariant kPinPolicySoLogin = {false, true};

// Logs a logged-in user out of the dialog's token, shows the public state on
// the main window and logs the SO in with the PIN of edit `soPinEditId` of
// `dialog`, unless the SO is logged in on the session already (the PIN edit
// is then not read). CKR_OK when the SO is logged in afterwards, otherwise
// C_Login's answer.
CK_RV RunSoLoginStep(HWND dialog, int soPinEditId, const SoLoginVariant& variant);

// What a dialog does when the SO login is refused: its box, and whether it
// puts the focus back on the SO PIN or ends.
struct SoLoginFailure {
    const wchar_t* caption;
    const wchar_t* text;
    bool focusSoPin;
    bool endDialog;
};

// How a dialog shows the SO login's refusal: the Cryptoki error report with
// the return code's name (no owner window), or a plain box owned by the
// dialog.
enum class SoLoginBox { WithReturnCode, Plain };

// The dialog's answer to `rv`, chosen by ChooseBySoPinRefusal: the focus
// on edit `soPinEditId` when the answer keeps it there, the box, and the
// dialog's end when the answer ends it.
void ActOnSoLoginRefusal(HWND dialog, CK_RV rv, const SoLoginFailure& wrong, const SoLoginFailure& locked,
                         const SoLoginFailure& other, int soPinEditId, SoLoginBox box);

// The three kinds of SO PIN refusal that the dialogs tell apart: a wrong PIN
// (CKR_PIN_INCORRECT, or CKR_PIN_LEN_RANGE for a PIN the token cannot even
// hold), a locked PIN, and anything else. Picks the dialog's answer to `rv`.
template <typename Answer>
const Answer& ChooseBySoPinRefusal(CK_RV rv, const Answer& wrong, const Answer& locked, const Answer& other) {
    if (rv == CKR_PIN_INCORRECT || rv == CKR_PIN_LEN_RANGE)
        return wrong;
    return rv == CKR_PIN_LOCKED ? locked : other;
}

// The session's state; false when it cannot be read.
bool ReadSessionState(CK_SESSION_HANDLE session, CK_STATE* state);

// What the SO dialogs do when they close: an SO still logged in on the
// session is logged out.
void LogoutSoIfLoggedIn(CK_SESSION_HANDLE session);
