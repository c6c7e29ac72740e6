// Test control of vexpke.dll: make an entry point answer a chosen status,
// and see how often each entry point was called and with what.
//
// Faults live in the process environment, so that they hold across loads
// and unloads of the DLL within a process and reach a whole-program run
// through the environment a test starts it with. Only tests set them:
//
//   VEXPKE_FAULTS   faults, "entry:nth:status[:repeat]" joined by ';'.
//                   The nth call of `entry` from now (1 = the next)
//                   answers `status` without doing anything; with
//                   ":repeat" every call from then on does.
//                   Example: VEXPKE_FAULTS=exGenCSR:1:627
//
// Calls are recorded only after a test has called VexPke_StartRecording,
// and never into the environment: a normal run records nothing, and no
// program it starts inherits a trace of its calls. The record belongs to
// the process (a named memory block of it) and outlives unloads of the
// DLL. It holds the calls of each entry, faulted ones too, and the last
// call's arguments, secrets left out: setCryptoki "module|configuration",
// login "userType slotIndex pinLength" (never the PIN), setSignMech
// "a b c w0 w1 w2", exGenCSR "keyId|keyBits|keyUsage|extendedKeyUsage".
//
// Entries: initPKE, setCryptoki, login, setSignMech, exGenCSR. The DLL
// exports the functions below; the static library vexpke_control has the
// same functions for tests that set faults before the DLL is loaded.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

#define VEXPKE_FAULT_REPEAT 1

// The next call of `entry` answers `status`.
int VexPke_SetFault(const char* entry, int status);
// The nth call of `entry` from now (and with VEXPKE_FAULT_REPEAT every
// later one) answers `status`. Replaces an earlier fault of `entry`.
int VexPke_SetFaultEx(const char* entry, int nth, int status, int flags);
int VexPke_ClearFaults(void);

// Starts recording the calls of this process, from an empty record;
// non-zero when the record cannot be made.
int VexPke_StartRecording(void);
// Stops recording and forgets what was recorded.
int VexPke_StopRecording(void);

// Calls of `entry` since recording started or was reset; 0 when no test
// records.
int VexPke_CallCount(const char* entry);
// Copies the last arguments of `entry` into `text`; returns their length,
// or -1 when `entry` has not been called while recording, or `size` is too
// small.
int VexPke_LastArguments(const char* entry, char* text, int size);
// Forgets the call counts and arguments; recording goes on.
int VexPke_ResetCalls(void);

#ifdef __cplusplus
}
#endif
