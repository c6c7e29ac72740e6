#include "RobustnessSupport.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>

#include "support/TestFiles.h"

namespace {

const std::string* CurrentCase = nullptr;

LONG WINAPI PrintCrashingCase(EXCEPTION_POINTERS* exception) {
    fprintf(stderr, "\nCRASH 0x%08lx while importing: %s\n",
            static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode),
            CurrentCase ? CurrentCase->c_str() : "(no case)");
    fflush(stderr);
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

std::vector<unsigned char> ReadRobustnessFixture(const std::wstring& name) {
    std::vector<unsigned char> bytes;
    ReadFileBytes(FolderFromEnvironment(L"TM_ROBUSTNESS_FIXTURES") + L"\\" + name, &bytes);
    return bytes;
}

bool ProcessHeapsAreIntact() {
    HANDLE heaps[256];
    const DWORD count = GetProcessHeaps(256, heaps);
    if (count == 0 || count > 256)
        return false;
    for (DWORD i = 0; i < count; ++i)
        if (!HeapValidate(heaps[i], 0, nullptr))
            return false;
    return true;
}

void ReportCrashingCase(const std::string* current) {
    CurrentCase = current;
    SetUnhandledExceptionFilter(current ? PrintCrashingCase : nullptr);
}
