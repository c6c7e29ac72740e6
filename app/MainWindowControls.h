// The controls of the main window, created once when the window is created.
#pragma once

#include <windows.h>

// Creates every control of the main window `window` in its fixed order and
// keeps their handles in AppState. When a list column cannot be inserted,
// creation stops there and the controls after that point are missing; the
// window is made all the same. False in that case (the info tips need both
// lists).
bool CreateMainWindowControls(HWND window, HINSTANCE instance);

// Scales every control's position and size, the list columns and the fonts
// from their 96-DPI values to `dpi` (at window creation away from 96 DPI,
// and on WM_DPICHANGED).
void ScaleMainWindowControls(UINT dpi);
// The DPI the controls are laid out for.
UINT MainWindowControlsDpi();

// Releases the fonts of the controls (when the window goes).
void ReleaseMainWindowFonts();

// A new font for the serial-number edit, for the controls' DPI; the edit deletes it when it goes.
HFONT CreateSerialEditFont();
