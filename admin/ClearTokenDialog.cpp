// "Clear token": initialises the selected token with the SO PIN and a new
// label, which removes every object and the user PIN, and gives the slot a
// fresh application session.
#include <windows.h>

#include <cstring>

#include "admin/AdminCommands.h"
#include "admin/AdminDialog.h"
#include "admin/PinEntry.h"
#include "admin/SoLogin.h"
#include "admin/TokenDisplay.h"
#include "cryptoki/ErrorReport.h"
#include "cryptoki/ModuleLoader.h"
#include "cryptoki/SessionTable.h"
#include "res/resource.h"

namespace {

constexpr size_t kLabelFieldSize = kTokenLabelBytes;  // CK_TOKEN_INFO.label: blank-padded, no terminator

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

// The label's UTF-8 bytes followed by blanks. A label that does not fit
// was refused before (RefuseUnsendableText), so no character is cut.
void FillLabelField(const PinText& label, CK_UTF8CHAR (&field)[kLabelFieldSize]) {
    memset(field, ' ', kLabelFieldSize);
    memcpy(field, label.Bytes(), label.Length() < kLabelFieldSize ? label.Length() : kLabelFieldSize);
}

BOOL OnInitDialog(HWND dialog) {
    if (MessageBoxW(dialog, kClearWarningText, L"Warning", MB_ICONWARNING | MB_YESNO) == IDNO ||
        DialogSlot(dialog) < 0) {
        EndDialog(dialog, 0);
        return FALSE;
    }
    SetFocus(GetDlgItem(dialog, IDC_CLEAR_SO_PIN));
    SetDlgItemTextW(dialog, IDC_CLEAR_LABEL, kDefaultLabel);
    return FALSE;
}

// The old session went with C_CloseAllSessions; the slot gets a new public
// one whatever C_InitToken answered, and the main window shows its state.
void ReplaceSlotSession(HWND dialog) {
    const int slot = DialogSlot(dialog);
    SessionTable.Open(static_cast<CK_SLOT_ID>(slot));
    CK_STATE state = CKS_RW_PUBLIC_SESSION;
    if (!ReadSessionState(SessionTable[slot], &state))
        return;
    TokenDisplay& display = *DialogCommand(dialog).display;
    display.SetTokenRowStatus(state, slot);
    display.UpdateButtonsForState(slot, state);
}

void ShowClearedToken(HWND dialog, CK_UTF8CHAR (&labelField)[kLabelFieldSize]) {
    const int slot = DialogSlot(dialog);
    TokenDisplay& display = *DialogCommand(dialog).display;
    display.SetTokenRowName(labelField, slot);
    CK_TOKEN_INFO info = {};
    const bool read = Cryptoki.FunctionList->C_GetTokenInfo(static_cast<CK_SLOT_ID>(slot), &info) == CKR_OK;
    display.RefillTokenInfoPanel(static_cast<CK_SLOT_ID>(slot), read ? &info : nullptr);
}

void ActOnInitToken(HWND dialog, CK_RV rv, CK_UTF8CHAR (&labelField)[kLabelFieldSize]) {
    if (rv == CKR_OK) {
        ShowClearedToken(dialog, labelField);
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
    if (RefuseUnsendableText(dialog, {{IDC_CLEAR_SO_PIN, TokenTextForm::Pin},
                                      {IDC_CLEAR_LABEL, TokenTextForm::Label}}))
        return;
    PinText soPin, label(TokenTextForm::Label);
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
    const CK_SLOT_ID slot = static_cast<CK_SLOT_ID>(DialogSlot(dialog));
    SessionTable.CloseAll(slot);
    const CK_RV rv = Cryptoki.FunctionList->C_InitToken(slot, soPin.CkBytes(), soPin.Length(), labelField);
    soPin.Wipe();
    ReplaceSlotSession(dialog);
    ActOnInitToken(dialog, rv, labelField);
    SecureZeroMemory(labelField, sizeof labelField);
}

const AdminDialogHandlers kClearTokenHandlers = {OnInitDialog, OnOk, EndDialogQuietly};

INT_PTR CALLBACK ClearTokenDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return RouteAdminDialogMessage(kClearTokenHandlers, dialog, message, wParam, lParam);
}

}  // namespace

void OnClearTokenCommand(const AdminCommand& command) {
    OpenAdminDialog(command, IDD_CLEAR_TOKEN, ClearTokenDialogProc);
}
