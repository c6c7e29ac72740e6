#include "import/PfxImportDialog.h"

#include "admin/SecretEdits.h"
#include "cryptoki/ErrorReport.h"
#include "import/ImportCertificate.h"
#include "import/ImportPfx.h"
#include "import/PfxImportState.h"
#include "objects/ObjectCommand.h"
#include "objects/ObjectListing.h"
#include "res/resource.h"

namespace {

// What the dialog does after an import: whether it closes, and its message.
struct PfxResultAction {
    long long result;
    const wchar_t* text;  // null: no message
    const wchar_t* caption;
    bool endDialog;
};

const PfxResultAction kPfxResultActions[] = {
    {kPfxPathTooShort, L"An internal error occured. Can't open PFX file.\r", L"PFX error", true},
    {kPfxFileNotReadable, L"An internal error occured. Can't open PFX file.\r", L"PFX error", true},
    {kPfxInvalid, L"The pfx file is invalid.\r", L"PFX error", true},
    {kPfxNotOpened, L"The specified pfx password is incorrect\r", L"Wrong password", false},
    {kImportOutOfMemory, L"Error in allocating memory", L"", true},
};

BOOL OnInitDialog(HWND dialog, LPARAM command) {
    SetWindowLongPtrW(dialog, DWLP_USER, command);
    HWND password = GetDlgItem(dialog, IDC_PFX_PASSWORD);
    SendMessageW(password, EM_LIMITTEXT, kPfxPasswordCapacity - 1, 0);
    SetFocus(password);
    return FALSE;  // the focus is set
}

// After a successful import: the object list is built again for the token
// the import went to.
void FinishImport(HWND dialog) {
    ObjectCommand listing = *reinterpret_cast<const ObjectCommand*>(GetWindowLongPtrW(dialog, DWLP_USER));
    listing.slot = PfxImportState.DialogSlot;
    if (StartObjectListing(listing))
        EndDialog(dialog, 0);
}

void ReportKeyObjectFailure(CK_RV rv) {
    if (rv == CKR_DEVICE_MEMORY)
        ShowCkErrorW(rv, L"Insufficient device memory", L"Device memory is insufficient for importing pfx.\r");
    else
        ShowCkErrorW(rv, L"General error", L"");
}

void ActOnResult(HWND dialog, long long result) {
    if (result == kPfxImported) {
        FinishImport(dialog);
        return;
    }
    CK_RV rv = CKR_OK;
    if (IsCryptokiFailure(result, &rv)) {
        ReportKeyObjectFailure(rv);
        EndDialog(dialog, 0);
        return;
    }
    for (const PfxResultAction& action : kPfxResultActions)
        if (action.result == result) {
            MessageBoxW(nullptr, action.text, action.caption, MB_ICONERROR);
            if (action.endDialog)
                EndDialog(dialog, 0);
            return;
        }
    EndDialog(dialog, 0);  // key handling failed: no message
}

void OnOk(HWND dialog) {
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    wchar_t* password = PfxImportState.PfxPasswordBuffer;
    GetDlgItemTextW(dialog, IDC_PFX_PASSWORD, password, kPfxPasswordCapacity);
    if (wcsnlen(password, kPfxPasswordCapacity) < 2) {
        SecureZeroMemory(password, sizeof PfxImportState.PfxPasswordBuffer);
        SetCursor(LoadCursorW(nullptr, IDC_ARROW));
        MessageBoxW(dialog, L"Please enter valid pfx password.\r\n", L"Invalid password", MB_ICONWARNING);
        return;
    }
    PfxImportState.PfxImportChain = IsDlgButtonChecked(dialog, IDC_PFX_IMPORT_CHAIN) == BST_CHECKED;
    PfxImportState.PfxKeyExtractable = IsDlgButtonChecked(dialog, IDC_PFX_KEY_EXTRACTABLE) == BST_CHECKED;
    const long long result = ImportPfx(password);
    SecureZeroMemory(password, sizeof PfxImportState.PfxPasswordBuffer);
    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    ActOnResult(dialog, result);
}

}  // namespace

INT_PTR CALLBACK PfxImportDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        GuardSecretEdits(dialog);
        return OnInitDialog(dialog, lParam);
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            // No allocation failure crosses the dialog manager's code.
            RunReportingOutOfMemory([dialog] { OnOk(dialog); });
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        break;
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return TRUE;
    default:
        break;
    }
    return FALSE;
}

void OpenPfxImportDialog(const ObjectCommand& command) {
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PFX_IMPORT), command.owner, PfxImportDialog,
                    reinterpret_cast<LPARAM>(&command));
}
