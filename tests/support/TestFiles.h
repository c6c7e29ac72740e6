// Files, folders and processes for tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// True under Wine, for the few places where Wine's answers differ from
// Windows' (each marked where it is used).
bool RunningUnderWine();

// Folder of the running test executable (the build's bin folder).
std::wstring BinFolder();

// A new empty folder under the temporary folder, removed with its contents
// when the object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::wstring& Path() const { return path_; }
    std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// The folder an environment variable names, as a Windows path: a Linux
// path from CTest becomes Z:\... (Wine's view of the root file system).
std::wstring FolderFromEnvironment(const wchar_t* variable);

// A file made by the fixture step (openssl), by name: "cn_simple.der".
std::wstring FixturePath(const std::wstring& name);
std::vector<unsigned char> ReadFixture(const std::wstring& name);

void RemoveTree(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::vector<unsigned char>& bytes);
bool ReadFileBytes(const std::wstring& path, std::vector<unsigned char>* bytes);

// This process's environment with `extra` entries ("NAME=value") set over
// it, as the double-NUL-terminated block CreateProcessW takes.
std::wstring EnvironmentBlock(const std::vector<std::wstring>& extra);

struct ProcessResult {
    bool started = false;
    bool timedOut = false;
    DWORD exitCode = 0;
};

// Starts `commandLine` (with `environment` entries "NAME=value" added to this
// process's environment) and waits for it up to `timeoutMs`; a process that
// overruns is ended.
ProcessResult RunProcess(const std::wstring& commandLine, const std::vector<std::wstring>& environment,
                         DWORD timeoutMs);
