#include "objects/TokenObjectList.h"

#include <windows.h>
#include <commctrl.h>

#include "app/AppState.h"
#include "cryptoki/ErrorReport.h"
#include "objects/CertificateName.h"
#include "objects/ObjectRow.h"
#include "objects/ObjectTables.h"

namespace {

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

