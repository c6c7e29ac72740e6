// PIN and password edits that keep their text to themselves.
#pragma once

#include <windows.h>

// Makes every password edit (ES_PASSWORD) of `dialog` drop WM_COPY and
// WM_CUT, so that no PIN or password reaches the clipboard. Windows'
// password edits refuse both already; Wine's hand the text over to any
// window that sends them, another program's included.
void GuardSecretEdits(HWND dialog);
