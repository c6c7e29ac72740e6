#include "PkeControl.h"

#include "VexPkeControl.h"

namespace PkeControl {

void Answer(const char* entry, int nth, int status) {
    VexPke_SetFaultEx(entry, nth, status, 0);
}

void Reset() {
    VexPke_ClearFaults();
    VexPke_StartRecording();
}

int Calls(const char* entry) {
    return VexPke_CallCount(entry);
}

std::string LastArguments(const char* entry) {
    char text[1024] = {};
    return VexPke_LastArguments(entry, text, sizeof text) < 0 ? std::string("(none)") : std::string(text);
}

}  // namespace PkeControl
