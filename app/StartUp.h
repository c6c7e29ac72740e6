// Start-up of the program and its message loop.
#pragma once

#include <windows.h>

#include <string>

// Exit codes of start-up failures.
enum StartUpExitCode {
    kExitModuleNotLoaded = 1,   // "Error in loading PKCS#11 module"
    kExitNoSlotCount = 2,       // "Error in getting token slots"
    kExitNoMainWindow = 3,      // "Window creation failed"
};

// The administrator code: administrator mode when it occurs anywhere in the
// command line.
constexpr char kAdminCode[] = "@";

constexpr int kMainWindowWidth = 682;
constexpr int kMainWindowHeight = 490;
constexpr int kAdminWindowHeight = 535;

bool IsAdminCommandLine(const char* commandLine);
std::wstring ComposeWindowTitle(bool adminMode);

// Runs the start-up steps up to the message loop: common controls, window
// class, mode, then the module and its slot list (on a loader thread) while
// the main window is made hidden, one token-list row per slot, one session
// per token, the first token selected, the window shown and, when
// `startSlotMonitor`, the slot monitor. 0 when the program is ready for
// its message loop, otherwise the exit code (after its message box; a
// window made meanwhile is never shown).
int StartUpToMessageLoop(HINSTANCE instance, const char* commandLine, int show, bool startSlotMonitor);

// The same in three stages, for tests that put their own function list in
// Cryptoki between loading the module and reading the slots:
// common controls, window class and mode;
void PrepareStartUp(HINSTANCE instance, const char* commandLine);
// the module (0, or kExitModuleNotLoaded after its box);
int LoadModuleForStartUp();
// the slots, the window, the rows, the sessions, the window shown and the
// slot monitor.
int StartUpWithModule(HINSTANCE instance, int show, bool startSlotMonitor);

// Runs the message loop until the quit message; returns its exit code.
int RunMessageLoop();

// The message loop, then the end of the run once the window has closed:
// the module finalised once (after the window's worker has ended), which
// wakes the slot monitor's wait, and the monitor waited for. Returns the
// loop's exit code.
int RunUntilClosed();

// The whole program: start-up, the message loop, then the end of the run:
// the module finalised once and the slot monitor waited for. Returns the
// exit code.
int RunStartUp(HINSTANCE instance, const char* commandLine, int show);
