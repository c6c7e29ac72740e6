#include "objects/ObjectListRows.h"

#include <commctrl.h>

#include "objects/ObjectTables.h"

namespace {

unsigned CurrentGeneration = 1;

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
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    ClearObjectTables();
    if (++CurrentGeneration == 0)
        CurrentGeneration = 1;
}

unsigned ObjectListGeneration() {
    return CurrentGeneration;
}

// Wine's list view recomputes its layout for every row and cell that goes
// in while it redraws, which makes a long listing quadratic: the batch goes
// in with redrawing off and the list is repainted once after it.
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
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, FALSE);
    if (!all)
        ClearObjectTables();
    return all;
}
