// "Generate CSR" (dialog 117): collects the key, subject, alternative names,
// key usages and PIN of a certificate signing request, logs in through the
// key-management library and hands the request to the CSR worker.
#pragma once

#include <windows.h>

#include "csr/CsrHost.h"

// Controls the dialog creates at run time.
constexpr int kCsrKeyIdLabelId = 1040;   // "Generating CSR for key ID:" value
constexpr int kCsrWaitLabelId = 1041;    // "Generating CSR, Please wait..."

// What the main window hands command 108 when it begins: the token it
// binds (the selection at that moment) and the object list whose selected
// row names the key.
struct CsrCommand {
    HWND owner = nullptr;
    HWND objectList = nullptr;
    int slot = -1;
    CsrHost* host = nullptr;
};

// Command 108: opens the dialog modally over the main window and returns
// once the dialog and its run have ended.
void OnGenerateCsrCommand(const CsrCommand& command);
