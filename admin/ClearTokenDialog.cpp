// "Clear token": initialises the selected token with the SO PIN and a new
// label, which removes every object and the user PIN, and gives the slot a
// fresh application session.
#include <windows.h>
#include <commctrl.h>

#include <cstring>

#include "app/Commands.h"
#include "admin/AdminDialog.h"
#include "admin/PinEntry.h"
#include "admin/SoLogin.h"
#include "app/AppState.h"
#include "app/TokenPanel.h"
#include "cryptoki/ErrorReport.h"
#include "res/resource.h"

namespace {

constexpr size_t kLabelFieldSize = 32;  // CK_TOKEN_INFO.label: blank-padded, no terminator

const wchar_t kClearWarningText[] =
    L"Initializing token removes all objects and closes all sessions.\nDo you want to continue?\n\r";
const wchar_t kDefaultLabel[] = L"Tolvane";

struct InitTokenFailure {
    const wchar_t* caption;
    const wchar_t* context;
    bool endDialog;
};

const InitTokenFailure kWrongSoPin = {L"Wrong pincode", L"The entered SO pincode is wrong.\r\n", false};
const InitTokenFailure kLockedSoPin = {L"Locked pincode", L"The SO pincode is locked.\r\n", true};
const InitTokenFailure kOtherFailure = {L"Error", L"An error occured.\r\n", true};

// The label's bytes followed by blanks; bytes beyond the field are dropped.
void FillLabelField(const PinText& label, CK_UTF8CHAR (&field)[kLabelFieldSize]) {
    memset(field, ' ', kLabelFieldSize);
    memcpy(field, label.Bytes(), label.Length() < kLabelFieldSize ? label.Length() : kLabelFieldSize);
}

BOOL OnInitDialog(HWND dialog) {
    if (MessageBoxW(dialog, kClearWarningText, L"Warning", MB_ICONWARNING | MB_YESNO) == IDNO ||
        !BindDialogToSelectedToken()) {
        EndDialog(dialog, 0);
        return FALSE;
    }
    SetFocus(GetDlgItem(dialog, IDC_CLEAR_SO_PIN));
    SetDlgItemTextW(dialog, IDC_CLEAR_LABEL, kDefaultLabel);
    return FALSE;
}

// The old session went with C_CloseAllSessions; the slot gets a new public
// one whatever C_InitToken answered. A slot whose session cannot be opened
// keeps no handle: a stale one could later name another token's session.
void ReplaceSlotSession(int slot) {
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    if (AppState.FunctionList->C_OpenSession(static_cast<CK_SLOT_ID>(slot), CKF_SERIAL_SESSION | CKF_RW_SESSION,
                                             nullptr, nullptr, &session) != CKR_OK)
        session = CK_INVALID_HANDLE;
    AppState.SessionTable[slot] = session;
    CK_STATE state = CKS_RW_PUBLIC_SESSION;
    if (!ReadSessionState(session, &state))
        return;
    SetTokenRowStatus(state, slot);
    UpdateButtonsForState(state);
}

void ShowClearedToken(int slot, CK_UTF8CHAR (&labelField)[kLabelFieldSize]) {
    SetTokenRowName(labelField, slot, false);
    SendMessageW(AppState.TokenInfoView, LVM_DELETEALLITEMS, 0, 0);
    CK_TOKEN_INFO info = {};
    if (AppState.FunctionList->C_GetTokenInfo(static_cast<CK_SLOT_ID>(slot), &info) == CKR_OK)
        FillTokenInfoPanel(static_cast<CK_SLOT_ID>(slot), info);
}

void ActOnInitToken(HWND dialog, CK_RV rv, CK_UTF8CHAR (&labelField)[kLabelFieldSize]) {
    if (rv == CKR_OK) {
        ShowClearedToken(AppState.DialogSlot, labelField);
        EndDialog(dialog, 0);
        MessageBoxW(dialog, L"Token initialized successfully.\r\n", L"", MB_ICONINFORMATION);
        return;
    }
    const InitTokenFailure& failure = ChooseBySoPinRefusal(rv, kWrongSoPin, kLockedSoPin, kOtherFailure);
    ShowCkErrorW(rv, failure.caption, failure.context);
    if (failure.endDialog) {
        EndDialog(dialog, 0);
        return;
    }
    SetDlgItemTextW(dialog, IDC_CLEAR_SO_PIN, L"");
    SetFocus(GetDlgItem(dialog, IDC_CLEAR_SO_PIN));
}

void OnOk(HWND dialog) {
    PinText soPin, label;
    soPin.ReadEdit(dialog, IDC_CLEAR_SO_PIN);
    label.ReadEdit(dialog, IDC_CLEAR_LABEL);
    if (soPin.WideLength() < kMinPinLength) {
        MessageBoxW(dialog, L"The entered SO pincode is too short.\r\n", L"Wrong pincode", MB_ICONERROR);
        SetFocus(GetDlgItem(dialog, IDC_CLEAR_SO_PIN));
        return;
    }
    CK_UTF8CHAR labelField[kLabelFieldSize];
    FillLabelField(label, labelField);
    label.Wipe();
    const int slot = AppState.DialogSlot;
    AppState.FunctionList->C_CloseAllSessions(static_cast<CK_SLOT_ID>(slot));
    const CK_RV rv = AppState.FunctionList->C_InitToken(static_cast<CK_SLOT_ID>(slot), soPin.CkBytes(),
                                                        soPin.Length(), labelField);
    soPin.Wipe();
    ReplaceSlotSession(slot);
    ActOnInitToken(dialog, rv, labelField);
    SecureZeroMemory(labelField, sizeof labelField);
}

const AdminDialogHandlers kClearTokenHandlers = {OnInitDialog, OnOk, EndDialogQuietly};

INT_PTR CALLBACK ClearTokenDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    return RouteAdminDialogMessage(kClearTokenHandlers, dialog, message, wParam);
}

}  // namespace

void OnClearTokenCommand(HWND mainWindow) {
    OpenAdminDialog(mainWindow, IDD_CLEAR_TOKEN, ClearTokenDialogProc);
}
