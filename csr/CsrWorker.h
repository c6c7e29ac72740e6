// The CSR worker thread and the logout that ends a CSR run.
#pragma once

#include <windows.h>

// Thread procedure; the argument is the slot ID. Generates the CSR from
// CsrRequest through the library, logs the token out, unloads the library
// and has the dialog save the CSR and end.
DWORD WINAPI csrWorker(LPVOID slot);

// Logs the token in `slot` out through the program's own session (the
// library logged in within this process), reopening the session when it
// is no longer usable, and shows the resulting state in the token list and
// on the login button.
void LogOutCsrSession(int slot);

// Asks for a file with the save dialog (owned by `owner`) and writes the
// CSR text to it, up to its terminator, completely or not at all. Nothing
// is written when the user cancels; a failed write is reported.
void SaveCsrToFile(HWND owner, const char* csrText);
