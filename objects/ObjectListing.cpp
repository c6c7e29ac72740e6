#include "objects/ObjectListing.h"

#include <windows.h>
#include <commctrl.h>

#include "app/AppState.h"
#include "app/TokenPanel.h"
#include "cryptoki/ErrorReport.h"
#include "objects/TokenObjectList.h"

namespace {

const wchar_t kPublicOnlyText[] =
    L"Only public objects are visible.\nTo see all token objects, please login to token.\n\r";

int SelectedTokenRow() {
    return static_cast<int>(
        SendMessageW(AppState.TokenListView, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

}  // namespace

void SetSessionControlsEnabled(bool enabled) {
    for (HWND button : AppState.MainButtons)
        if (button)
            EnableWindow(button, enabled);
    if (AppState.AdminMode)
        for (HWND button : AppState.AdminButtons)
            if (button)
                EnableWindow(button, enabled);
    EnableWindow(AppState.TokenListView, enabled);
}

void RestoreButtonsFromSession(int workerSlot) {
    // The slot monitor may have selected another token while the worker ran
    // (its own button update was held back then): the buttons follow the
    // token the user now sees, and stay disabled when none is selected.
    // The monitor also held back enabling the object list for a token put
    // in meanwhile: a token whose session answers gets its list back.
    const int slot = AppState.TokenListView ? SelectedTokenRow() : workerSlot;
    CK_SESSION_INFO info = {};
    if (slot >= 0 && slot < kMaxSlots &&
        AppState.FunctionList->C_GetSessionInfo(AppState.SessionTable[slot], &info) == CKR_OK) {
        UpdateButtonsForState(info.state);
        EnableWindow(AppState.ObjectListView, TRUE);
    }
}

DWORD WINAPI ObjectListThread(LPVOID parameter) {
    const int slot = static_cast<int>(reinterpret_cast<INT_PTR>(parameter));
    SetSessionControlsEnabled(false);
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    AppState.Busy = true;

    if (ListTokenObjects(slot) == 1)
        AppState.FunctionList->C_FindObjectsFinal(AppState.SessionTable[slot]);

    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    AppState.Busy = false;
    RestoreButtonsFromSession(slot);
    EnableWindow(AppState.TokenListView, TRUE);
    return 0;
}

bool StartObjectListing(int slot) {
    if (slot < 0 || slot >= kMaxSlots || AppState.Busy)
        return false;
    SetSessionControlsEnabled(false);
    AppState.Busy = true;
    HANDLE thread = CreateThread(nullptr, 0, ObjectListThread,
                                 reinterpret_cast<LPVOID>(static_cast<INT_PTR>(slot)), 0, nullptr);
    if (!thread) {
        AppState.Busy = false;
        RestoreButtonsFromSession(slot);
        EnableWindow(AppState.TokenListView, TRUE);
        return false;
    }
    CloseHandle(thread);
    return true;
}

void DisplayObjectsCommand() {
    // A listing or deletion still runs: its rows stay and no second search
    // starts on the same session.
    if (AppState.Busy)
        return;
    SendMessageW(AppState.ObjectListView, LVM_DELETEALLITEMS, 0, 0);
    const int slot = SelectedTokenRow();
    if (slot < 0 || slot >= kMaxSlots)
        return;  // nothing selected: nothing to list
    CK_SESSION_INFO info = {};
    if (AppState.FunctionList->C_GetSessionInfo(AppState.SessionTable[slot], &info) == CKR_OK &&
        info.state != CKS_RW_USER_FUNCTIONS && AppState.PublicOnlyWarningArmed) {
        MessageBoxW(nullptr, kPublicOnlyText, L"User not logged in", MB_ICONWARNING);
        AppState.PublicOnlyWarningArmed = false;
    }
    StartObjectListing(slot);
}
