#include "support/ProgramRun.h"

#include <commctrl.h>

#include <algorithm>

#include "support/TestFiles.h"

namespace {

struct WindowSearch {
    DWORD processId;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == search->processId && IsWindowVisible(window))
        search->windows.push_back(window);
    return TRUE;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[128] = {};
    GetClassNameW(window, name, ARRAYSIZE(name));
    return name;
}

}  // namespace

ProgramRun::ProgramRun(const std::wstring& program, const std::wstring& arguments,
                       const std::vector<std::wstring>& environment) {
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!arguments.empty())
        commandLine += L" " + arguments;
    std::wstring block = EnvironmentBlock(environment);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT, &block[0],
                        nullptr, &startup, &info))
        return;
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    processId_ = info.dwProcessId;
}

ProgramRun::~ProgramRun() {
    if (!process_)
        return;
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_, 255);
        WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
}

std::vector<HWND> ProgramRun::Windows() const {
    WindowSearch search = {processId_, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.windows;
}

void ProgramRun::Record(HWND window) {
    const std::wstring name = ClassOf(window);
    if (std::find(classesSeen_.begin(), classesSeen_.end(), name) == classesSeen_.end())
        classesSeen_.push_back(name);
}

bool ProgramRun::Saw(const wchar_t* className) const {
    return std::find(classesSeen_.begin(), classesSeen_.end(), className) != classesSeen_.end();
}

HWND ProgramRun::WaitForWindow(const wchar_t* className, DWORD timeoutMs) {
    const ULONGLONG until = GetTickCount64() + timeoutMs;
    do {
        for (HWND window : Windows()) {
            Record(window);
            if (ClassOf(window) == className)
                return window;
        }
        Sleep(10);
    } while (GetTickCount64() < until);
    return nullptr;
}

SeenWindow ProgramRun::DescribeWhenFilled(HWND dialog) {
    // The box is another process's: no hook of ours sees it show, so its
    // state is looked at until it does (or it is gone, or 5 s have passed).
    for (int i = 0; i < 1000 && IsWindow(dialog) && !IsWindowVisible(dialog); ++i)
        Sleep(5);
    return DescribeWindow(dialog);
}

void ProgramRun::Press(HWND dialog, int button) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
}

void ProgramRun::Close(HWND window) {
    PostMessageW(window, WM_CLOSE, 0, 0);
}

bool ProgramRun::WatchUntilExit(DWORD timeoutMs, DWORD* exitCode) {
    if (!process_)
        return false;
    const ULONGLONG until = GetTickCount64() + timeoutMs;
    while (WaitForSingleObject(process_, 10) == WAIT_TIMEOUT) {
        if (GetTickCount64() >= until)
            return false;
        for (HWND window : Windows()) {
            Record(window);
            if (ClassOf(window) != L"#32770" ||
                std::find(boxesAnswered_.begin(), boxesAnswered_.end(), window) != boxesAnswered_.end())
                continue;
            boxes_.push_back(DescribeWhenFilled(window));
            boxesAnswered_.push_back(window);
            Press(window, IDOK);
        }
    }
    GetExitCodeProcess(process_, exitCode);
    return true;
}
