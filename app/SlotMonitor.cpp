#include "app/SlotMonitor.h"

#include <commctrl.h>

#include "app/AppState.h"
#include "app/TokenPanel.h"
#include "cryptoki/ErrorReport.h"

namespace {

constexpr DWORD kPassPauseMs = 15;
const wchar_t kCaption[] = L"PKCS#11 error";
const wchar_t kWaitFailed[] = L"Wait for slot is failed with unkown error";

bool HasSession(CK_SLOT_ID slot) {
    return slot < static_cast<CK_SLOT_ID>(kMaxSlots);
}

// Refills SlotList. The count the module answered, also when the call
// failed; TokenCount takes it only from a successful call and never beyond
// what SlotList holds.
CK_ULONG RefreshSlotList() {
    CK_ULONG count = kMaxSlots;
    CK_RV rv = AppState.FunctionList->C_GetSlotList(CK_TRUE, AppState.SlotList, &count);
    if (rv == CKR_OK)
        AppState.TokenCount = count < static_cast<CK_ULONG>(kMaxSlots) ? count : kMaxSlots;
    return count;
}

void SelectTokenRow(CK_SLOT_ID slot) {
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(AppState.TokenListView, LVM_SETITEMSTATE, static_cast<WPARAM>(slot),
                 reinterpret_cast<LPARAM>(&item));
}

void ShowTokenInfo(CK_SLOT_ID slot, const CK_TOKEN_INFO& info) {
    SendMessageW(AppState.TokenInfoView, LVM_DELETEALLITEMS, 0, 0);
    FillTokenInfoPanel(slot, info);
}

void ApplySessionState(CK_SLOT_ID slot, CK_SESSION_INFO* sessionInfo) {
    if (HasSession(slot) &&
        AppState.FunctionList->C_GetSessionInfo(AppState.SessionTable[slot], sessionInfo) == CKR_OK)
        UpdateButtonsForState(sessionInfo->state);
}

void DisableEverything() {
    SendMessageW(AppState.TokenInfoView, LVM_DELETEALLITEMS, 0, 0);
    for (HWND button : AppState.MainButtons)
        EnableWindow(button, FALSE);
    if (AppState.AdminMode)
        for (HWND button : AppState.AdminButtons)
            EnableWindow(button, FALSE);
    SendMessageW(AppState.ObjectListView, LVM_DELETEALLITEMS, 0, 0);
    EnableWindow(AppState.ObjectListView, FALSE);
}

void OnTokenRemoved(CK_SLOT_ID slot) {
    SetTokenRowName(nullptr, static_cast<int>(slot), false);
    SetTokenRowStatus(static_cast<CK_STATE>(-1), static_cast<int>(slot));
    if (RefreshSlotList() == 0) {
        DisableEverything();
        return;
    }
    const int selected = static_cast<int>(SendMessageW(
        AppState.TokenListView, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (selected == -1)
        return;
    // The first remaining token becomes the selected one.
    const CK_SLOT_ID first = AppState.SlotList[0];
    SelectTokenRow(first);
    AppState.CurrentSlot = static_cast<int>(first);
    CK_TOKEN_INFO info = {};
    AppState.FunctionList->C_GetTokenInfo(first, &info);
    ShowTokenInfo(first, info);
    CK_SESSION_INFO sessionInfo = {};
    ApplySessionState(static_cast<CK_SLOT_ID>(selected), &sessionInfo);
}

void OnTokenInserted(CK_SLOT_ID slot, CK_TOKEN_INFO* info) {
    CK_SESSION_INFO sessionInfo = {};
    SetTokenRowName(info->label, static_cast<int>(slot), false);
    RefreshSlotList();
    ShowTokenInfo(slot, *info);
    SelectTokenRow(slot);
    SendMessageW(AppState.ObjectListView, LVM_DELETEALLITEMS, 0, 0);
    AppState.CurrentSlot = static_cast<int>(slot);
    if (HasSession(slot)) {
        // A handle left from before the removal is replaced, not closed: the
        // module dropped it with the token.
        CK_RV rv = AppState.FunctionList->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION,
                                                        nullptr, nullptr, &AppState.SessionTable[slot]);
        if (rv != CKR_OK)
            ShowCkErrorW(rv, kCaption, L"Open session failed\r\n");
    }
    ApplySessionState(slot, &sessionInfo);
    SetTokenRowStatus(sessionInfo.state, static_cast<int>(slot));
    // A deletion worker keeps the object list disabled until it ends.
    if (!AppState.Busy)
        EnableWindow(AppState.ObjectListView, TRUE);
}

// Waits for the next event; 0 with the slot, or the thread's result.
int WaitForEvent(CK_SLOT_ID* slot) {
    for (;;) {
        CK_RV rv = AppState.FunctionList->C_WaitForSlotEvent(0, slot, nullptr);
        if (rv == CKR_OK)
            return 0;
        if (rv != CKR_FUNCTION_NOT_SUPPORTED) {
            ShowCkErrorW(rv, kCaption, kWaitFailed);
            return kMonitorBlockingWaitFailed;
        }
        // The module cannot block: poll.
        rv = AppState.FunctionList->C_WaitForSlotEvent(CKF_DONT_BLOCK, slot, nullptr);
        if (rv == CKR_OK)
            return 0;
        if (rv == CKR_NO_EVENT) {
            Sleep(kPassPauseMs);
            continue;
        }
        if (rv == CKR_FUNCTION_NOT_SUPPORTED) {
            ShowCkErrorW(rv, kCaption, L"Wait for slot is not supported by the cryptoki");
            return kMonitorWaitNotSupported;
        }
        ShowCkErrorW(rv, kCaption, kWaitFailed);
        return kMonitorPollingFailed;
    }
}

}  // namespace

DWORD WINAPI SlotMonitorThread(LPVOID) {
    for (;;) {
        CK_SLOT_ID slot = 0;
        const int result = WaitForEvent(&slot);
        if (result != 0)
            return static_cast<DWORD>(result);
        CK_TOKEN_INFO info = {};
        if (AppState.FunctionList->C_GetTokenInfo(slot, &info) != CKR_OK)
            OnTokenRemoved(slot);
        else
            OnTokenInserted(slot, &info);
        Sleep(kPassPauseMs);
    }
}

void StartSlotMonitor() {
    HANDLE thread = CreateThread(nullptr, 0, SlotMonitorThread, nullptr, 0, nullptr);
    if (thread)
        CloseHandle(thread);
}
