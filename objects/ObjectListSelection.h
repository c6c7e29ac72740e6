// Reading the selection and the cells of the main window's list views.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// First selected row of a list view, -1 when none is selected.
int FirstSelectedRow(HWND listView);

// Every selected row of a list view, in ascending order.
std::vector<int> SelectedRows(HWND listView);

// Text of one cell, at most `maxChars` characters.
std::wstring CellText(HWND listView, int row, int cell, int maxChars);

// True when `row` of the object list `list` is a certificate row (its type
// cell reads exactly "Digital certificate").
bool IsCertificateRow(HWND list, int row);
