#include "app/TokenSelection.h"

#include <commctrl.h>

#include "app/AppState.h"
#include "app/TokenPanel.h"
#include "objects/ObjectListSelection.h"

namespace {

// Reads the information of the token in token-list row `row`. Only rows
// that can hold a token with a session qualify: none for "no row selected"
// (-1), none past the session table.
bool ReadSelectedToken(int row, CK_TOKEN_INFO* info) {
    if (row < 0 || row >= kMaxSlots || !AppState.FunctionList)
        return false;
    return AppState.FunctionList->C_GetTokenInfo(static_cast<CK_SLOT_ID>(row), info) == CKR_OK;
}

}  // namespace

void DisableTokenControls() {
    for (HWND button : AppState.MainButtons)
        EnableWindow(button, FALSE);
    if (AppState.AdminMode)
        for (HWND button : AppState.AdminButtons)
            EnableWindow(button, FALSE);
    EnableWindow(AppState.ObjectListView, FALSE);
}

void OnTokenSelectionChanged() {
    AppState.PublicOnlyWarningArmed = true;
    const int row = FirstSelectedRow(AppState.TokenListView);
    if (row != AppState.CurrentSlot) {
        SendMessageW(AppState.ObjectListView, LVM_DELETEALLITEMS, 0, 0);
        AppState.CurrentSlot = row;
    }
    CK_TOKEN_INFO info = {};
    const bool haveToken = ReadSelectedToken(row, &info);
    SendMessageW(AppState.TokenInfoView, LVM_DELETEALLITEMS, 0, 0);
    if (!haveToken) {
        DisableTokenControls();
        return;
    }
    FillTokenInfoPanel(static_cast<CK_SLOT_ID>(row), info);
    CK_SESSION_INFO session = {};
    if (AppState.FunctionList->C_GetSessionInfo(AppState.SessionTable[row], &session) == CKR_OK)
        UpdateButtonsForState(session.state);
    if (!AppState.Busy)
        EnableWindow(AppState.ObjectListView, TRUE);
}

void ApplyExportButtonRule() {
    if (AppState.Busy)
        return;
    const bool certificate = IsCertificateRow(FirstSelectedRow(AppState.ObjectListView));
    EnableWindow(AppState.MainButtons[kExportButton], certificate ? TRUE : FALSE);
}
