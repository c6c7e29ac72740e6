// The main window's picture of the selected token: button states and the
// login button's caption, the token list's name and login-status columns,
// and the six rows of the token information panel. The functions keep no
// state; they act on the controls in AppState, on the window thread.
#pragma once

#include <windows.h>

#include "admin/TokenDisplay.h"
#include "cryptoki/Cryptoki.h"

// Indices of the main buttons (AppState.MainButtons).
enum MainButtonIndex {
    kLoginButton = 0,
    kDefaultUserPinButton = 1,
    kChangePinButton = 2,
    kDisplayObjectsButton = 3,
    kDeleteButton = 4,
    kImportButton = 5,
    kExportButton = 6,
    kCsrButton = 7,        // invisible: its state enables the "Generate CSR..." menu entries
    kSpareButton = 8,      // invisible, never changed here
};

// The status texts of SetTokenRowStatus; state -1 clears the cell.
constexpr wchar_t kLoggedInText[] = L"Logged in";
constexpr wchar_t kSoLoggedInText[] = L"SO logged in";
constexpr wchar_t kNotLoggedInText[] = L"Not logged in";
constexpr CK_STATE kNoTokenState = static_cast<CK_STATE>(-1);

// Enables the administrator buttons and applies the session state `state`
// to the main buttons. While a worker runs (Busy) it changes nothing: the
// buttons follow the token selected when the worker's result arrives
// (RestoreButtonsFromSession). Returns 0.
int UpdateButtonsForState(CK_STATE state);

// Writes the token label `label` (32 blank-padded bytes, or null for an
// empty name) as the name of token-list row `row`: appended as a new row
// when `insert` is true, replacing the row's name otherwise. The label's
// trailing blanks are turned into NUL bytes in place. Returns 0.
int SetTokenRowName(CK_UTF8CHAR* label, int row, bool insert);

// Writes `text` unchanged as the name of row `row` (appended when `insert`).
// Start-up names its rows " " through this, since a literal is not a label.
void SetTokenRowText(const wchar_t* text, int row, bool insert);

// Writes the login-status column of `row` for the session state `state`.
int SetTokenRowStatus(CK_STATE state, int row);

// Appends the six rows of the information panel for the token in `slot`;
// the caller empties the panel beforehand.
int FillTokenInfoPanel(CK_SLOT_ID slot, const CK_TOKEN_INFO& tokenInfo);

// Widens 8-bit text byte by byte (each byte becomes the UTF-16 unit of the
// same value) into `out` of `outChars` units, reading at most `maxBytes`
// bytes and stopping at the first NUL. `out` is always terminated.
void WidenBytes(const unsigned char* bytes, size_t maxBytes, wchar_t* out, size_t outChars);

// Turns the trailing blanks of a fixed-width field into NUL bytes, walking
// from its last byte: NUL bytes are passed over, blanks become NUL, any
// other byte ends the walk.
void TrimTrailingBlanks(unsigned char* field, size_t size);
