#include "cryptoki/ModuleLoader.h"

#include "app/AppState.h"
#include "cryptoki/Cryptoki.h"

namespace {

// The program calls the module from several threads at once (user interface,
// slot monitor, workers), so it asks the module to use the operating
// system's locking. A module that cannot lock that way is initialised with a
// null argument instead.
CK_RV InitializeModule(VendorFunctionList* list) {
    CK_C_INITIALIZE_ARGS args = {};
    args.flags = CKF_OS_LOCKING_OK;
    CK_RV rv = list->C_Initialize(&args);
    if (rv == CKR_CANT_LOCK)
        rv = list->C_Initialize(nullptr);
    return rv;
}

}  // namespace

void RemoveCurrentFolderFromDllSearch() {
    SetDllDirectoryW(L"");
}

HMODULE LoadLibraryOutsideCurrentFolder(const wchar_t* name) {
    RemoveCurrentFolderFromDllSearch();
    // The program's folder, System32 and added folders; never the current
    // folder. Older systems without these flags fall back to the plain
    // search, from which the call above took the current folder.
    HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (!module && GetLastError() == ERROR_INVALID_PARAMETER)
        module = LoadLibraryW(name);
    return module;
}

int LoadCryptokiModuleFrom(const wchar_t* path) {
    HMODULE module = LoadLibraryOutsideCurrentFolder(path);
    if (!module)
        return kModuleNotFound;

    auto getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(
        reinterpret_cast<void*>(GetProcAddress(module, "C_GetFunctionList")));
    if (!getFunctionList) {
        FreeLibrary(module);
        return kNoGetFunctionList;
    }

    CK_FUNCTION_LIST_PTR list = nullptr;
    if (getFunctionList(&list) != CKR_OK || !list) {
        FreeLibrary(module);
        return kGetFunctionListFailed;
    }

    auto* vendorList = static_cast<VendorFunctionList*>(list);
    AppState.CryptokiModule = module;
    if (InitializeModule(vendorList) != CKR_OK)
        return kInitializeFailed;

    AppState.FunctionList = vendorList;
    return kModuleLoaded;
}

int LoadCryptokiModule() {
    return LoadCryptokiModuleFrom(kCryptokiModuleName);
}
