// The certificate signing request that the CSR dialog collects and the CSR
// worker hands to the key-management library. One process-wide record: the
// dialog writes it before it starts the worker, the worker only reads it.
#pragma once

#include <windows.h>

#include <cstddef>

#include "csr/PkeLibrary.h"

constexpr size_t kCsrTextSize = 300;    // every 8-bit text buffer of the request
constexpr size_t kCsrTextFieldCount = 11;

constexpr wchar_t kCsrErrorCaption[] = L"CSR Generation Error";

struct CsrRequestRecord {
    char keyIdText[kCsrTextSize] = {};  // hex CKA_ID of the selected key; empty: new key pair
    bool keyIdTooLong = false;          // the selected key's ID does not fit keyIdText
    const char* subjectFields[kPkeFieldCount] = {};  // UTF-8 texts by subject position
    const char* altNameFields[kPkeFieldCount] = {};  // UTF-8 texts by alternative-name position
    char fieldTexts[kCsrTextFieldCount][kCsrTextSize] = {};  // the texts the tables point at
    int keyBits = 2048;                 // kept from one dialog to the next
    char keyUsageText[kCsrTextSize] = {};
    char extKeyUsageText[kCsrTextSize] = {};
    HWND dialogWindow = nullptr;
    HWND waitLabel = nullptr;
    // From the worker's start until its result has been applied: the dialog
    // takes no second request and cannot be closed meanwhile.
    bool runPending = false;
};

extern CsrRequestRecord CsrRequest;

// Points every entry of both field tables at the empty text.
void ResetCsrFieldTables();

// Reads the eleven text fields of the CSR dialog, in their fixed order, into
// fieldTexts as UTF-8 and points the table entry of every non-empty field at
// its text. Returns 0, or the control ID of the first field whose UTF-8 form
// does not fit its buffer (that field's entry stays empty).
int ReadCsrTextFields(HWND dialog);

// The name of text field `controlId` as the dialog labels it, without the colon.
const wchar_t* CsrFieldName(int controlId);

// keyUsageText and extKeyUsageText from the dialog's check boxes: the
// names of the checked boxes joined by ", ".
void ReadCsrKeyUsages(HWND dialog);

// Stores the key ID text of the selected key (empty: a new key pair).
void SetCsrKeyId(const char* keyIdText);

// Enables or disables every control of the dialog the user can change.
void EnableCsrInputControls(HWND dialog, bool enable);
