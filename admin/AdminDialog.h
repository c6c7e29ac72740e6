// The message routing that every PIN and token administration dialog shares:
// each dialog supplies its three handlers, the procedure only dispatches.
#pragma once

#include <windows.h>

#include "admin/AdminCommands.h"

struct AdminDialogHandlers {
    // WM_INITDIALOG; the result is the message's (FALSE: the focus was set).
    BOOL (*onInitDialog)(HWND dialog);
    void (*onOk)(HWND dialog);
    // The close request, sent by Cancel and by the system menu; ends the dialog.
    void (*onClose)(HWND dialog);
};

// Routes `message` to the handlers. The dialog's command (the lParam of
// WM_INITDIALOG) is kept with the dialog for DialogCommand.
INT_PTR RouteAdminDialogMessage(const AdminDialogHandlers& handlers, HWND dialog, UINT message, WPARAM wParam,
                                LPARAM lParam);

// Opens dialog resource `templateId` of the program modally, owned by the
// main window, for `command`. Dialog results are not looked at: each dialog
// reports for itself.
void OpenAdminDialog(const AdminCommand& command, int templateId, DLGPROC procedure);

// The command the open dialog `dialog` runs for.
const AdminCommand& DialogCommand(HWND dialog);

// The close request of the dialogs that make no Cryptoki call when closing.
void EndDialogQuietly(HWND dialog);
