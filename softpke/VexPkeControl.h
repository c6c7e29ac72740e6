// Test control of vexpke.dll: make an entry point answer a chosen status,
// and see how often each entry point was called and with what.
//
// The control lives in the process environment, so that it holds across
// loads and unloads of the DLL within a process and reaches a whole-program
// run through the environment it is started with:
//
//   VEXPKE_FAULTS         faults, "entry:nth:status[:repeat]" joined by ';'.
//                         The nth call of `entry` from now (1 = the next)
//                         answers `status` without doing anything; with
//                         ":repeat" every call from then on does.
//                         Example: VEXPKE_FAULTS=exGenCSR:1:627
//   VEXPKE_CALLS_<entry>  calls of `entry` in this process, faulted ones too.
//   VEXPKE_LAST_<entry>   the last call's arguments, secrets left out:
//                         setCryptoki "module|configuration", login
//                         "userType slotIndex pinLength" (never the PIN), setSignMech
//                         "a b c w0 w1 w2", exGenCSR
//                         "keyId|keyBits|keyUsage|extendedKeyUsage".
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

int VexPke_CallCount(const char* entry);
// Copies the last arguments of `entry` into `text`; returns their length,
// or -1 when `entry` has not been called or `size` is too small.
int VexPke_LastArguments(const char* entry, char* text, int size);
// Forgets the call counts and arguments.
int VexPke_ResetCalls(void);

#ifdef __cplusplus
}
#endif
