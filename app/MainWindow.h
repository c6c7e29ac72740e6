// The main window: its class procedure builds the controls when the window
// is created, turns button clicks into commands, follows the selection in
// the three lists, shows the wait cursor while a worker runs and ends the
// message loop when the window is closed.
#pragma once

#include <windows.h>

constexpr wchar_t kMainWindowClass[] = L"Window Class";

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
