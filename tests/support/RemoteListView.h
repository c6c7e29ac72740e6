// Reading a list view of another process: the item record and the text
// buffer are placed in that process's memory. Used by whole-program tests
// and by the start-up benchmark, so it needs nothing but Win32.
#pragma once

#include <windows.h>

#include <string>

std::wstring RemoteListViewText(HWND list, int row, int column);
int RemoteListViewRowCount(HWND list);
int RemoteListViewSelectedRow(HWND list);
