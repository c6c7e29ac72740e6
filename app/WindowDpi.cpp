#include "app/WindowDpi.h"

namespace {

// Functions of Windows 10 (1607) and later, looked up so that the program
// still runs where they are missing.
using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using AdjustForDpiFunction = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

template <typename Function>
Function User32Function(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name))) : nullptr;
}

// The frame around a client area at `dpi`: what AdjustWindowRectEx adds.
RECT FrameAt(DWORD style, UINT dpi) {
    RECT frame = {0, 0, 0, 0};
    static const AdjustForDpiFunction adjustForDpi = User32Function<AdjustForDpiFunction>("AdjustWindowRectExForDpi");
    if (adjustForDpi)
        adjustForDpi(&frame, style, FALSE, 0, dpi);
    else
        AdjustWindowRectEx(&frame, style, FALSE, 0);
    return frame;
}

// One axis of FitRectToWorkArea: the new start of [start, start + size).
LONG FitAxis(LONG start, LONG size, LONG workStart, LONG workEnd) {
    if (size > workEnd - workStart)
        return workStart;
    if (start + size > workEnd)
        start = workEnd - size;
    return start < workStart ? workStart : start;
}

}  // namespace

UINT SystemDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
    if (screen)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : kLayoutDpi;
}

int ScaleToDpi(int value, UINT dpi) {
    return MulDiv(value, static_cast<int>(dpi), static_cast<int>(kLayoutDpi));
}

UINT WindowDpi(HWND window) {
    static const GetDpiForWindowFunction getDpiForWindow = User32Function<GetDpiForWindowFunction>("GetDpiForWindow");
    const UINT dpi = getDpiForWindow && window ? getDpiForWindow(window) : 0;
    return dpi ? dpi : SystemDpi();
}

RECT FitRectToWorkArea(const RECT& window, const RECT& workArea) {
    const LONG width = window.right - window.left;
    const LONG height = window.bottom - window.top;
    const LONG left = FitAxis(window.left, width, workArea.left, workArea.right);
    const LONG top = FitAxis(window.top, height, workArea.top, workArea.bottom);
    return RECT{left, top, left + width, top + height};
}

SIZE ScaledWindowSize(int width96, int height96, DWORD style, UINT dpi) {
    const RECT frame96 = FrameAt(style, kLayoutDpi);
    const int clientWidth = width96 - (frame96.right - frame96.left);
    const int clientHeight = height96 - (frame96.bottom - frame96.top);
    const RECT frame = FrameAt(style, dpi);
    return SIZE{ScaleToDpi(clientWidth, dpi) + (frame.right - frame.left),
                ScaleToDpi(clientHeight, dpi) + (frame.bottom - frame.top)};
}

void PlaceMainWindow(HWND window, int x, int y, int width96, int height96) {
    const UINT dpi = WindowDpi(window);
    const DWORD style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
    const SIZE size = dpi == kLayoutDpi ? SIZE{width96, height96} : ScaledWindowSize(width96, height96, style, dpi);
    RECT placed = {x, y, x + size.cx, y + size.cy};
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    if (GetMonitorInfoW(MonitorFromRect(&placed, MONITOR_DEFAULTTONEAREST), &monitor))
        placed = FitRectToWorkArea(placed, monitor.rcWork);
    // A window already in place is left alone: moving even a hidden window
    // costs the system a round of size and position messages.
    RECT current = {};
    GetWindowRect(window, &current);
    if (current.left == placed.left && current.top == placed.top && current.right - current.left == size.cx &&
        current.bottom - current.top == size.cy)
        return;
    SetWindowPos(window, nullptr, placed.left, placed.top, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}
