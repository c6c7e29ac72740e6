// The real TokenManager.exe listing a token of 5,000 objects: the time from
// the "Display objects" command until the listing has ended with every row
// shown, and the program's memory (working set and private bytes, current
// and peak) before and after. The token holds public data objects, so the
// public-objects warning comes first and is answered here.
//
// Run: wine build/bin/program_listing_bench.exe [--objects N] [--runs N]
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/BenchTiming.h"
#include "softtoken/SoftTokenControl.h"
#include "support/RemoteListView.h"

namespace {

constexpr int kTokenListId = 110;
constexpr int kObjectListId = 130;
constexpr WPARAM kDisplayObjectsCommand = 104;
constexpr DWORD kTimeoutMs = 60000;

// One token in slot 0 holding `count` public data objects.
std::wstring MakeStore(int count) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"listing_bench_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    SoftToken_SetStorePath(folder.c_str());
    SoftTokenParams params = {};
    params.label = "Bench token";
    params.serial = "LB0001";
    params.userPin = "123456";
    if (SoftToken_InitStore(1) != CKR_OK || SoftToken_CreateToken(0, &params) != CKR_OK ||
        SoftToken_SetCapacity(0, 0x7FFFFFFF) != CKR_OK)
        return L"";
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_BBOOL no = CK_FALSE;
    std::vector<std::string> labels(count);
    std::vector<std::vector<CK_ATTRIBUTE>> templates(count);
    std::vector<const CK_ATTRIBUTE*> pointers(count);
    std::vector<CK_ULONG> counts(count, 3);
    for (int i = 0; i < count; ++i) {
        labels[i] = "Data object " + std::to_string(i);
        templates[i] = {{CKA_CLASS, &dataClass, sizeof dataClass},
                        {CKA_PRIVATE, &no, sizeof no},
                        {CKA_LABEL, &labels[i][0], static_cast<CK_ULONG>(labels[i].size())}};
        pointers[i] = templates[i].data();
    }
    if (SoftToken_AddObjects(0, pointers.data(), counts.data(), static_cast<CK_ULONG>(count)) != CKR_OK)
        return L"";
    return folder;
}

struct Search {
    DWORD processId;
    const wchar_t* className;
    const wchar_t* caption;
    HWND found;
};

BOOL CALLBACK Match(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    wchar_t name[64] = {}, caption[64] = {};
    GetClassNameW(window, name, ARRAYSIZE(name));
    GetWindowTextW(window, caption, ARRAYSIZE(caption));
    if (processId == search->processId && IsWindowVisible(window) &&
        (!search->className || wcscmp(name, search->className) == 0) &&
        (!search->caption || wcscmp(caption, search->caption) == 0)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
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

// Sends "Display objects", answers the warning, and waits until every row
// is there and the token list is enabled again. Milliseconds, or -1.
double TimeOneListing(HWND window, DWORD processId, int count) {
    HWND tokens = GetDlgItem(window, kTokenListId);
    HWND objects = GetDlgItem(window, kObjectListId);
    const Clock::time_point start = Clock::now();
    PostMessageW(window, WM_COMMAND, kDisplayObjectsCommand, 0);
    while (Ms(start, Clock::now()) < kTimeoutMs) {
        if (HWND warning = FindProgramWindow(processId, nullptr, L"User not logged in"))
            PostMessageW(warning, WM_COMMAND, IDOK, 0);
        if (RemoteListViewRowCount(objects) == count && IsWindowEnabled(tokens))
            return Ms(start, Clock::now());
        Sleep(20);
    }
    fprintf(stderr, "rows shown: %d of %d, token list %s\n", RemoteListViewRowCount(objects), count,
            IsWindowEnabled(tokens) ? "enabled" : "disabled");
    return -1;
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
    const std::wstring store = MakeStore(count);
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
        const Memory before = ReadMemory(info.hProcess);
        std::vector<double> times;
        for (int run = 0; run < runs && status == 0; ++run) {
            const double ms = TimeOneListing(window, info.dwProcessId, count);
            if (ms < 0) {
                fprintf(stderr, "run %d: the listing did not end\n", run);
                status = 2;
            }
            times.push_back(ms);
        }
        const Memory after = ReadMemory(info.hProcess);
        if (status == 0) {
            printf("TokenManager.exe listing %d objects (median of %d runs)\n", count, runs);
            printf("  listing time:            %8.1f ms (%.0f objects/s)\n", Median(times),
                   count / (Median(times) / 1000.0));
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
    return status;
}
