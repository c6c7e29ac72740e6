// The controls of the main window, created once when the window is created.
#pragma once

#include <windows.h>

// Creates every control of the main window `window` in its fixed order and
// keeps their handles in AppState. When a list column cannot be inserted,
// creation stops there and the controls after that point are missing; the
// window is made all the same.
void CreateMainWindowControls(HWND window, HINSTANCE instance);

// Releases the fonts of the controls (when the window goes).
void ReleaseMainWindowFonts();

// A new font for the serial-number edit; the edit deletes it when it goes.
HFONT CreateSerialEditFont();
