// What the login, PIN and token dialogs (and the CSR run) change on the
// main window: its picture of the token they work on. The dialogs run on
// the window thread; the main window implements this (app/MainWindowHost)
// with the operations of its token panel. The token's own row always
// changes; the buttons, the login button and the information panel belong
// to the token selected now, so they change only while that is the
// dialog's token (a token put in meanwhile is selected instead).
#pragma once

#include <string>

#include "cryptoki/Cryptoki.h"

class TokenDisplay {
public:
    // Applies the state of the session of the token in `slot` to the
    // buttons and the login button's caption.
    virtual int UpdateButtonsForState(int slot, CK_STATE state) = 0;
    // The login-status column of token row `row`.
    virtual int SetTokenRowStatus(CK_STATE state, int row) = 0;
    // The name of token row `row` from a 32-byte blank-padded label, whose
    // trailing blanks become NUL bytes in place.
    virtual int SetTokenRowName(CK_UTF8CHAR* label, int row) = 0;
    // The information panel shows the token in `slot` anew: emptied, then
    // filled with its six rows from `tokenInfo` unless that is null.
    virtual void RefillTokenInfoPanel(CK_SLOT_ID slot, const CK_TOKEN_INFO* tokenInfo) = 0;
    // The Login / Log out button's caption, which tells the login command
    // which way to go.
    virtual std::wstring LoginCaption() = 0;
    virtual void SetLoginCaption(int slot, const wchar_t* caption) = 0;

protected:
    ~TokenDisplay() = default;
};

constexpr wchar_t kLoginCaption[] = L"Login";
constexpr wchar_t kLogoutCaption[] = L"Log out";
