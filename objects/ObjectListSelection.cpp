#include "objects/ObjectListSelection.h"

#include <commctrl.h>

#include "objects/ObjectText.h"

int FirstSelectedRow(HWND listView) {
    return static_cast<int>(
        SendMessageW(listView, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

std::vector<int> SelectedRows(HWND listView) {
    std::vector<int> rows;
    int row = -1;
    while ((row = static_cast<int>(SendMessageW(listView, LVM_GETNEXTITEM, static_cast<WPARAM>(row),
                                                LVNI_SELECTED))) != -1)
        rows.push_back(row);
    return rows;
}

std::wstring CellText(HWND listView, int row, int cell, int maxChars) {
    std::wstring text(static_cast<size_t>(maxChars) + 1, L'\0');
    LVITEMW item = {};
    item.iSubItem = cell;
    item.pszText = &text[0];
    item.cchTextMax = maxChars + 1;
    SendMessageW(listView, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    text.resize(wcslen(text.c_str()));
    return text;
}

bool IsCertificateRow(HWND list, int row) {
    // The type cell is read into 30 characters, enough for the marker text.
    return row >= 0 && CellText(list, row, 1, 30) == kCertificateTypeText;
}
