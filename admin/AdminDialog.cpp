#include "admin/AdminDialog.h"

#include "app/AppState.h"
#include "app/SecretEdits.h"

INT_PTR RouteAdminDialogMessage(const AdminDialogHandlers& handlers, HWND dialog, UINT message,
                                WPARAM wParam) {
    switch (message) {
    case WM_INITDIALOG:
        GuardSecretEdits(dialog);
        return handlers.onInitDialog(dialog);
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            handlers.onOk(dialog);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            SendMessageW(dialog, WM_CLOSE, 0, 0);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        handlers.onClose(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

void OpenAdminDialog(HWND mainWindow, int templateId, DLGPROC procedure) {
    if (AdminCommandBlocked())
        return;
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId), mainWindow, procedure, 0);
}

void EndDialogQuietly(HWND dialog) {
    EndDialog(dialog, 0);
}

bool AdminCommandBlocked() {
    return AppState.Busy;
}
