// The main window at any DPI: its size and its controls' positions, sizes,
// column widths and fonts are the 96-DPI values of the layout tables scaled
// to the window's DPI (nothing changes at 96 DPI), and its place is the
// fixed one, moved just enough to fit the monitor's work area.
#pragma once

#include <windows.h>

constexpr UINT kLayoutDpi = 96;

// `value` (a 96-DPI length or position) at `dpi`.
int ScaleToDpi(int value, UINT dpi);

// The system DPI, which fonts made before any window use (96 when it
// cannot be read).
UINT SystemDpi();

// The DPI `window` is drawn at: its monitor's for a per-monitor aware
// program, the system's otherwise (and on systems without per-window DPI).
UINT WindowDpi(HWND window);

// `window` (a screen rectangle) moved just enough to lie in `workArea`, one
// axis at a time; on an axis where it is larger than the work area, its
// left (or top) edge goes to the work area's.
RECT FitRectToWorkArea(const RECT& window, const RECT& workArea);

// The outer size of a window of `style` whose outer size at 96 DPI is
// `width96` x `height96`: its client area scaled, its frame as drawn at `dpi`.
SIZE ScaledWindowSize(int width96, int height96, DWORD style, UINT dpi);

// Sizes `window` for its DPI from its 96-DPI outer size and places it at
// (x, y), fitted to the work area of the monitor there.
void PlaceMainWindow(HWND window, int x, int y, int width96, int height96);
