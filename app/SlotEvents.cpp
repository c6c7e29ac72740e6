// The steps of a slot event, on the window thread: the monitor thread only
// waits for events and hands each one over (app/SlotMonitor.cpp).
#include "app/SlotMonitor.h"

#include <commctrl.h>

#include "app/AppState.h"
#include "app/TokenPanel.h"
#include "app/TokenSelection.h"
#include "cryptoki/ErrorReport.h"
#include "cryptoki/ModuleLoader.h"
#include "objects/ObjectListRows.h"

namespace {

const wchar_t kCaption[] = L"PKCS#11 error";

// Refills SlotList. The count the module answered, also when the call
// failed; TokenCount takes it only from a successful call and never beyond
// what SlotList holds.
CK_ULONG RefreshSlotList() {
    CK_ULONG count = kMaxSlots;
    const CK_RV rv = Cryptoki.FunctionList->C_GetSlotList(CK_TRUE, AppState.SlotList, &count);
    if (rv == CKR_OK)
        AppState.TokenCount = count < static_cast<CK_ULONG>(kMaxSlots) ? count : kMaxSlots;
    return count;
}

void ShowTokenInfo(CK_SLOT_ID slot, const CK_TOKEN_INFO& info) {
    SendMessageW(AppState.TokenInfoView, LVM_DELETEALLITEMS, 0, 0);
    FillTokenInfoPanel(slot, info);
}

// Applies the state of the slot's session to the buttons (which stay as
// they are while a worker runs); the record keeps state 0 when it cannot
// be read.
void ApplySessionState(CK_SLOT_ID slot, CK_SESSION_INFO* sessionInfo) {
    if (Cryptoki.FunctionList->C_GetSessionInfo(SessionTable[static_cast<int>(slot)], sessionInfo) == CKR_OK)
        UpdateButtonsForState(sessionInfo->state);
}

// No token left: nothing to show and nothing to act on.
void ShowNoToken() {
    SendMessageW(AppState.TokenInfoView, LVM_DELETEALLITEMS, 0, 0);
    DisableTokenControls();
    EmptyObjectList(AppState.ObjectListView);
}

void OnTokenRemoved(CK_SLOT_ID slot) {
    SetTokenRowName(nullptr, static_cast<int>(slot), false);
    SetTokenRowStatus(kNoTokenState, static_cast<int>(slot));
    if (RefreshSlotList() == 0) {
        ShowNoToken();
        return;
    }
    const int selected = SelectedTokenSlot();
    if (selected == -1)
        return;
    // The first remaining token becomes the selected one.
    const CK_SLOT_ID first = AppState.SlotList[0];
    SelectTokenRow(static_cast<int>(first));
    AppState.CurrentSlot = static_cast<int>(first);
    CK_TOKEN_INFO info = {};
    Cryptoki.FunctionList->C_GetTokenInfo(first, &info);
    ShowTokenInfo(first, info);
    CK_SESSION_INFO sessionInfo = {};
    ApplySessionState(static_cast<CK_SLOT_ID>(selected), &sessionInfo);
}

void OnTokenInserted(CK_SLOT_ID slot, CK_TOKEN_INFO* info) {
    CK_SESSION_INFO sessionInfo = {};
    SetTokenRowName(info->label, static_cast<int>(slot), false);
    RefreshSlotList();
    ShowTokenInfo(slot, *info);
    SelectTokenRow(static_cast<int>(slot));
    EmptyObjectList(AppState.ObjectListView);
    AppState.CurrentSlot = static_cast<int>(slot);
    if (slot < static_cast<CK_SLOT_ID>(kMaxSlots)) {
        // An event for a token that never left keeps its session, and with
        // it the login; a token put back gets a new one.
        const CK_RV rv = SessionTable.KeepOrOpen(slot);
        if (rv != CKR_OK)
            ShowCkErrorW(rv, kCaption, L"Open session failed\r\n");
    }
    ApplySessionState(slot, &sessionInfo);
    SetTokenRowStatus(sessionInfo.state, static_cast<int>(slot));
    // A deletion keeps the object list disabled until it ends.
    if (!AppState.Busy)
        EnableWindow(AppState.ObjectListView, TRUE);
}

}  // namespace

void OnSlotEvent(CK_SLOT_ID slot) {
    CK_TOKEN_INFO info = {};
    if (Cryptoki.FunctionList->C_GetTokenInfo(slot, &info) != CKR_OK)
        OnTokenRemoved(slot);
    else
        OnTokenInserted(slot, &info);
}

void OnSlotMonitorFailed(const SlotMonitorFailure& failure) {
    ShowCkErrorW(failure.rv, kCaption, failure.context);
}
