// Shared by the robustness tests: their own seed files, the platform's key
// containers (support/KeyContainers.h), and a last word from a test process that crashes.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "support/KeyContainers.h"

// A file made by make_hostile_fixtures.sh, by name ("rb_open.pfx").
std::vector<unsigned char> ReadRobustnessFixture(const std::wstring& name);


// Whether every heap of the process passes the platform's own validation:
// a write past a buffer shows here long before it crashes anything.
bool ProcessHeapsAreIntact();

// While `current` is set, a crash of the process prints the case it names
// before the process ends, so that the file can be made again.
void ReportCrashingCase(const std::string* current);
