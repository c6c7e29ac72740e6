// Whole-program runs: the real TokenManager.exe (or another program) in a
// process of its own, with the windows it opens read and answered from the
// test.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/RemoteListView.h"
#include "support/UiDriver.h"

class ProgramRun {
public:
    // Starts `program` with `arguments`; `environment` entries "NAME=value"
    // are set over this process's environment.
    ProgramRun(const std::wstring& program, const std::wstring& arguments,
               const std::vector<std::wstring>& environment);
    // Ends the process when it is still running.
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    bool Started() const { return process_ != nullptr; }

    // Waits for a visible top-level window of the process with the class
    // `className` ("#32770" for message boxes and dialogs); null after
    // `timeoutMs`.
    HWND WaitForWindow(const wchar_t* className, DWORD timeoutMs);
    // Every visible top-level window of the process, now.
    std::vector<HWND> Windows() const;
    // Whether a window of class `className` has been seen by any wait or by
    // WatchUntilExit.
    bool Saw(const wchar_t* className) const;

    // Presses `button` of a dialog or message box of the process.
    static void Press(HWND dialog, int button);
    // Describes a dialog or box of the program once it is filled in: it
    // shows only after its initialisation has set its texts.
    static SeenWindow DescribeWhenFilled(HWND dialog);
    // Asks the window to close, as its close box does.
    static void Close(HWND window);

    // Waits for the end of the process; false after `timeoutMs`. Windows the
    // process shows meanwhile are recorded (Saw), message boxes also in Boxes()
    // and answered with OK.
    bool WatchUntilExit(DWORD timeoutMs, DWORD* exitCode);
    const std::vector<SeenWindow>& Boxes() const { return boxes_; }

private:
    void Record(HWND window);

    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
    std::vector<std::wstring> classesSeen_;
    std::vector<HWND> boxesAnswered_;
    std::vector<SeenWindow> boxes_;
};
