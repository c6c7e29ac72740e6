// Whether memory the code under test used can still be read, for tests
// that check a secret is gone from where the code kept it; and how much
// memory the process holds, for tests that check an operation did not
// take it.
#pragma once

#include <windows.h>
#include <psapi.h>

#include <cstddef>

// Whether `size` bytes at `where` are committed, readable memory (a frame
// below the stack pointer, or a freed block the heap keeps mapped).
inline bool IsReadableMemory(const void* where, size_t size) {
    MEMORY_BASIC_INFORMATION info;
    if (!VirtualQuery(where, &info, sizeof info) || info.State != MEM_COMMIT)
        return false;
    const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE;
    const auto end = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
    return (info.Protect & readable) && static_cast<const char*>(where) + size <= end;
}

// The process's working set now and at its highest so far, in bytes. A
// buffer the code under test filled, even for a moment, raises the peak.
struct WorkingSet {
    SIZE_T Current = 0;
    SIZE_T Peak = 0;
};

inline WorkingSet ProcessWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    WorkingSet set;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        set.Current = counters.WorkingSetSize;
        set.Peak = counters.PeakWorkingSetSize;
    }
    return set;
}
