// "Generate CSR" (dialog 117): collects the key, subject, alternative names,
// key usages and PIN of a certificate signing request, logs in through the
// key-management library and hands the request to the CSR worker.
#pragma once

#include <windows.h>

// Controls the dialog creates at run time.
constexpr int kCsrKeyIdLabelId = 1040;   // "Generating CSR for key ID:" value
constexpr int kCsrWaitLabelId = 1041;    // "Generating CSR, Please wait..."

constexpr wchar_t kCsrErrorCaption[] = L"CSR Generation Error";

// The dialog opens through command 108 (OnGenerateCsrCommand, app/Commands.h),
// which returns once the dialog and its worker have ended and does nothing
// while another worker thread uses the sessions.

// What the CSR worker asks of its dialog. The dialog carries each notice
// out on its own thread before NotifyCsrDialog returns.
enum CsrWorkerNotice : WPARAM {
    kCsrGenerationOver,  // the library call returned: the arrow cursor again
    kCsrBackToEditing,   // the CSR call failed: controls enabled, wait label empty
    kCsrSaveAndEnd,      // ask for a file, write `csrText` to it, end the dialog
    kCsrEnd,             // end the dialog
};

void NotifyCsrDialog(CsrWorkerNotice notice, const char* csrText = nullptr);
