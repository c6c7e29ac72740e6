#include "ProgramWindows.h"

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
