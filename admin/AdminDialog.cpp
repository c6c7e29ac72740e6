#include "admin/AdminDialog.h"

#include "admin/SecretEdits.h"
#include "cryptoki/ErrorReport.h"

namespace {

// What DialogCommand answers before WM_INITDIALOG: no token, no display.
const AdminCommand kNoCommand;

}  // namespace

INT_PTR RouteAdminDialogMessage(const AdminDialogHandlers& handlers, HWND dialog, UINT message, WPARAM wParam,
                                LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        GuardSecretEdits(dialog);
        BOOL result = FALSE;
        // A dialog that cannot even open ends at once, after the report.
        if (!RunReportingOutOfMemory([&] { result = handlers.onInitDialog(dialog); }))
            EndDialog(dialog, 0);
        return result;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            // The dialog stays open for another try, as after any refusal.
            RunReportingOutOfMemory([&] { handlers.onOk(dialog); });
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

void OpenAdminDialog(const AdminCommand& command, int templateId, DLGPROC procedure) {
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId), command.owner, procedure,
                    reinterpret_cast<LPARAM>(&command));
}

const AdminCommand& DialogCommand(HWND dialog) {
    const auto* command = reinterpret_cast<const AdminCommand*>(GetWindowLongPtrW(dialog, DWLP_USER));
    return command ? *command : kNoCommand;
}

void EndDialogQuietly(HWND dialog) {
    EndDialog(dialog, 0);
}
