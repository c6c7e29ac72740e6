#include "ProgramWindows.h"

#include "RealInput.h"
#include "ScreenCapture.h"

#include <commctrl.h>

#include "support/RemoteListView.h"

namespace {

constexpr DWORD kPollMs = 10;

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, ARRAYSIZE(name));
    return name;
}

// Polls the process's visible top-level windows for one that `accepts`.
HWND WaitForWindowWhere(ProgramRun& run, const std::function<bool(HWND)>& accepts, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND window : run.Windows())
                if (accepts(window)) {
                    found = window;
                    return true;
                }
            return false;
        },
        timeoutMs);
    return found;
}

}  // namespace

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG until = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount64() >= until)
            return false;
        Sleep(kPollMs);
    }
}

std::wstring TextOf(HWND window) {
    wchar_t text[1024] = {};
    DWORD_PTR length = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, ARRAYSIZE(text), reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 2000,
                        &length);
    return text;
}

HWND WaitForTopLevel(ProgramRun& run, const wchar_t* className, const std::wstring& caption, DWORD timeoutMs) {
    return WaitForWindowWhere(
        run,
        [&](HWND window) {
            return IsWindowEnabled(window) && ClassOf(window) == className && TextOf(window) == caption;
        },
        timeoutMs);
}

HWND WaitForFileDialog(ProgramRun& run, DWORD timeoutMs) {
    return WaitForWindowWhere(
        run,
        [](HWND window) {
            return IsWindowEnabled(window) && ClassOf(window) == L"#32770" &&
                   GetDlgItem(window, kFileNameBox) != nullptr;
        },
        timeoutMs);
}

HWND WaitForPopupMenu(ProgramRun& run, DWORD timeoutMs) {
    return WaitForWindowWhere(run, [](HWND window) { return ClassOf(window) == L"#32768"; }, timeoutMs);
}

namespace {

// The rows of the menu (screen y) lit in the highlight colour at column
// `x`: the entry under the pointer. False when none is lit.
bool LitRows(const RECT& menu, LONG x, LONG* top, LONG* bottom) {
    const ScreenPicture picture = CaptureSettled(menu, 300);
    if (picture.width == 0)
        return false;
    const COLORREF lit[] = {GetSysColor(COLOR_HIGHLIGHT), GetSysColor(COLOR_MENUHILIGHT)};
    const int stride = (picture.width * 3 + 3) & ~3;
    const int column = static_cast<int>(x - menu.left);
    bool found = false;
    for (int y = 0; y < picture.height; ++y) {
        const unsigned char* pixel = &picture.pixels[(picture.height - 1 - y) * stride + column * 3];
        const COLORREF colour = RGB(pixel[2], pixel[1], pixel[0]);
        const bool isLit = colour == lit[0] || colour == lit[1];
        if (isLit && !found) {
            found = true;
            *top = menu.top + y;
        }
        if (found && !isLit) {
            *bottom = menu.top + y;
            return true;
        }
        if (found)
            *bottom = menu.top + y + 1;
    }
    return found;
}

}  // namespace

bool FindMenuEntry(HWND menu, int index, POINT* screen) {
    RECT area = {};
    if (!GetWindowRect(menu, &area))
        return false;
    // A column left of the texts, inside the entries' highlight.
    const LONG x = area.left + 6;
    int entry = -1;
    for (LONG y = area.top + 2; y < area.bottom - 2;) {
        RealInput::MoveTo(POINT{(area.left + area.right) / 2, y});
        LONG top = 0, bottom = 0;
        if (LitRows(area, x, &top, &bottom) && top <= y && y < bottom) {
            if (++entry == index) {
                *screen = POINT{(area.left + area.right) / 2, (top + bottom) / 2};
                return true;
            }
            y = bottom + 1;
        } else {
            y += 2;  // a separator or the menu's border
        }
    }
    return false;
}

HWND WaitForTooltip(ProgramRun& run, const std::wstring& part, DWORD timeoutMs) {
    return WaitForWindowWhere(
        run,
        [&](HWND window) {
            return ClassOf(window) == L"tooltips_class32" && TextOf(window).find(part) != std::wstring::npos;
        },
        timeoutMs);
}

bool IsShowing(ProgramRun& run, const wchar_t* className, const std::wstring& caption) {
    for (HWND window : run.Windows())
        if (ClassOf(window) == className && TextOf(window) == caption)
            return true;
    return false;
}

bool RemoteListViewRowRect(HWND list, int row, RECT* screen) {
    DWORD processId = 0;
    GetWindowThreadProcessId(list, &processId);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (!process)
        return false;
    bool found = false;
    void* remote = VirtualAllocEx(process, nullptr, sizeof(RECT), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (remote) {
        RECT rect = {};
        rect.left = LVIR_LABEL;
        SIZE_T moved = 0;
        WriteProcessMemory(process, remote, &rect, sizeof rect, &moved);
        if (SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote)) &&
            ReadProcessMemory(process, remote, &rect, sizeof rect, &moved)) {
            MapWindowPoints(list, nullptr, reinterpret_cast<POINT*>(&rect), 2);
            *screen = rect;
            found = true;
        }
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return found;
}

int FindListRow(HWND list, int column, const std::wstring& text) {
    const int rows = RemoteListViewRowCount(list);
    for (int row = 0; row < rows; ++row)
        if (RemoteListViewText(list, row, column) == text)
            return row;
    return -1;
}
