// The CSR worker and the window-thread steps that end a CSR run.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "csr/PkeLibrary.h"
#include "objects/Worker.h"

class CsrHost;

// What the worker is given when it starts: its own copy of the key ID and
// the request's arguments, which point into CsrRequest (the dialog leaves
// it alone while the run lasts).
struct CsrJobData {
    char keyId[450] = {};
    PkeCsrArguments arguments = {};
};

// The outcome of the worker's library calls.
struct CsrOutcome {
    int loadResult = kPkeLoaded;  // the worker's own loadPkeLibrary
    int status = 0;               // exGenCSR's status
    std::vector<char> csr;        // the CSR text, terminated
};

// The worker's body: loads and initialises the library, then has it
// generate the CSR. Library calls only: everything the run shows, and the
// logout, follow on the window thread when the result arrives, in the
// order of the run's steps (CsrResult).
CsrOutcome csrWorker(const CsrJobData& job);

// The run for the request in CsrRequest: the worker with its result, for
// the dialog's token `slot` on the main window `host`.
std::unique_ptr<WorkerJob> NewCsrJob(int slot, CsrHost& host);

// Logs the token in `slot` out through the program's own session (the
// library logged in within this process), reopening the session when it
// is no longer usable, and shows the resulting state in the token list, on
// the login button and on the buttons.
void LogOutCsrSession(int slot, CsrHost& host);

// Asks for a file with the save dialog (owned by `owner`) and writes the
// CSR text to it, up to its terminator, completely or not at all. Nothing
// is written when the user cancels; a failed write is reported.
void SaveCsrToFile(HWND owner, const char* csrText);
