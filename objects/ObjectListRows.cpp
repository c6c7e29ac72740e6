#include "objects/ObjectListRows.h"

#include <commctrl.h>

namespace {

// The list view's own procedure, kept as a window property while the
// row-adding procedure stands in front of it.
const wchar_t kListProcedureProperty[] = L"TokenManager.ObjectListProcedure";

struct RowBatch {
    int firstRow;
    const std::vector<ObjectRowCells>* rows;
};

UINT AddRowsMessage() {
    static const UINT message = RegisterWindowMessageW(L"TokenManager.AddObjectRows");
    return message;
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

// Wine's list view recomputes its layout for every row and cell that goes
// in while it redraws, which makes a long listing quadratic: the batch goes
// in with redrawing off and the list is repainted once after it.
int AddRows(HWND list, const RowBatch& batch) {
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    int added = 0;
    for (const ObjectRowCells& cells : *batch.rows) {
        if (!AddRow(list, batch.firstRow + added, cells))
            break;
        ++added;
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, FALSE);
    return added;
}

LRESULT CALLBACK ObjectListProcedure(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    const WNDPROC listProcedure = reinterpret_cast<WNDPROC>(GetPropW(list, kListProcedureProperty));
    if (message == AddRowsMessage())
        return AddRows(list, *reinterpret_cast<const RowBatch*>(lParam));
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(listProcedure));
        RemovePropW(list, kListProcedureProperty);
    }
    return CallWindowProcW(listProcedure, list, message, wParam, lParam);
}

// Puts ObjectListProcedure in front of the list's procedure, once per list.
// The property is set first, so that the procedure finds it from its
// first message on.
void InstallRowAdder(HWND list) {
    if (GetPropW(list, kListProcedureProperty))
        return;
    SetPropW(list, kListProcedureProperty, reinterpret_cast<HANDLE>(GetWindowLongPtrW(list, GWLP_WNDPROC)));
    SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ObjectListProcedure));
}

}  // namespace

int AddObjectRows(HWND list, int firstRow, const std::vector<ObjectRowCells>& rows) {
    const RowBatch batch = {firstRow, &rows};
    if (GetWindowThreadProcessId(list, nullptr) == GetCurrentThreadId())
        return AddRows(list, batch);
    InstallRowAdder(list);
    return static_cast<int>(SendMessageW(list, AddRowsMessage(), 0, reinterpret_cast<LPARAM>(&batch)));
}
