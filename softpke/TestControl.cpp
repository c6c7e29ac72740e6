#include "TestControl.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "PkeStatus.h"
#include "VexPkeControl.h"

namespace softpke {
namespace {

constexpr char kFaultsVariable[] = "VEXPKE_FAULTS";
const char* const kEntries[] = {"initPKE", "setCryptoki", "login", "setSignMech", "exGenCSR"};
constexpr int kEntryCount = sizeof kEntries / sizeof kEntries[0];

struct Fault {
    std::string entry;
    long nth = 0;
    long status = 0;
    bool repeat = false;
};

// The index of a working entry in kEntries; -1 for any other name.
int EntryIndex(const char* entry) {
    for (int i = 0; entry && i < kEntryCount; ++i)
        if (strcmp(kEntries[i], entry) == 0)
            return i;
    return -1;
}

bool IsEntry(const char* entry) {
    return EntryIndex(entry) >= 0;
}

// Faults: set by tests in the environment, read at each call.

// The variable's value; false when it is not set.
bool ReadVariable(const std::string& name, std::string* value) {
    std::vector<char> buffer(32768);
    SetLastError(ERROR_SUCCESS);  // an empty value also answers 0
    const DWORD size = GetEnvironmentVariableA(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (size == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
        return false;
    value->assign(buffer.data(), size < buffer.size() ? size : 0);
    return true;
}

std::vector<Fault> ReadFaults() {
    std::vector<Fault> faults;
    std::string text;
    if (!ReadVariable(kFaultsVariable, &text))
        return faults;
    std::stringstream items(text);
    std::string item;
    while (std::getline(items, item, ';')) {
        char entry[64] = {}, repeat[16] = {};
        Fault fault;
        const int read = sscanf(item.c_str(), "%63[^:]:%ld:%ld:%15s", entry, &fault.nth, &fault.status, repeat);
        if (read < 3 || fault.nth < 1)
            continue;  // not a fault: ignored, as the format says nothing of it
        fault.entry = entry;
        fault.repeat = read == 4 && strcmp(repeat, "repeat") == 0;
        faults.push_back(fault);
    }
    return faults;
}

void WriteFaults(const std::vector<Fault>& faults) {
    std::string text;
    for (const Fault& fault : faults) {
        if (!text.empty())
            text += ';';
        text += fault.entry + ':' + std::to_string(fault.nth) + ':' + std::to_string(fault.status);
        if (fault.repeat)
            text += ":repeat";
    }
    SetEnvironmentVariableA(kFaultsVariable, text.empty() ? nullptr : text.c_str());
}

// Counts a call down against the faults of its entry; true with the status
// when a fault takes it.
bool TakeFault(const char* entry, int* faultStatus) {
    std::vector<Fault> faults = ReadFaults();
    for (size_t i = 0; i < faults.size(); ++i) {
        Fault& fault = faults[i];
        if (fault.entry != entry)
            continue;
        if (fault.nth > 1) {
            --fault.nth;
            WriteFaults(faults);
            return false;
        }
        *faultStatus = static_cast<int>(fault.status);
        if (!fault.repeat)
            faults.erase(faults.begin() + static_cast<long>(i));
        WriteFaults(faults);
        return true;
    }
    return false;
}

// The call record: kept only while a test records, never in the environment.

constexpr size_t kArgumentsCapacity = 1024;

// Shared by every copy of this code in the process (the DLL, loaded and
// unloaded again, and a test's static copy) through a named memory block
// of the process, which exists only once a test has started recording.
struct CallRecord {
    LONG lock;       // 1 while a copy changes or reads the record
    LONG recording;  // 1 from VexPke_StartRecording to VexPke_StopRecording
    LONG calls[kEntryCount];
    char lastArguments[kEntryCount][kArgumentsCapacity];
};

std::wstring RecordName() {
    return L"Local\\VexPkeTestRecord." + std::to_wstring(GetCurrentProcessId());
}

// The record mapped for one use; empty when no test made one.
class MappedRecord {
public:
    explicit MappedRecord(bool create) {
        const std::wstring name = RecordName();
        HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
        // The creator never closes its handle, so that the record lives as
        // long as the process, through every unload of the DLL.
        const bool keep = !mapping && create;
        if (keep)
            mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(CallRecord),
                                         name.c_str());
        if (mapping) {
            record_ = static_cast<CallRecord*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(CallRecord)));
            if (!keep)
                CloseHandle(mapping);
        }
        if (record_)
            while (InterlockedCompareExchange(&record_->lock, 1, 0) != 0)
                SwitchToThread();
    }
    ~MappedRecord() {
        if (!record_)
            return;
        InterlockedExchange(&record_->lock, 0);
        UnmapViewOfFile(record_);
    }
    MappedRecord(const MappedRecord&) = delete;
    MappedRecord& operator=(const MappedRecord&) = delete;

