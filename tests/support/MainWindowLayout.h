// Where every control of the main window (administrator mode) is at 96 DPI:
// class, rectangle in the window's client area, text. The window tests
// check it at 96 DPI and scaled at other DPIs.
#pragma once

#include <windows.h>

#include <vector>

struct ControlPlace {
    int id;
    const wchar_t* className;
    RECT rect;  // left, top, right, bottom
    const wchar_t* text;
};

const std::vector<ControlPlace>& MainWindowControlPlaces();

// Rectangle of `control` in its parent's client area.
RECT ClientRectOf(HWND control);
