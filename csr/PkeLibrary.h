// Binding of the key-management library vexpke.dll: loaded on demand by
// file name, its exports resolved by name into one process-wide table, and
// the library initialised on the Cryptoki module before each use.
//
// Every entry point the program calls reports through its last argument, a
// status the caller sets to 0 before the call: 0 afterwards is success,
// anything else a result code (pkeResultText gives its text).
#pragma once

#include <windows.h>

#include <cstddef>

// Results of loadPkeLibrary.
enum PkeLoadResult {
    kPkeLoaded = 0,
    kPkeNotLoaded = 1,        // the DLL cannot be loaded or lacks an entry point the program calls
    kPkeInitFailed = 2,       // initPKE reported a status
    kPkeCryptokiFailed = 3,   // setCryptoki reported a status
};

constexpr wchar_t kPkeLibraryName[] = L"vexpke.dll";
constexpr char kPkeCryptokiModuleName[] = "tolvane11.dll";

// Loads the library when it is not loaded yet, resolves every entry point
// again and initialises the library (initPKE, then setCryptoki on the
// Cryptoki module). The library stays loaded when initialisation fails.
int loadPkeLibrary();

// The same for the library `fileName`; tests use it with other DLLs. The
// current folder is never searched.
int loadPkeLibraryFrom(const wchar_t* fileName);

// The message for a non-zero loadPkeLibrary result.
const wchar_t* pkeLoadFailureText(int result);

// Unloads the library and forgets its handle and entry points; the next
// load resolves them again.
void unloadPkeLibrary();

HMODULE pkeLibraryHandle();

// The resolution table: every export the binding looks up, in lookup order.
size_t pkeEntryCount();
const char* pkeEntryName(size_t index);
FARPROC pkeEntryAddress(size_t index);

// The entry points the program calls. Each sets *status to the library's
// answer; an entry the library does not export is never called, the status
// is then kPkeEntryMissing.
constexpr int kPkeEntryMissing = 627;  // "engine is not initialized"

void pkeInitPke(int* status);
void pkeSetCryptoki(const char* moduleName, const char* second, int* status);
void pkeLogin(int userType, int slotIndex, const char* pin, int* status);
void pkeSetSignMech(int first, int second, int third, unsigned int* block, int* status);

// Arguments of exGenCSR, in call order.
struct PkeCsrArguments {
    const char* keyIdText;           // hex CKA_ID of a token key, or "" for a new key pair
    const char* const* subjectFields;  // 150 UTF-8 texts
    const char* const* altNameFields;  // 150 UTF-8 texts
    int keyBits;
    const char* keyUsageText;
    const char* extKeyUsageText;
    char* auxiliaryOutput;           // kPkeOutputSize bytes, zero-filled
    char* csrOutput;                 // kPkeOutputSize bytes, zero-filled
};

constexpr size_t kPkeFieldCount = 150;
constexpr size_t kPkeOutputSize = 10000;

void pkeExGenCsr(const PkeCsrArguments& arguments, int* status);
