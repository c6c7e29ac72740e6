#include "objects/ObjectListing.h"

#include <commctrl.h>

#include "app/AppState.h"
#include "app/TokenPanel.h"
#include "cryptoki/ErrorReport.h"
#include "objects/CertificateName.h"
#include "objects/ObjectRow.h"
#include "objects/ObjectTables.h"

namespace {

const wchar_t kPublicOnlyText[] =
    L"Only public objects are visible.\nTo see all token objects, please login to token.\n\r";

int SelectedTokenRow() {
    return static_cast<int>(
        SendMessageW(AppState.TokenListView, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void AddObjectRow(int row, const ObjectRowCells& cells) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(cells[0].c_str());
    SendMessageW(AppState.ObjectListView, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    for (int cell = 1; cell < kObjectColumnCount; ++cell) {
        LVITEMW sub = {};
        sub.iSubItem = cell;
        sub.pszText = const_cast<wchar_t*>(cells[static_cast<size_t>(cell)].c_str());
        SendMessageW(AppState.ObjectListView, LVM_SETITEMTEXTW, static_cast<WPARAM>(row),
                     reinterpret_cast<LPARAM>(&sub));
    }
}

// Ends the search after a failure that was reported to the user.
int FailListing(CK_SESSION_HANDLE session, CK_RV rv, const wchar_t* caption) {
    ShowCkErrorW(rv, caption, L"");
    AppState.FunctionList->C_FindObjectsFinal(session);
    return 1;
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

void RestoreButtonsFromSession(int slot) {
    CK_SESSION_INFO info = {};
    if (slot >= 0 && slot < kMaxSlots &&
        AppState.FunctionList->C_GetSessionInfo(AppState.SessionTable[slot], &info) == CKR_OK)
        UpdateButtonsForState(info.state);
}

int ListTokenObjects(int slot) {
    ClearObjectTables();
    const CK_SESSION_HANDLE session = AppState.SessionTable[slot];
    CK_BBOOL isToken = CK_TRUE;
    CK_ATTRIBUTE tokenObjects = {CKA_TOKEN, &isToken, sizeof isToken};
    if (AppState.FunctionList->C_FindObjectsInit(session, &tokenObjects, 1) != CKR_OK)
        return 1;

    for (int row = 0;; ++row) {
        ObjectAttributes object;
        CK_OBJECT_HANDLE handle = 0;
        CK_ULONG found = 0;
        CK_RV rv = AppState.FunctionList->C_FindObjects(session, &handle, 1, &found);
        if (rv != CKR_OK)
            return FailListing(session, rv, L"Find object error");
        if (found == 0) {
            AppState.FunctionList->C_FindObjectsFinal(session);
            return 0;
        }
        SetObjectRow(row, handle, std::string());
        rv = ReadObjectAttributes(session, handle, &object);
        if (rv != CKR_OK)
            return FailListing(session, rv, L"Read object error");

        std::wstring certificateName;
        if (object.objectClass == CKO_CERTIFICATE)
            ReadCertificateCommonName(slot, handle, &certificateName);
        AddObjectRow(row, BuildObjectRow(handle, object, certificateName));
        SetObjectRow(row, handle, KeyIdTextOf(object));
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