    CallRecord* operator->() const { return record_; }
    bool Exists() const { return record_ != nullptr; }
    bool Recording() const { return record_ && record_->recording; }
    void Clear() {
        ZeroMemory(record_->calls, sizeof record_->calls);
        ZeroMemory(record_->lastArguments, sizeof record_->lastArguments);
    }

private:
    CallRecord* record_ = nullptr;
};

void RecordCall(const char* entry, const std::string& arguments) {
    const int index = EntryIndex(entry);
    MappedRecord record(false);
    if (index < 0 || !record.Recording())
        return;
    ++record->calls[index];
    char* last = record->lastArguments[index];
    const size_t length = arguments.size() < kArgumentsCapacity - 1 ? arguments.size() : kArgumentsCapacity - 1;
    memcpy(last, arguments.data(), length);
    last[length] = '\0';
}

}  // namespace

bool TakeCall(const char* entry, const std::string& arguments, int* faultStatus) {
    RecordCall(entry, arguments);
    return TakeFault(entry, faultStatus);
}

}  // namespace softpke

using namespace softpke;

extern "C" {

int VexPke_SetFault(const char* entry, int status) {
    return VexPke_SetFaultEx(entry, 1, status, 0);
}

int VexPke_SetFaultEx(const char* entry, int nth, int status, int flags) {
    if (!IsEntry(entry) || nth < 1)
        return kPkeNullParameter;
    std::vector<Fault> faults = ReadFaults();
    for (size_t i = 0; i < faults.size(); ++i)
        if (faults[i].entry == entry)
            faults.erase(faults.begin() + static_cast<long>(i--));
    faults.push_back({entry, nth, status, (flags & VEXPKE_FAULT_REPEAT) != 0});
    WriteFaults(faults);
    return kPkeOk;
}

int VexPke_ClearFaults(void) {
    SetEnvironmentVariableA(kFaultsVariable, nullptr);
    return kPkeOk;
}

int VexPke_StartRecording(void) {
    MappedRecord record(true);
    if (!record.Exists())
        return -1;
    record.Clear();
    record->recording = 1;
    return kPkeOk;
}

int VexPke_StopRecording(void) {
    MappedRecord record(false);
    if (record.Recording()) {
        record.Clear();
        record->recording = 0;
    }
    return kPkeOk;
}

int VexPke_CallCount(const char* entry) {
    const int index = EntryIndex(entry);
    MappedRecord record(false);
    return index >= 0 && record.Recording() ? static_cast<int>(record->calls[index]) : 0;
}

int VexPke_LastArguments(const char* entry, char* text, int size) {
    const int index = EntryIndex(entry);
    MappedRecord record(false);
    if (index < 0 || !text || !record.Recording() || record->calls[index] == 0)
        return -1;
    const size_t length = strlen(record->lastArguments[index]);
    if (length >= static_cast<size_t>(size))
        return -1;
    memcpy(text, record->lastArguments[index], length + 1);
    return static_cast<int>(length);
}

int VexPke_ResetCalls(void) {
    MappedRecord record(false);
    if (record.Recording())
        record.Clear();
    return kPkeOk;
}

}  // extern "C"
