#include "objects/ObjectListRows.h"

#include <commctrl.h>

#include "objects/ObjectTables.h"

namespace {

unsigned CurrentGeneration = 1;

// Wine's list view repaints every visible row when its redrawing is
// switched back on, tens of milliseconds each time: repainted after every
// batch, a listing of 5,000 objects spent two thirds of its time painting.
// The list is repainted after the first rows of a listing (a slow token
// shows them at once), then at most this often while rows come in, and
// when the listing ends (ShowHeldObjectRows).
constexpr ULONGLONG kRepaintIntervalMs = 250;
ULONGLONG LastRepaint = 0;
bool RedrawHeld = false;  // rows went in since the list was last repainted

void RepaintList(HWND list) {
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, FALSE);
    RedrawHeld = false;
    LastRepaint = GetTickCount64();
}

bool AddRow(HWND list, int row, const ObjectRowCells& cells) {
    if (static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)) != row)
        return false;
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(cells[0].c_str());
    const int index = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (index != row) {
        if (index >= 0)
            SendMessageW(list, LVM_DELETEITEM, static_cast<WPARAM>(index), 0);
        return false;
    }
    for (int cell = 1; cell < kObjectColumnCount; ++cell) {
        LVITEMW sub = {};
        sub.iSubItem = cell;
        sub.pszText = const_cast<wchar_t*>(cells[static_cast<size_t>(cell)].c_str());
        SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&sub));
    }
    return true;
}

}  // namespace

void EmptyObjectList(HWND list) {
    if (RedrawHeld)
        RepaintList(list);
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    ClearObjectTables();
    if (++CurrentGeneration == 0)
        CurrentGeneration = 1;
}

unsigned ObjectListGeneration() {
    return CurrentGeneration;
}

void ShowHeldObjectRows(HWND list) {
    if (RedrawHeld)
        RepaintList(list);
}

bool ObjectRowsAwaitRepaint() {
    return RedrawHeld;
}

// Wine's list view recomputes its layout for every row and cell that goes
// in while it redraws, which makes a long listing quadratic: the batch goes
// in with redrawing off, and the list is repainted after it only when the
// rows are the listing's first or the last repaint is a while ago.
bool AddListedRows(HWND list, const ObjectRowBatch& batch) {
    if (batch.generation != CurrentGeneration)
        return false;
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    bool all = true;
    int row = batch.firstRow;
    for (const ListedRow& listed : batch.rows) {
        // The tables are filled with the row, so that whoever sees a row
        // finds its entries.
        if (!AddRow(list, row, listed.cells)) {
            all = false;
            break;
        }
        SetObjectRow(row++, listed.handle, listed.keyIdText);
    }
    if (!all || batch.firstRow == 0 || GetTickCount64() - LastRepaint >= kRepaintIntervalMs)
        RepaintList(list);
    else
        RedrawHeld = true;
    if (!all)
        ClearObjectTables();
    return all;
}
