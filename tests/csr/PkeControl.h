// The test controls of the build's vexpke.dll (softpke/VexPkeControl.h):
// answers chosen for its entry points (kept in the process environment),
// and how often and with what it was called (recorded from Reset on, in a
// record of the process that outlives the library's unloads).
#pragma once

#include <string>

namespace PkeControl {

// The `nth` call of `entry` from now on ("initPKE", "setCryptoki",
// "login", "setSignMech", "exGenCSR") reports `status` instead of running.
void Answer(const char* entry, int nth, int status);
// Forgets the answers and the calls recorded so far, and records from now.
void Reset();

// Calls of `entry` since the last Reset.
int Calls(const char* entry);
// The last call's arguments as the library records them: setCryptoki
// "module|configuration", login "userType slotIndex pinLength",
// setSignMech "a b c w0 w1 w2", exGenCSR "keyId|keyBits|keyUsage|extendedKeyUsage".
std::string LastArguments(const char* entry);

}  // namespace PkeControl
