// What the tour reads of the program's windows from outside its process:
// top-level windows by caption, list-view rows and where they are on the
// screen, and waits on what the windows show.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "support/ProgramRun.h"

// Polls `condition` until it holds; false after `timeoutMs`.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// A visible top-level window of the process with this class and caption
// that takes input (no box of its own on top of it); null after
// `timeoutMs`. An empty caption matches a window without one.
HWND WaitForTopLevel(ProgramRun& run, const wchar_t* className, const std::wstring& caption, DWORD timeoutMs);

// A visible open or save dialog of the process (it has a file-name box).
HWND WaitForFileDialog(ProgramRun& run, DWORD timeoutMs);
constexpr int kFileNameBox = 1148;  // cmb13 of the common file dialogs

// A visible pop-up menu of the process.
HWND WaitForPopupMenu(ProgramRun& run, DWORD timeoutMs);

// Screen point inside entry `index` (separators not counted) of the
// visible pop-up menu window `menu`, found as a user finds it: the pointer
// moves down the menu and each entry it lights up is counted. Menus of
// another process cannot be asked for their entries' places. False when
// the entry is not there.
bool FindMenuEntry(HWND menu, int index, POINT* screen);

// A visible tooltip of the process whose text holds `part`; null after
// `timeoutMs`.
HWND WaitForTooltip(ProgramRun& run, const std::wstring& part, DWORD timeoutMs);

// Whether any visible window of the process has this class and caption.
bool IsShowing(ProgramRun& run, const wchar_t* className, const std::wstring& caption);

// The caption or control text of a window of another process.
std::wstring TextOf(HWND window);

// Screen rectangle of a list-view row (its label part); false when the row
// is not there.
bool RemoteListViewRowRect(HWND list, int row, RECT* screen);

// First row whose cell in `column` reads `text`; -1 when none.
int FindListRow(HWND list, int column, const std::wstring& text);
