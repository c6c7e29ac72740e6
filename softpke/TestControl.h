// The library's side of the test control (VexPkeControl.h): each working
// entry point reports its call here first.
#pragma once

#include <string>

namespace softpke {

// Counts a call of `entry`, records its non-secret `arguments`, and
// answers true with the status to give when a fault takes this call.
bool TakeCall(const char* entry, const std::string& arguments, int* faultStatus);

}  // namespace softpke
