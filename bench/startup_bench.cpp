// Start-up benchmark: how long TokenManager.exe takes from its process start
// until its window shows four tokens, against a bare Win32 program that only
// opens a window (bare_window.exe), all started from here, in turn, under
// the same system. Prints the medians and their ratio; for comparison also
// the same bare window when it loads the common controls (version 6,
// through the program's manifest) as the program must for its list views,
// and the floor: the program's own window made by plain calls with no
// module (window_floor.exe). With --check it exits 1 when the ratio to the
// bare window exceeds 1.3.
//
// Run: bench/run_startup.sh [--check] [--runs N]
//      (or: wine build/bin/startup_bench.exe [--check] [--runs N])
#include <windows.h>

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

constexpr int kTokens = 4;
constexpr double kRatioBudget = 1.3;
constexpr int kLeastRounds = 11;
constexpr DWORD kRunTimeoutMs = 30000;

// A store of four tokens in a new folder under the temporary folder.
std::wstring MakeStore() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"startup_bench_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    SoftToken_SetStorePath(folder.c_str());
    if (SoftToken_InitStore(kTokens) != CKR_OK)
        return L"";
    for (CK_SLOT_ID slot = 0; slot < kTokens; ++slot) {
        std::string label = "Bench token " + std::to_string(slot);
        std::string serial = "B" + std::to_string(slot);
        SoftTokenParams params = {};
        params.label = label.c_str();
        params.serial = serial.c_str();
        params.userPin = "123456";
        if (SoftToken_CreateToken(slot, &params) != CKR_OK)
            return L"";
    }
    return folder;
}

// The visible top-level window of class `className` of the process.
HWND VisibleWindow(DWORD processId, const wchar_t* className) {
    for (HWND window = FindWindowExW(nullptr, nullptr, className, nullptr); window;
         window = FindWindowExW(nullptr, window, className, nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == processId && IsWindowVisible(window))
            return window;
    }
    return nullptr;
}

// The token manager shows its tokens when every row carries a label.
bool ShowsAllTokens(HWND window) {
    HWND list = GetDlgItem(window, 110);
    if (!list || RemoteListViewRowCount(list) != kTokens)
        return false;
    for (int row = 0; row < kTokens; ++row)
        if (RemoteListViewText(list, row, 0).rfind(L"Bench token ", 0) != 0)
            return false;
    return true;
}

// Starts `program` and waits until its window of class `className` is
// visible and `ready` holds for it (no test when null). The time counted
// is the same for every program: from the start until the window's thread
// first answers a message once the window is visible, in the round whose
// test passes. The test's own reads of another process's memory cost
// several milliseconds and wait behind the window's first paint, which the
// bare window's test does not; they are not the program's start-up.
// Closes the window afterwards. Milliseconds, or -1.
double TimeOneStart(const std::wstring& program, const wchar_t* className, bool (*ready)(HWND)) {
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    const Clock::time_point start = Clock::now();
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return -1;
    double elapsed = -1;
    HWND window = nullptr;
    while (Ms(start, Clock::now()) < kRunTimeoutMs) {
        window = VisibleWindow(info.dwProcessId, className);
        if (window) {
            DWORD_PTR unused = 0;
            SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kRunTimeoutMs, &unused);
            const double answered = Ms(start, Clock::now());
            if (!ready || ready(window)) {
                elapsed = answered;
                break;
            }
        }
        if (WaitForSingleObject(info.hProcess, 1) == WAIT_OBJECT_0)
            break;
    }
    if (window)
        PostMessageW(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(info.hProcess, 10000) != WAIT_OBJECT_0)
        TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return elapsed;
}

}  // namespace

// The median of the ratios of the same round: the two starts of a round
// are next to each other in time and share the system's load, which a
// ratio of two medians taken over the whole run does not.
double MedianRatio(const std::vector<double>& measured, const std::vector<double>& yardstick) {
    std::vector<double> ratios;
    for (size_t i = 0; i < measured.size(); ++i)
        ratios.push_back(measured[i] / yardstick[i]);
    return Median(ratios);
}

int main(int argc, char** argv) {
    bool check = false;
    int runs = 7;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--check") == 0)
            check = true;
        else if (strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, atoi(argv[++i]));
    }
    // A round takes well under a second: the ratios get more rounds than
    // the other benchmarks' runs, since a start-up under load varies a lot.
    runs = std::max(runs, kLeastRounds);
    const std::wstring store = MakeStore();
    if (store.empty()) {
        fprintf(stderr, "cannot make the token store\n");
        return 2;
    }
    // The token manager finds the store through the environment.
    SetEnvironmentVariableW(L"TOLVANE_SOFTTOKEN_STORE", store.c_str());
    const std::wstring bin = BinFolder();
    const struct {
        std::wstring Path;
        const wchar_t* ClassName;
        bool (*Ready)(HWND);
    } programs[] = {
        {bin + L"\\bare_window.exe", L"Bare Window", nullptr},
        {bin + L"\\TokenManager.exe", L"Window Class", ShowsAllTokens},
        {bin + L"\\common_controls_window.exe", L"Bare Window", nullptr},
        {bin + L"\\window_floor.exe", L"Floor Window", nullptr},
    };
    constexpr size_t kPrograms = sizeof programs / sizeof programs[0];

    // One start of each first, not counted: the system's caches warm up.
    for (const auto& program : programs)
        TimeOneStart(program.Path, program.ClassName, program.Ready);
    std::vector<double> times[kPrograms];
    for (int run = 0; run < runs; ++run) {
        for (size_t p = 0; p < kPrograms; ++p) {
            const double ms = TimeOneStart(programs[p].Path, programs[p].ClassName, programs[p].Ready);
            if (ms < 0) {
                fprintf(stderr, "run %d: %ls did not come up\n", run, programs[p].Path.c_str());
                return 2;
            }
            times[p].push_back(ms);
        }
    }
    const std::vector<double>& bare = times[0];
    const std::vector<double>& manager = times[1];
    const std::vector<double>& commonControls = times[2];
    const std::vector<double>& floor = times[3];
    const double ratio = MedianRatio(manager, bare);
    printf("start-up until the window shows %d tokens (medians of %d rounds; ratios: median of each round's)\n",
           kTokens, runs);
    printf("  bare Win32 window:     %8.1f ms\n", Median(bare));
    printf("  TokenManager.exe:      %8.1f ms\n", Median(manager));
    printf("  ratio:                 %8.2f (aim: at most %.1f)\n", ratio, kRatioBudget);
    printf("  bare window with the common controls: %8.1f ms, ratio %.2f (for comparison)\n", Median(commonControls),
           MedianRatio(manager, commonControls));
    printf("  the same window by plain calls (floor): %8.1f ms, floor ratio %.2f, the floor itself %.2f x the bare "
           "window\n", Median(floor), MedianRatio(manager, floor), MedianRatio(floor, bare));
    return check && ratio > kRatioBudget ? 1 : 0;
}
