// The CSR worker: generates the CSR through the key-management library off
// the user-interface thread, ends the login the library made, and has the
// dialog save the CSR.
#include "csr/CsrWorker.h"

#include <commdlg.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/TokenPanel.h"
#include "csr/CsrDialog.h"
#include "csr/CsrRequest.h"
#include "csr/PkeLibrary.h"
#include "csr/PkeResultText.h"
#include "objects/ObjectListing.h"
#include "objects/CertificateFile.h"

namespace {

constexpr size_t kWorkerKeyIdSize = 450;
constexpr DWORD kFileNameChars = 256;

// Closes every session of the slot and opens a new one into the session
// table. Returns the new session's state, or kNoTokenState when there is
// no usable session.
CK_STATE ReopenSession(int slot) {
    VendorFunctionList* api = AppState.FunctionList;
    const CK_SLOT_ID slotId = static_cast<CK_SLOT_ID>(slot);
    api->C_CloseAllSessions(slotId);
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    if (api->C_OpenSession(slotId, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session) != CKR_OK) {
        AppState.SessionTable[slot] = CK_INVALID_HANDLE;  // the old one is closed
        MessageBoxW(nullptr, L"Error", L"General error in opening session", MB_ICONERROR);
        return kNoTokenState;
    }
    AppState.SessionTable[slot] = session;
    CK_SESSION_INFO info = {};
    return api->C_GetSessionInfo(session, &info) == CKR_OK ? info.state : kNoTokenState;
}

// Runs exGenCSR on the request; the CSR text is left in `csr`, always
// terminated. Returns the library's status.
int GenerateCsr(const char* keyId, std::vector<char>& auxiliary, std::vector<char>& csr) {
    PkeCsrArguments arguments = {};
    arguments.keyIdText = keyId;
    arguments.subjectFields = CsrRequest.subjectFields;
    arguments.altNameFields = CsrRequest.altNameFields;
    arguments.keyBits = CsrRequest.keyBits;
    arguments.keyUsageText = CsrRequest.keyUsageText;
    arguments.extKeyUsageText = CsrRequest.extKeyUsageText;
    arguments.auxiliaryOutput = auxiliary.data();
    arguments.csrOutput = csr.data();
    int status = 0;
    pkeExGenCsr(arguments, &status);
    csr.back() = '\0';  // a full buffer still ends in a terminator
    return status;
}

// The CSR call failed: its text is shown, the token logged out, and the
// dialog given back for another attempt.
void OnCsrFailed(int slot, int status) {
    MessageBoxA(nullptr, pkeResultText(static_cast<unsigned int>(status)), "CSR Generation error", MB_ICONERROR);
    LogOutCsrSession(slot);
    NotifyCsrDialog(kCsrBackToEditing);
    unloadPkeLibrary();
}

}  // namespace

void LogOutCsrSession(int slot) {
    VendorFunctionList* api = AppState.FunctionList;
    api->C_Logout(AppState.SessionTable[slot]);  // whatever it answers, the state is read next
    CK_SESSION_INFO info = {};
    const CK_STATE state = api->C_GetSessionInfo(AppState.SessionTable[slot], &info) == CKR_OK
                               ? info.state
                               : ReopenSession(slot);
    SetTokenRowStatus(state, slot);
    if (state != CKS_RW_USER_FUNCTIONS && AppState.MainButtons[kLoginButton])
        SetWindowTextW(AppState.MainButtons[kLoginButton], kLoginCaption);
    // Slot events during the run left the buttons and the object list as
    // they were (the monitor holds back while a worker runs): they follow
    // the token selected now.
    if (!AppState.Busy)
        RestoreButtonsFromSession(slot);
}

DWORD WINAPI csrWorker(LPVOID slotArgument) {
    const int slot = static_cast<int>(reinterpret_cast<INT_PTR>(slotArgument));
    AppState.Busy = true;
    char keyId[kWorkerKeyIdSize] = {};
    strncpy(keyId, CsrRequest.keyIdText, sizeof keyId - 1);

    const int loaded = loadPkeLibrary();
    if (loaded != kPkeLoaded) {
        MessageBoxW(nullptr, pkeLoadFailureText(loaded), kCsrErrorCaption, MB_ICONERROR);
        AppState.Busy = false;
        LogOutCsrSession(slot);  // the dialog's login must not outlive the attempt
        NotifyCsrDialog(kCsrEnd);
        return 0;
    }

    std::vector<char> auxiliary(kPkeOutputSize, '\0');
    std::vector<char> csr(kPkeOutputSize, '\0');
    const int status = GenerateCsr(keyId, auxiliary, csr);
    AppState.Busy = false;
    NotifyCsrDialog(kCsrGenerationOver);
    if (status != 0) {
        OnCsrFailed(slot, status);
        return 0;
    }

    LogOutCsrSession(slot);
    unloadPkeLibrary();
    SetWindowTextW(CsrRequest.waitLabel, L"Saving CSR...");
    NotifyCsrDialog(kCsrSaveAndEnd, csr.data());
    return 0;
}

void SaveCsrToFile(HWND owner, const char* csrText) {
    wchar_t fileName[kFileNameChars] = {};
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = L"PEM file (*.pem)\0*.pem\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = fileName;
    dialog.nMaxFile = kFileNameChars;
    dialog.lpstrDefExt = L"pem";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
    if (!GetSaveFileNameW(&dialog))
        return;  // cancelled: nothing is written, nothing is said

    const std::vector<unsigned char> bytes(csrText, csrText + strlen(csrText));
    if (!WriteWholeFile(fileName, bytes))
        MessageBoxW(nullptr, L"saving CSR to the file failed", L"CSR saving error", MB_ICONERROR);
}
