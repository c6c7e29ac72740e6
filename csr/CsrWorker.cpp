// The CSR worker: generates the CSR through the key-management library off
// the window thread. The run's remaining steps (the logout the library's
// login calls for, the messages, the save) follow on the window thread.
#include "csr/CsrWorker.h"

#include <commdlg.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "admin/TokenDisplay.h"
#include "cryptoki/ModuleLoader.h"
#include "cryptoki/SessionTable.h"
#include "csr/CsrHost.h"
#include "csr/CsrRequest.h"
#include "csr/PkeResultText.h"
#include "objects/CertificateFile.h"

namespace {

constexpr DWORD kFileNameChars = 256;

// Closes every session of the slot and opens a new one into the session
// table. Returns the new session's state, or kNoTokenState when there is
// no usable session.
CK_STATE ReopenSession(int slot) {
    const CK_SLOT_ID slotId = static_cast<CK_SLOT_ID>(slot);
    if (SessionTable.CloseAllAndReopen(slotId) != CKR_OK) {
        MessageBoxW(nullptr, L"Error", L"General error in opening session", MB_ICONERROR);
        return static_cast<CK_STATE>(-1);
    }
    CK_SESSION_INFO info = {};
    return Cryptoki.FunctionList->C_GetSessionInfo(SessionTable[slot], &info) == CKR_OK ? info.state
                                                                                      : static_cast<CK_STATE>(-1);
}

// The run's end on the window thread, in the order of its steps.
class CsrResult : public WorkerResult {
public:
    CsrResult(CsrOutcome outcome, int slot, CsrHost& host) : outcome_(std::move(outcome)), slot_(slot), host_(host) {}

    void Apply(WorkerEnd& end) override {
        const HWND dialog = CsrRequest.dialogWindow;
        if (outcome_.loadResult != kPkeLoaded) {
            MessageBoxW(nullptr, pkeLoadFailureText(outcome_.loadResult), kCsrErrorCaption, MB_ICONERROR);
            end.EndBusy();
            LogOutCsrSession(slot_, host_);  // the dialog's login must not outlive the attempt
            Finish(dialog);
            return;
        }
        end.EndBusy();  // the library returned
        if (outcome_.status != 0) {
            OnCsrFailed(dialog);
            return;
        }
        LogOutCsrSession(slot_, host_);
        unloadPkeLibrary();
        SetWindowTextW(CsrRequest.waitLabel, L"Saving CSR...");
        SaveCsrToFile(dialog, outcome_.csr.data());
        Finish(dialog);
    }

    // The program closes: the library goes, nothing is shown or saved.
    void Abandon() override {
        unloadPkeLibrary();
        CsrRequest.runPending = false;
    }

private:
    // The CSR call failed: its text is shown, the token logged out, and the
    // dialog given back for another attempt.
    void OnCsrFailed(HWND dialog) {
        MessageBoxA(nullptr, pkeResultText(static_cast<unsigned int>(outcome_.status)), "CSR Generation error",
                    MB_ICONERROR);
        LogOutCsrSession(slot_, host_);
        EnableCsrInputControls(dialog, true);
        if (CsrRequest.waitLabel)
            SetWindowTextW(CsrRequest.waitLabel, L"");
        CsrRequest.runPending = false;
        unloadPkeLibrary();
    }

    static void Finish(HWND dialog) {
        CsrRequest.runPending = false;
        EndDialog(dialog, 0);
    }

    CsrOutcome outcome_;
    int slot_;
    CsrHost& host_;
};

class CsrJob : public WorkerJob {
public:
    CsrJob(int slot, CsrHost& host) : slot_(slot), host_(host) {
        strncpy(data_.keyId, CsrRequest.keyIdText, sizeof data_.keyId - 1);
        PkeCsrArguments& arguments = data_.arguments;
        arguments.keyIdText = data_.keyId;
        arguments.subjectFields = CsrRequest.subjectFields;
        arguments.altNameFields = CsrRequest.altNameFields;
        arguments.keyBits = CsrRequest.keyBits;
        arguments.keyUsageText = CsrRequest.keyUsageText;
        arguments.extKeyUsageText = CsrRequest.extKeyUsageText;
    }

    // A run that is asked to stop still ends when the library returns.
    std::unique_ptr<WorkerResult> Run(HWND) override {
        return std::unique_ptr<WorkerResult>(new CsrResult(csrWorker(data_), slot_, host_));
    }

private:
    CsrJobData data_;
    int slot_;
    CsrHost& host_;
};

}  // namespace

CsrOutcome csrWorker(const CsrJobData& job) {
    CsrOutcome outcome;
    outcome.loadResult = loadPkeLibrary();
    if (outcome.loadResult != kPkeLoaded)
        return outcome;
    std::vector<char> auxiliary(kPkeOutputSize, '\0');
    outcome.csr.assign(kPkeOutputSize, '\0');
    PkeCsrArguments arguments = job.arguments;
    arguments.auxiliaryOutput = auxiliary.data();
    arguments.csrOutput = outcome.csr.data();
    pkeExGenCsr(arguments, &outcome.status);
    outcome.csr.back() = '\0';  // a full buffer still ends in a terminator
    return outcome;
}

std::unique_ptr<WorkerJob> NewCsrJob(int slot, CsrHost& host) {
    return std::unique_ptr<WorkerJob>(new CsrJob(slot, host));
}

void LogOutCsrSession(int slot, CsrHost& host) {
    const CK_SESSION_HANDLE session = SessionTable[slot];
    Cryptoki.FunctionList->C_Logout(session);  // whatever it answers, the state is read next
    CK_SESSION_INFO info = {};
    const CK_STATE state =
        Cryptoki.FunctionList->C_GetSessionInfo(session, &info) == CKR_OK ? info.state : ReopenSession(slot);
    host.SetTokenRowStatus(state, slot);
    if (state != CKS_RW_USER_FUNCTIONS)
        host.SetLoginCaption(slot, kLoginCaption);
    // Slot events during the run left the buttons and the object list as
    // they were: they follow the token selected now.
    host.RestoreButtonsFromSession();
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
