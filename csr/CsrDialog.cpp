// "Generate CSR": collects the request, logs in through the key-management
// library, sets the signing mechanism and starts the CSR worker, whose
// result the window thread applies (csr/CsrWorker.cpp).
#include "csr/CsrDialog.h"

#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <string>

#include "admin/TokenText.h"
#include "admin/SecretEdits.h"
#include "cryptoki/ErrorReport.h"
#include "cryptoki/ModuleLoader.h"
#include "cryptoki/SessionTable.h"
#include "csr/CsrRequest.h"
#include "csr/CsrWorker.h"
#include "csr/PkeLibrary.h"
#include "objects/ObjectListSelection.h"
#include "objects/ObjectTables.h"
#include "res/resource.h"

namespace {

constexpr size_t kPinBufferSize = 40;  // at most 39 characters reach the library
constexpr size_t kMinPinLength = 3;
constexpr int kPkeNormalUser = 1;

const wchar_t kNewKeyPairText[] = L"No Key ID is selected. An RSA key pair will be generated.";
const wchar_t kWaitText[] = L"Generating CSR, Please wait...";

// The key-length list, in list order.
const struct {
    const wchar_t* text;
    int bits;
} kKeyLengths[] = {{L"1024", 1024}, {L"2048", 2048}};
constexpr int kDefaultKeyLengthIndex = 1;

enum class AfterRefusal { Stay, End };

struct LoginRefusal {
    int status;
    const wchar_t* text;
    AfterRefusal after;
};

// What a login status other than 0 shows, and whether the dialog stays.
const LoginRefusal kLoginRefusals[] = {
    {CKR_PIN_INCORRECT, L"Token pin is wrong", AfterRefusal::Stay},
    {CKR_PIN_LOCKED, L"Token pin is locked", AfterRefusal::Stay},
    {CKR_USER_PIN_NOT_INITIALIZED, L"Token pin is not initalized", AfterRefusal::Stay},
    {CKR_TOKEN_NOT_PRESENT, L"Token is not connected to the system", AfterRefusal::End},
    {CKR_GENERAL_ERROR, L"General device error occured", AfterRefusal::End},
    {CKR_DEVICE_ERROR, L"General device error occured", AfterRefusal::End},
};
const LoginRefusal kUnknownLoginRefusal = {0, L"An unknown error occured", AfterRefusal::End};

HFONT KeyIdLabelFont = nullptr;

void ShowCsrError(const wchar_t* text) {
    MessageBoxW(nullptr, text, kCsrErrorCaption, MB_ICONERROR);
}

// The command the dialog runs for (the lParam of WM_INITDIALOG).
const CsrCommand& Command(HWND dialog) {
    return *reinterpret_cast<const CsrCommand*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

int DialogSlot(HWND dialog) {
    return Command(dialog).slot;
}

HWND CreateLabel(HWND dialog, int id, const wchar_t* text, int x, int y, int width, int height) {
    return CreateWindowExW(0, L"Static", text, WS_CHILD | WS_VISIBLE, x, y, width, height, dialog,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

int SelectedRow(HWND listView) {
    return listView ? FirstSelectedRow(listView) : -1;
}

// The key of the selected object row, or a new key pair when the row has
// no key ID (or no row is selected).
void ShowSelectedKey(HWND dialog, HWND keyIdLabel) {
    const int objectRow = SelectedRow(Command(dialog).objectList);
    const std::string keyId = objectRow >= 0 ? KeyIdTextAt(objectRow) : std::string();
    HWND keyLength = GetDlgItem(dialog, IDC_CSR_KEY_LENGTH);
    if (keyId.empty()) {
        SetWindowTextW(keyIdLabel, kNewKeyPairText);
        EnableWindow(keyLength, TRUE);
        return;
    }
    EnableWindow(keyLength, FALSE);
    SetWindowTextW(keyIdLabel, std::wstring(keyId.begin(), keyId.end()).c_str());  // hex digits only
    SetCsrKeyId(keyId.c_str());
}

BOOL OnInitDialog(HWND dialog, LPARAM command) {
    SetWindowLongPtrW(dialog, DWLP_USER, command);
    SetFocus(GetDlgItem(dialog, IDC_CSR_COUNTRY));
    for (const auto& length : kKeyLengths)
        SendDlgItemMessageW(dialog, IDC_CSR_KEY_LENGTH, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(length.text));
    SendDlgItemMessageW(dialog, IDC_CSR_KEY_LENGTH, CB_SETCURSEL, kDefaultKeyLengthIndex, 0);
    if (!KeyIdLabelFont)
        KeyIdLabelFont = CreateFontW(16, 0, 0, 0, 500, FALSE, FALSE, FALSE, 0, 5, 15, 4, 0, L"Arial");
    SetCsrKeyId("");
    CsrRequest.waitLabel = nullptr;

    HWND keyIdLabel = CreateLabel(dialog, kCsrKeyIdLabelId, L"", 154, 23, 340, 20);
    SendMessageW(keyIdLabel, WM_SETFONT, reinterpret_cast<WPARAM>(KeyIdLabelFont), TRUE);

    if (DialogSlot(dialog) < 0) {
        MessageBoxW(nullptr, L"No token is selected. Please select a token first", L"Warning", MB_ICONWARNING);
        EndDialog(dialog, 0);
        return FALSE;
    }
    ShowSelectedKey(dialog, keyIdLabel);
    return FALSE;
}

const LoginRefusal& RefusalFor(int status) {
    for (const LoginRefusal& refusal : kLoginRefusals)
        if (refusal.status == status)
            return refusal;
    return kUnknownLoginRefusal;
}

void OnLoginRefused(HWND dialog, int status) {
    const LoginRefusal& refusal = RefusalFor(status);
    ShowCsrError(refusal.text);
    if (refusal.after == AfterRefusal::End)
        EndDialog(dialog, 0);
}

// The text fields and the key ID, checked before anything reaches the token.
bool ReadRequestTexts(HWND dialog) {
    const int refusedField = ReadCsrTextFields(dialog);
    if (refusedField != 0) {
        wchar_t text[200];
        FormatTextW(text, L"The entered %ls is too long. Please enter a shorter text", CsrFieldName(refusedField));
        ShowCsrError(text);
        SetFocus(GetDlgItem(dialog, refusedField));
        return false;
    }
    if (CsrRequest.keyIdTooLong) {
        ShowCsrError(L"The ID of the selected key is too long");
        return false;
    }
    return true;
}

// Reads the PIN into `pin` in the form every PIN reaches the token in;
// false, with the message shown, when it cannot be sent unchanged or is too
// short.
bool ReadPin(HWND dialog, char (&pin)[kPinBufferSize]) {
    if (RefuseUnsendableText(dialog, {{IDC_CSR_PIN, TokenTextForm::Pin}}))
        return false;
    wchar_t wide[kPinBufferSize] = {};
    GetDlgItemTextW(dialog, IDC_CSR_PIN, wide, kPinBufferSize);
    const bool converted = ConvertPinText(wide, pin, kPinBufferSize);
    SecureZeroMemory(wide, sizeof wide);
    if (converted && strlen(pin) >= kMinPinLength)
        return true;
    MessageBoxW(nullptr, L"The entered token pincode is too short. Please enter a valid pin", L"Token pincode invalid",
                MB_ICONERROR);
    return false;
}

// Logs in through the library; false when it refused (the refusal is handled).
bool LogInThroughLibrary(HWND dialog, const char* pin) {
    int status = 0;
    pkeLogin(kPkeNormalUser, Command(dialog).host->PkeSlotIndex(DialogSlot(dialog)), pin, &status);
    if (status == 0)
        return true;
    OnLoginRefused(dialog, status);
    return false;
}

// No item selected (the list has an edit field) keeps the previous length.
void ReadKeyLength(HWND dialog) {
    const LRESULT index = SendDlgItemMessageW(dialog, IDC_CSR_KEY_LENGTH, CB_GETCURSEL, 0, 0);
    if (index >= 0 && index < static_cast<LRESULT>(std::size(kKeyLengths)))
        CsrRequest.keyBits = kKeyLengths[index].bits;
}

void ShowWaitLabel(HWND dialog) {
    // A label left by an earlier attempt is used again rather than stacked.
    if (CsrRequest.waitLabel)
        SetWindowTextW(CsrRequest.waitLabel, kWaitText);
    else
        CsrRequest.waitLabel = CreateLabel(dialog, kCsrWaitLabelId, kWaitText, 105, 635, 205, 40);
}

void ShowDialogSessionState(HWND dialog) {
    CK_SESSION_INFO info = {};
    const int slot = DialogSlot(dialog);
    if (Cryptoki.FunctionList->C_GetSessionInfo(SessionTable[slot], &info) == CKR_OK)
        Command(dialog).host->SetTokenRowStatus(info.state, slot);
}

// An attempt that got no worker ends with the token as it was found: logged
// out through the program's session, and the dialog given back for another
// press.
void GiveBackAttempt(HWND dialog) {
    CsrRequest.runPending = false;
    LogOutCsrSession(DialogSlot(dialog), *Command(dialog).host);
    EnableCsrInputControls(dialog, true);
    if (CsrRequest.waitLabel)
        SetWindowTextW(CsrRequest.waitLabel, L"");
}

// The worker host sets Busy (the wait cursor) before the worker runs.
void StartWorker(HWND dialog) {
    CsrHost& host = *Command(dialog).host;
    std::unique_ptr<WorkerJob> job = NewCsrJob(DialogSlot(dialog), host);
    EnableCsrInputControls(dialog, false);
    ShowWaitLabel(dialog);
    ShowDialogSessionState(dialog);
    CsrRequest.runPending = true;
    if (host.StartWorker(std::move(job), false))
        return;
    CsrRequest.runPending = false;
    ShowCsrError(L"An error occured");
    GiveBackAttempt(dialog);
}

// The library is logged in: the key length, the signing mechanism, then the
// worker.
void GenerateLoggedIn(HWND dialog) {
    ReadKeyLength(dialog);
    unsigned int signMechBlock[3] = {};
    int status = 0;
    pkeSetSignMech(1, 0, 1, signMechBlock, &status);
    if (status != 0) {
        ShowCsrError(L"Error in Setting Sign mech");
        LogOutCsrSession(DialogSlot(dialog), *Command(dialog).host);  // the next press logs in afresh
        return;
    }
    StartWorker(dialog);
}

void OnGenerate(HWND dialog) {
    if (CsrRequest.runPending)
        return;
    ResetCsrFieldTables();
    const int loaded = loadPkeLibrary();
    if (loaded != kPkeLoaded) {
        ShowCsrError(pkeLoadFailureText(loaded));
        return;
    }
    if (!ReadRequestTexts(dialog))
        return;

    char pin[kPinBufferSize] = {};
    bool loggedIn = false;
    if (ReadPin(dialog, pin)) {
        ReadCsrKeyUsages(dialog);
        loggedIn = LogInThroughLibrary(dialog, pin);
    }
    SecureZeroMemory(pin, sizeof pin);
    if (!loggedIn)
        return;
    // A failed allocation from here on must leave neither the token logged
    // in nor the dialog waiting for a worker that never started (it could
    // not even be closed). It is reported at the handler's edge.
    try {
        GenerateLoggedIn(dialog);
    } catch (const std::bad_alloc&) {
        GiveBackAttempt(dialog);
        throw;
    }
}

// Closing is refused while a run is under way: its end ends the dialog.
void OnClose(HWND dialog) {
    if (!CsrRequest.runPending)
        EndDialog(dialog, 0);
}

BOOL OnSetCursor(HWND dialog) {
    const CsrCommand* command = reinterpret_cast<const CsrCommand*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (!command || !command->host->Busy())
        return FALSE;
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);  // the cursor is set: the control under it keeps it
    return TRUE;
}

INT_PTR CALLBACK CsrDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    CsrRequest.dialogWindow = dialog;
    switch (message) {
    case WM_INITDIALOG:
        GuardSecretEdits(dialog);
        return OnInitDialog(dialog, lParam);
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK)
            RunReportingOutOfMemory([dialog] { OnGenerate(dialog); });  // none crosses the dialog manager
        else if (LOWORD(wParam) == IDCANCEL)
            SendMessageW(dialog, WM_CLOSE, 0, 0);
        else
            return FALSE;
        return TRUE;
    case WM_CLOSE:
        OnClose(dialog);
        return TRUE;
    case WM_SETCURSOR:
        return OnSetCursor(dialog);
    default:
        return FALSE;
    }
}

}  // namespace

void OnGenerateCsrCommand(const CsrCommand& command) {
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_CSR), command.owner, CsrDialogProc,
                    reinterpret_cast<LPARAM>(&command));
    CsrRequest.waitLabel = nullptr;  // destroyed with the dialog
}
