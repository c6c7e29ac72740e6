// The controls of the main window, created once when the window is created.
#pragma once

#include <windows.h>

// Creates every control of the main window `window` in its fixed order and
// keeps their handles in AppState. False when a list column could not be
// inserted: creation stops there, and the controls after that point are
// missing.
bool CreateMainWindowControls(HWND window, HINSTANCE instance);

// Releases the fonts of the controls (when the window goes).
void ReleaseMainWindowFonts();

// A new font for the serial-number edit; the edit deletes it when it goes.
HFONT CreateSerialEditFont();
