// The main window's command dispatch. Every command runs on the window
// thread, bound when it begins to the token selected then; none runs while
// a worker runs, whether a button, a menu, a key or a double-click asked.
#pragma once

#include <windows.h>

// Runs command `id` (WM_COMMAND of a button or menu entry); an ID that is
// no command does nothing.
void DispatchCommand(int id);

// A double-click on the object list, or Enter on it: shows the selected
// certificate row: an object command without a button.
void DispatchShowCertificate();
