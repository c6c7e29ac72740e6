// The info tip of a token-list row: the token's label and serial, the state
// of its user and SO PINs, whether the user PIN still has to be set or
// changed, and its free and total memory, all from CK_TOKEN_INFO, so that
// the user sees a PIN near locking before trying it.
#pragma once

#include <string>

#include "cryptoki/Cryptoki.h"

// "OK", "count low", "final try" or "locked" from the three flags of one
// PIN (the user's or the SO's); the worst state wins.
const wchar_t* PinStateText(CK_FLAGS flags, CK_FLAGS countLow, CK_FLAGS finalTry, CK_FLAGS locked);

// The whole tip, one line each.
std::wstring TokenTipText(const CK_TOKEN_INFO& info);

// The tip of the token in `slot`, read now; empty when it cannot be read.
std::wstring ReadTokenTip(int slot);
