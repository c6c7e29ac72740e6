#include "app/TokenSelection.h"

#include <commctrl.h>

#include "app/AppState.h"
#include "app/TokenPanel.h"
#include "cryptoki/ModuleLoader.h"
#include "objects/ObjectListRows.h"
#include "objects/ObjectListSelection.h"

namespace {

// Reads the information of the token in token-list row `row`; none for
// "no row selected" (-1).
bool ReadSelectedToken(int row, CK_TOKEN_INFO* info) {
    if (row < 0 || !Cryptoki.FunctionList)
        return false;
    return Cryptoki.FunctionList->C_GetTokenInfo(static_cast<CK_SLOT_ID>(row), info) == CKR_OK;
}

}  // namespace

int SelectedTokenSlot() {
    if (!AppState.TokenListView)
        return -1;
    const int row = FirstSelectedRow(AppState.TokenListView);
    return row >= 0 && row < kMaxSlots ? row : -1;
}

void SelectTokenRow(int row) {
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(AppState.TokenListView, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void EnableButtons(bool enabled) {
    for (HWND button : AppState.MainButtons)
        EnableWindow(button, enabled);
    if (AppState.AdminMode)
        for (HWND button : AppState.AdminButtons)
            EnableWindow(button, enabled);
}

void DisableTokenControls() {
    EnableButtons(false);
    EnableWindow(AppState.ObjectListView, FALSE);
}

void OnTokenSelectionChanged() {
    AppState.PublicOnlyWarningArmed = true;
    const int row = SelectedTokenSlot();
    if (row != AppState.CurrentSlot) {
        EmptyObjectList(AppState.ObjectListView);
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
    if (Cryptoki.FunctionList->C_GetSessionInfo(SessionTable[row], &session) == CKR_OK)
        UpdateButtonsForState(session.state);
    if (!AppState.Busy)
        EnableWindow(AppState.ObjectListView, TRUE);
}

void ApplyExportButtonRule() {
    if (AppState.Busy)
        return;
    const bool certificate = IsCertificateRow(AppState.ObjectListView, FirstSelectedRow(AppState.ObjectListView));
    EnableWindow(AppState.MainButtons[kExportButton], certificate ? TRUE : FALSE);
}
