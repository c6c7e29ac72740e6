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
constexpr char kCallsPrefix[] = "VEXPKE_CALLS_";
constexpr char kLastPrefix[] = "VEXPKE_LAST_";
const char* const kEntries[] = {"initPKE", "setCryptoki", "login", "setSignMech", "exGenCSR"};

struct Fault {
    std::string entry;
    long nth = 0;
    long status = 0;
    bool repeat = false;
};

bool IsEntry(const char* entry) {
    if (!entry)
        return false;
    for (const char* known : kEntries)
        if (strcmp(known, entry) == 0)
            return true;
    return false;
}

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

int ReadCount(const char* entry) {
    std::string value;
    return ReadVariable(std::string(kCallsPrefix) + entry, &value) ? atoi(value.c_str()) : 0;
}

}  // namespace

bool TakeCall(const char* entry, const std::string& arguments, int* faultStatus) {
    SetEnvironmentVariableA((std::string(kCallsPrefix) + entry).c_str(),
                            std::to_string(ReadCount(entry) + 1).c_str());
    SetEnvironmentVariableA((std::string(kLastPrefix) + entry).c_str(), arguments.c_str());

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

int VexPke_CallCount(const char* entry) {
    return IsEntry(entry) ? ReadCount(entry) : 0;
}

int VexPke_LastArguments(const char* entry, char* text, int size) {
    std::string value;
    if (!IsEntry(entry) || !text || !ReadVariable(std::string(kLastPrefix) + entry, &value) ||
        value.size() >= static_cast<size_t>(size))
        return -1;
    memcpy(text, value.c_str(), value.size() + 1);
    return static_cast<int>(value.size());
}

int VexPke_ResetCalls(void) {
    for (const char* entry : kEntries) {
        SetEnvironmentVariableA((std::string(kCallsPrefix) + entry).c_str(), nullptr);
        SetEnvironmentVariableA((std::string(kLastPrefix) + entry).c_str(), nullptr);
    }
    return kPkeOk;
}

}  // extern "C"
