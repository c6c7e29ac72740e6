#include "objects/ObjectDeletion.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <memory>
#include <new>

#include "app/AppState.h"
#include "cryptoki/ErrorReport.h"
#include "objects/ObjectListSelection.h"
#include "objects/ObjectListing.h"
#include "objects/ObjectTables.h"

namespace {

void ReportRefusedObject(CK_OBJECT_HANDLE handle, CK_RV rv) {
    char detail[200];
    snprintf(detail, sizeof detail, "Failed to remove object obj %d, Error: %lx",
             static_cast<int>(handle), static_cast<unsigned long>(rv));
    char text[400];
    snprintf(text, sizeof text, "An error occured due to %s\r\n%s", GetCkrName(rv).c_str(), detail);
    MessageBoxA(nullptr, text, "Object deletion problem", MB_ICONWARNING);
}

bool TokenPresent(int slot) {
    CK_TOKEN_INFO info = {};
    return AppState.FunctionList->C_GetTokenInfo(static_cast<CK_SLOT_ID>(slot), &info) == CKR_OK;
}

// The request for `rows` of the object list; null when there is no memory.
DeletionRequest* NewDeletionRequest(int slot, const std::vector<int>& rows) {
    std::unique_ptr<DeletionRequest> request(new (std::nothrow) DeletionRequest);
    if (!request)
        return nullptr;
    request->slot = slot;
    try {
        request->handles.reserve(rows.size());
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    for (int row : rows)
        request->handles.push_back(ObjectHandleAt(row));
    return request.release();
}

}  // namespace

DWORD WINAPI DeleteObjectsThread(LPVOID parameter) {
    std::unique_ptr<DeletionRequest> request(static_cast<DeletionRequest*>(parameter));
    const int slot = request->slot;
    EnableWindow(AppState.ObjectListView, FALSE);
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    AppState.Busy = true;

    for (CK_OBJECT_HANDLE handle : request->handles) {
        CK_RV rv = AppState.FunctionList->C_DestroyObject(AppState.SessionTable[slot], handle);
        if (rv != CKR_OK)
            ReportRefusedObject(handle, rv);
        Sleep(10);
    }

    // The token list stays disabled until the rebuilt listing has ended: it
    // still uses the session. The object list comes back only while the
    // token selected now is there: the slot monitor disabled the list when
    // the token was taken out during the deletions (and may have selected
    // another token since), and a list of no token takes no input.
    const int shown = FirstSelectedRow(AppState.TokenListView);
    if (shown >= 0 && TokenPresent(shown))
        EnableWindow(AppState.ObjectListView, TRUE);
    SendMessageW(AppState.ObjectListView, LVM_DELETEALLITEMS, 0, 0);
    ListTokenObjects(slot);

    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    AppState.Busy = false;
    RestoreButtonsFromSession(slot);
    EnableWindow(AppState.TokenListView, TRUE);
    return 0;
}

void DeleteObjectsCommand() {
    const int slot = FirstSelectedRow(AppState.TokenListView);
    const std::vector<int> rows = SelectedRows(AppState.ObjectListView);
    if (rows.empty() || slot < 0 || slot >= kMaxSlots || AppState.Busy)
        return;
    if (MessageBoxW(AppState.MainWindow, L"Do you want to remove selected objects?\n\r",
                    L"Remove object", MB_YESNO | MB_ICONWARNING) != IDYES)
        return;

    // The handles are taken here, before the worker starts: the selection
    // may change once the window thread goes back to its messages.
    DeletionRequest* request = NewDeletionRequest(slot, rows);
    if (!request) {
        MessageBoxW(nullptr, L"Error in allocating memory", L"", MB_ICONERROR);
        return;
    }

    SetSessionControlsEnabled(false);
    AppState.Busy = true;
    HANDLE thread = CreateThread(nullptr, 0, DeleteObjectsThread, request, 0, nullptr);
    if (!thread) {
        delete request;
        AppState.Busy = false;
        RestoreButtonsFromSession(slot);
        EnableWindow(AppState.TokenListView, TRUE);
        return;
    }
    CloseHandle(thread);
}
