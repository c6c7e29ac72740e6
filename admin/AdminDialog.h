// The message routing that every PIN and token administration dialog shares:
// each dialog supplies its three handlers, the procedure only dispatches.
#pragma once

#include <windows.h>

struct AdminDialogHandlers {
    // WM_INITDIALOG; the result is the message's (FALSE: the focus was set).
    BOOL (*onInitDialog)(HWND dialog);
    void (*onOk)(HWND dialog);
    // The close request, sent by Cancel and by the system menu; ends the dialog.
    void (*onClose)(HWND dialog);
};

INT_PTR RouteAdminDialogMessage(const AdminDialogHandlers& handlers, HWND dialog, UINT message,
                                WPARAM wParam);

// While a worker thread uses the sessions (Busy), no command logs in or out
// or changes PINs: the policy command has no button that could be disabled.
bool AdminCommandBlocked();

// Opens dialog resource `templateId` of the program modally, owned by the
// main window, unless AdminCommandBlocked. Dialog results are not looked
// at: each dialog reports for itself.
void OpenAdminDialog(HWND mainWindow, int templateId, DLGPROC procedure);

// The close request of the dialogs that make no Cryptoki call when closing.
void EndDialogQuietly(HWND dialog);
