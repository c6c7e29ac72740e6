// Keyboard use of the main window: Tab and Shift+Tab move between the
// lists and the enabled buttons, Enter presses the focused button (or, on
// the object list, opens the selected certificate as a double-click does),
// Delete on the object list deletes the selected objects, and Escape leaves
// the serial-number edit. Modal dialogs keep their own keyboard handling.
#pragma once

#include <windows.h>
#include <commctrl.h>

// Handles `message` when it is a navigation key for the main window or one
// of its controls; true when it was handled and must not be dispatched.
bool HandleMainWindowKey(MSG* message);

// The IDOK and IDCANCEL commands that the dialog keys send to the main window.
void OnMainWindowEnter(HWND mainWindow);
void OnMainWindowEscape();

// LVN_KEYDOWN of the object list.
void OnObjectListKey(const NMLVKEYDOWN& key);
