// Info tips on the token list and the object list: the token's PIN states
// and memory, a certificate's validity. The lists ask for a tip with
// LVN_GETINFOTIPW (LVS_EX_INFOTIP); where the list view does not (Wine's),
// a tooltip of our own, fed from the row under the mouse, shows the same
// text. Texts are read from the token each time a tip is asked for.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

// Sets LVS_EX_INFOTIP on both lists and makes ready for the own tooltip,
// which is created when the mouse first comes over a list.
void CreateInfoTips(HWND mainWindow);

// The tip of `row` of `list` (the token list or the object list), read
// now; empty for a row without one (a key row, an empty slot) and while a
// worker holds the session.
std::wstring InfoTipText(HWND list, int row);

// LVN_GETINFOTIPW of either list: fills the list's buffer.
void OnGetInfoTip(NMLVGETINFOTIPW& request);

// Every message of the message loop: mouse input over the lists goes on
// to the own tooltip.
void RelayInfoTipInput(const MSG& message);

// WM_NOTIFY from the own tooltip: true when it was one (and answered).
bool OnInfoTipNotify(const NMHDR& header);

// The own tooltip's font: `font`, or its own again when null (at the
// system DPI).
void SetInfoTipFont(HFONT font);

// The own tooltip window, created now if it was not yet (for tests and the
// tour).
HWND InfoTipWindow();
