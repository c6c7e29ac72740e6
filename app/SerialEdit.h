// The serial-number edit: a double-click on the serial value of the token
// information panel opens a small edit over it, so that the number can be
// selected and copied. It goes as soon as it loses the focus; whatever is
// typed into it goes with it.
#pragma once

#include <windows.h>
#include <commctrl.h>

// Opens the edit when `click` (NM_DBLCLK of the panel) hit the serial row
// outside the first column; any other double-click does nothing.
void OnTokenInfoDoubleClick(const NMITEMACTIVATE& click);

LRESULT CALLBACK SerialEditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
