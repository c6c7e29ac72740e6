// Loading, initialising and finalising the Cryptoki module.
#pragma once

#include <windows.h>

#include "cryptoki/Cryptoki.h"

// The loaded module: every Cryptoki call of the program goes through
// FunctionList. Set once by LoadCryptokiModule (at start-up on a loader
// thread that the window thread waits for before it reads the record), and
// only read afterwards.
struct CryptokiModuleRecord {
    VendorFunctionList* FunctionList = nullptr;
    HMODULE Handle = nullptr;  // kept loaded for the whole run
};

extern CryptokiModuleRecord Cryptoki;

// Results of LoadCryptokiModule.
enum CryptokiLoadResult {
    kModuleLoaded = 0,
    kModuleNotFound = 1,        // the DLL cannot be loaded
    kNoGetFunctionList = 2,     // it exports no C_GetFunctionList (unloaded again)
    kGetFunctionListFailed = 3, // C_GetFunctionList fails (unloaded again)
    kInitializeFailed = 4,      // C_Initialize fails (module stays loaded)
};

// Loads the vendor's module by its plain file name, initialises it and keeps
// its handle and the program's own copy of its function list in Cryptoki.
// The copy holds the vendor entries (C_SetUserPinPolicy, C_GetUserPinPolicy)
// only when the module's list really has them: read from inside the
// module's image and pointing to its code; otherwise they are null.
int LoadCryptokiModule();

// The same for a module at `path`; tests use it with misbehaving modules.
int LoadCryptokiModuleFrom(const wchar_t* path);

// Keeps the current folder out of the DLL search, so that a DLL planted in
// the working folder is never loaded in place of ours.
void RemoveCurrentFolderFromDllSearch();

// Loads a DLL by name through the normal search order, never from the
// current folder.
HMODULE LoadLibraryOutsideCurrentFolder(const wchar_t* name);

// C_Finalize, once, at the end of the run: after the window is gone and
// every worker has made its last call. A slot monitor blocked in
// C_WaitForSlotEvent wakes with it.
void FinalizeCryptokiModule();
