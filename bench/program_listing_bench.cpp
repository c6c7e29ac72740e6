// The real TokenManager.exe listing a token of N public data objects
// (bench/BenchStore.h), reached the way a user reaches it: the token's row
// is clicked, then the "Display objects" button. The first listing after
// the click brings the public-objects warning, which is answered here; it
// is not timed. Each timed listing runs from the button's click until every
// row is shown and the token list is enabled again (the listing has ended);
// the time of the first row is noted too. Also the program's memory
// (working set and private bytes, current and peak) before and after.
// A listing that never starts (the button stays disabled, the click does
// not list the clicked token) fails the benchmark.
//
// Run: wine build-bench/bin/program_listing_bench.exe [--objects N] [--runs N]
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/BenchStore.h"
#include "bench/BenchTiming.h"
#include "softtoken/SoftTokenControl.h"
#include "support/RemoteListView.h"

namespace {

constexpr int kTokenListId = 110;
constexpr int kObjectListId = 130;
constexpr int kDisplayObjectsId = 104;
constexpr int kMaxListedRows = 10000;  // the object list's cap (objects/TokenObjectList.h)
constexpr DWORD kTimeoutMs = 120000;

struct Search {
    DWORD processId;
    const wchar_t* className;
    const wchar_t* caption;
    HWND found;
};

// The cheap tests first: reading another process's window text is a
// message to that process, which the polling must not load.
BOOL CALLBACK Match(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != search->processId || !IsWindowVisible(window))
        return TRUE;
    wchar_t name[64] = {}, caption[64] = {};
    GetClassNameW(window, name, ARRAYSIZE(name));
    if (search->className && wcscmp(name, search->className) != 0)
        return TRUE;
    GetWindowTextW(window, caption, ARRAYSIZE(caption));
    if (search->caption && wcscmp(caption, search->caption) != 0)
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND FindProgramWindow(DWORD processId, const wchar_t* className, const wchar_t* caption) {
    Search search = {processId, className, caption, nullptr};
    EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

struct Memory {
    double workingSet, peakWorkingSet, privateBytes, peakPrivateBytes;  // MiB
};

Memory ReadMemory(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(process, &counters, sizeof counters);
    const double mib = 1024.0 * 1024.0;
    return {counters.WorkingSetSize / mib, counters.PeakWorkingSetSize / mib, counters.PagefileUsage / mib,
            counters.PeakPagefileUsage / mib};
}

// A left click at (x, y) of `control`, as the mouse makes it.
void Click(HWND control, int x, int y) {
    PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    PostMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

// Clicks the first row of the token list, below its header.
void ClickFirstTokenRow(HWND tokens) {
    RECT header = {};
    GetWindowRect(FindWindowExW(tokens, nullptr, WC_HEADERW, nullptr), &header);
    Click(tokens, 30, (header.bottom - header.top) + 6);
}

struct Listing {
    double firstRowMs = -1;
    double allRowsMs = -1;
};

// Answers the boxes a listing may bring: the public-objects warning, and
// for a token past the cap the box that says so.
void AnswerBoxes(DWORD processId) {
    for (const wchar_t* caption : {L"User not logged in", L"Display objects"})
        if (HWND box = FindProgramWindow(processId, L"#32770", caption))
            PostMessageW(box, WM_COMMAND, IDOK, 0);
}

// Clicks "Display objects" and waits until `rows` rows are shown and the
// token list is enabled again.
Listing TimeOneListing(HWND window, DWORD processId, int rows) {
    HWND tokens = GetDlgItem(window, kTokenListId);
    HWND objects = GetDlgItem(window, kObjectListId);
    Listing listing;
    const Clock::time_point start = Clock::now();
    Click(GetDlgItem(window, kDisplayObjectsId), 5, 5);
    // The click is a posted message, which the program takes after the
    // row counts sent from here: until the listing has emptied the list or
    // disabled the token list, the rows seen are the last listing's.
    bool started = false;
    while (Ms(start, Clock::now()) < kTimeoutMs) {
        AnswerBoxes(processId);
        const int shown = RemoteListViewRowCount(objects);
        started = started || shown == 0 || !IsWindowEnabled(tokens);
        if (!started) {
            Sleep(1);
            continue;
        }
        if (shown > 0 && listing.firstRowMs < 0)
            listing.firstRowMs = Ms(start, Clock::now());
        if (shown == rows && IsWindowEnabled(tokens)) {
            // The list's last repaint is part of the listing, as it is of
            // the floor's: carried out now if it is still due.
            UpdateWindow(objects);
            listing.allRowsMs = Ms(start, Clock::now());
            return listing;
        }
        // Each look is a message the program's window thread answers: a few
        // milliseconds apart, so that looking does not slow what it times.
        Sleep(5);
    }
    fprintf(stderr, "rows shown: %d of %d, token list %s\n", RemoteListViewRowCount(objects), rows,
            IsWindowEnabled(tokens) ? "enabled" : "disabled");
    return listing;
}

// The user's way to a listing: the token's row is clicked, which must
// enable "Display objects".
bool SelectToken(HWND window) {
    ClickFirstTokenRow(GetDlgItem(window, kTokenListId));
    HWND button = GetDlgItem(window, kDisplayObjectsId);
    for (int i = 0; i < 500 && !IsWindowEnabled(button); ++i)
        Sleep(10);
    if (!IsWindowEnabled(button)) {
        fprintf(stderr, "\"Display objects\" stays disabled after the token row was clicked\n");
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int count = 5000, runs = 3;
    for (int i = 1; i + 1 < argc; ++i) {
        if (strcmp(argv[i], "--objects") == 0)
            count = std::max(1, atoi(argv[++i]));
        else if (strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, atoi(argv[++i]));
    }
    const std::wstring store = MakeDataObjectStore(L"program_listing_bench", count);
    if (store.empty()) {
        fprintf(stderr, "cannot make the token store\n");
        return 2;
    }
    SetEnvironmentVariableW(L"TOLVANE_SOFTTOKEN_STORE", store.c_str());
    std::wstring commandLine = L"\"" + BinFolder() + L"\\TokenManager.exe\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        fprintf(stderr, "cannot start TokenManager.exe\n");
        return 2;
    }
    HWND window = nullptr;
    for (int i = 0; i < 3000 && !window; ++i, Sleep(10))
        window = FindProgramWindow(info.dwProcessId, L"Window Class", nullptr);
    int status = 0;
    if (!window) {
        fprintf(stderr, "the window did not come up\n");
        status = 2;
    } else {
        const int rows = std::min(count, kMaxListedRows);
        const Memory before = ReadMemory(info.hProcess);
        std::vector<double> times, firstRows;
        if (!SelectToken(window) || TimeOneListing(window, info.dwProcessId, rows).allRowsMs < 0) {
            fprintf(stderr, "the first listing did not end\n");
            status = 2;
        }
        for (int run = 0; run < runs && status == 0; ++run) {
            const Listing listing = TimeOneListing(window, info.dwProcessId, rows);
            if (listing.allRowsMs < 0) {
                fprintf(stderr, "run %d: the listing did not end\n", run);
                status = 2;
            }
            times.push_back(listing.allRowsMs);
            firstRows.push_back(listing.firstRowMs);
        }
        const Memory after = ReadMemory(info.hProcess);
        if (status == 0) {
            printf("TokenManager.exe listing %d objects, %d rows shown (median of %d runs)\n", count, rows, runs);
            printf("  listing time:            %8.1f ms (%.0f objects/s)\n", Median(times),
                   rows / (Median(times) / 1000.0));
            printf("  first row after:         %8.1f ms\n", Median(firstRows));
            const LONG_PTR style = GetWindowLongPtrW(GetDlgItem(window, kObjectListId), GWL_STYLE);
            printf("  object list:             %s\n", (style & LVS_OWNERDATA) ? "owner-data" : "report");
            printf("  working set before/after: %6.1f / %6.1f MiB, peak %6.1f MiB\n", before.workingSet,
                   after.workingSet, after.peakWorkingSet);
            printf("  private bytes before/after: %4.1f / %6.1f MiB, peak %6.1f MiB\n", before.privateBytes,
                   after.privateBytes, after.peakPrivateBytes);
        }
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    if (WaitForSingleObject(info.hProcess, 10000) != WAIT_OBJECT_0)
        TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    RemoveStoreFolder(store);
    return status;
}
