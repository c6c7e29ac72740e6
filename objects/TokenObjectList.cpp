#include "objects/TokenObjectList.h"

#include <windows.h>

#include <vector>

#include "app/AppState.h"
#include "cryptoki/ErrorReport.h"
#include "objects/CertificateName.h"
#include "objects/ObjectListRows.h"
#include "objects/ObjectRow.h"
#include "objects/ObjectTables.h"

namespace {

// Rows go to the list in batches: at most this many at once, and none
// waits longer than this for the rest of its batch, so that a slow token
// still shows its objects as they are read. Each batch costs the window a
// repaint of the list, which under Wine takes tens of milliseconds, so
// batches are large and a few per second at most.
constexpr size_t kBatchRows = 256;
constexpr ULONGLONG kBatchWaitMs = 200;

// Rows read but not shown yet, the first of them at `firstRow`.
struct PendingRows {
    int firstRow = 0;
    std::vector<ObjectRowCells> rows;
    ULONGLONG firstReadAt = 0;
};

// Shows the pending rows. False when the list no longer shows this listing:
// the slot monitor selected another token while it ran (which empties the
// list), so rows of this token would stand under the other one.
bool ShowPendingRows(PendingRows* pending, int listedSlot) {
    if (pending->rows.empty())
        return true;
    if (AppState.CurrentSlot != listedSlot)
        return false;
    const int added = AddObjectRows(AppState.ObjectListView, pending->firstRow, pending->rows);
    const bool all = added == static_cast<int>(pending->rows.size());
    pending->firstRow += added;
    pending->rows.clear();
    return all;
}

void Hold(PendingRows* pending, ObjectRowCells cells) {
    if (pending->rows.empty())
        pending->firstReadAt = GetTickCount64();
    pending->rows.push_back(std::move(cells));
}

bool BatchDue(const PendingRows& pending) {
    return pending.rows.size() >= kBatchRows || GetTickCount64() - pending.firstReadAt >= kBatchWaitMs;
}

// The list no longer shows this listing: the search ends quietly and the
// tables describe no row.
int AbandonListing(CK_SESSION_HANDLE session) {
    ClearObjectTables();
    AppState.FunctionList->C_FindObjectsFinal(session);
    return 0;
}

// Ends the search after a failure: the rows read before it are shown, then
// the failure is reported.
int FailListing(CK_SESSION_HANDLE session, PendingRows* pending, int listedSlot, CK_RV rv,
                const wchar_t* caption) {
    if (!ShowPendingRows(pending, listedSlot))
        ClearObjectTables();
    ShowCkErrorW(rv, caption, L"");
    AppState.FunctionList->C_FindObjectsFinal(session);
    return 1;
}

// The row of one object: its attributes, and for a certificate the
// subject's common name.
CK_RV ReadObjectRow(int slot, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle, ObjectRowCells* cells,
                    std::string* keyId) {
    ObjectAttributes object;
    const CK_RV rv = ReadObjectAttributes(session, handle, &object);
    if (rv != CKR_OK)
        return rv;
    std::wstring certificateName;
    if (object.objectClass == CKO_CERTIFICATE)
        ReadCertificateCommonName(slot, handle, &certificateName);
    *cells = BuildObjectRow(handle, object, certificateName);
    *keyId = KeyIdTextOf(object);
    return CKR_OK;
}

// The search reached the cap: the rows read are shown, the search ends and
// the user learns that the list is not the whole token.
int EndListingAtCap(CK_SESSION_HANDLE session, PendingRows* pending, int listedSlot) {
    if (!ShowPendingRows(pending, listedSlot))
        return AbandonListing(session);
    AppState.FunctionList->C_FindObjectsFinal(session);
    MessageBoxW(nullptr, kTooManyObjectsText, L"Display objects", MB_ICONWARNING);
    return 0;
}

}  // namespace

const wchar_t kTooManyObjectsText[] =
    L"The token holds more objects than the list can show.\r\nOnly the first 10000 are listed.\r\n";

int ListTokenObjects(int slot) {
    ClearObjectTables();
    const CK_SESSION_HANDLE session = AppState.SessionTable[slot];
    // The list shows this listing only while this slot's token is selected.
    const int listedSlot = slot;
    CK_BBOOL isToken = CK_TRUE;
    CK_ATTRIBUTE tokenObjects = {CKA_TOKEN, &isToken, sizeof isToken};
    if (AppState.FunctionList->C_FindObjectsInit(session, &tokenObjects, 1) != CKR_OK)
        return 1;

    PendingRows pending;
    for (int row = 0;; ++row) {
        if (row == kMaxListedObjects)
            return EndListingAtCap(session, &pending, listedSlot);
        CK_OBJECT_HANDLE handle = 0;
        CK_ULONG found = 0;
        CK_RV rv = AppState.FunctionList->C_FindObjects(session, &handle, 1, &found);
        if (rv != CKR_OK)
            return FailListing(session, &pending, listedSlot, rv, L"Find object error");
        if (found == 0) {
            if (!ShowPendingRows(&pending, listedSlot))
                return AbandonListing(session);
            AppState.FunctionList->C_FindObjectsFinal(session);
            return 0;
        }
        SetObjectRow(row, handle, std::string());
        ObjectRowCells cells;
        std::string keyId;
        rv = ReadObjectRow(slot, session, handle, &cells, &keyId);
        if (rv != CKR_OK)
            return FailListing(session, &pending, listedSlot, rv, L"Read object error");
        // The tables are filled before the row shows, so that whoever sees
        // a row finds its entries.
        SetObjectRow(row, handle, keyId);
        Hold(&pending, std::move(cells));
        if (BatchDue(pending) && !ShowPendingRows(&pending, listedSlot))
            return AbandonListing(session);
    }
}
