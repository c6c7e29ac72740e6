#include "import/ImportCommand.h"

#include <commdlg.h>

#include "cryptoki/ErrorReport.h"
#include "cryptoki/ModuleLoader.h"
#include "cryptoki/SessionTable.h"
#include "import/ImportCertificate.h"
#include "import/PfxImportDialog.h"
#include "import/PfxImportState.h"
#include "objects/ObjectCommand.h"
#include "objects/ObjectListing.h"

namespace {

const wchar_t kFileFilter[] =
    L"Certficate & PFX files (*.crt;*.der;*.cer;*.crt;*.der;*.pfx;*.p12)\0"
    L"*.crt;*.der;*.cer;*.crt;*.der;*.pfx;*.p12;*.pfx;*.p12\0";

// The report of a Cryptoki failure, by return code.
struct CreateFailureText {
    CK_RV rv;
    const wchar_t* caption;
    const wchar_t* detail;
};

const CreateFailureText kCreateFailureTexts[] = {
    {CKR_DEVICE_MEMORY, L"Device memory", L"Insuffiecient device memory to store certificate.\n\r"},
    {CKR_GENERAL_ERROR, L"General error", L"General error occured.\n\r"},
    {CKR_ARGUMENTS_BAD, L"Certificate error", L"Out of range argument supplied.\n\r"},
};

// The open-file dialog; false when the user cancels.
bool ChooseImportFile(HWND owner, wchar_t (&path)[kPfxPathCapacity]) {
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = kFileFilter;
    dialog.lpstrFile = path;
    dialog.nMaxFile = kPfxPathCapacity;
    dialog.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    return GetOpenFileNameW(&dialog) != FALSE;
}

void ReportCreateFailure(CK_RV rv) {
    const wchar_t* caption = L"General error";
    const wchar_t* detail = L"";
    for (const CreateFailureText& text : kCreateFailureTexts)
        if (text.rv == rv) {
            caption = text.caption;
            detail = text.detail;
        }
    ShowCkErrorW(rv, caption, detail);
}

bool UserIsLoggedIn(int slot) {
    CK_SESSION_INFO info = {};
    return slot >= 0 && Cryptoki.FunctionList->C_GetSessionInfo(SessionTable[slot], &info) == CKR_OK &&
           info.state == CKS_RW_USER_FUNCTIONS;
}

// The file is a PFX: its dialog, for a user who is logged in.
void HandOverToPfxImport(const ObjectCommand& command, const wchar_t* path) {
    if (!UserIsLoggedIn(command.slot)) {
        MessageBoxW(nullptr, L"To import pfx you must login first.\n\r", L"Login required", MB_ICONWARNING);
        return;
    }
    wcsncpy(PfxImportState.PfxFilePath, path, kPfxPathCapacity - 1);
    PfxImportState.PfxFilePath[kPfxPathCapacity - 1] = L'\0';
    SecureZeroMemory(PfxImportState.PfxPasswordBuffer, sizeof PfxImportState.PfxPasswordBuffer);
    PfxImportState.PfxImportChain = false;
    PfxImportState.PfxKeyExtractable = false;
    PfxImportState.DialogSlot = command.slot;
    OpenPfxImportDialog(command);
}

}  // namespace

void NotifyCertificateImported() {
    HWND window = FindWindowW(nullptr, L"CLASS");
    if (!window)
        return;
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(window, kCertificateImportedMessage, 0, 0, SMTO_ABORTIFHUNG | SMTO_NORMAL,
                        kCertificateImportedTimeoutMs, &answer);
}

void OnImportCommand(const ObjectCommand& command) {
    if (command.slot < 0)
        return;  // no token to import onto
    wchar_t path[kPfxPathCapacity] = {};
    if (!ChooseImportFile(command.owner, path))
        return;
    const long long result = ImportCertificate(command.slot, path, nullptr, nullptr);
    CK_RV rv = CKR_OK;
    if (IsCryptokiFailure(result, &rv)) {
        ReportCreateFailure(rv);
        return;
    }
    if (result == kImportOutOfMemory) {
        ShowOutOfMemory();
        return;
    }
    if (result == kNotCertificate) {
        MessageBoxW(nullptr, L"This is not a valid certificate or pfx file.\n\r", L"Invalid file", MB_ICONERROR);
        return;
    }
    if (result == kFileIsPfx) {
        HandOverToPfxImport(command, path);
        return;
    }
    NotifyCertificateImported();
    StartObjectListing(command);
}
