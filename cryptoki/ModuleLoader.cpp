#include "cryptoki/ModuleLoader.h"

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>


CryptokiModuleRecord Cryptoki;

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

bool IsPlainName(const wchar_t* name) {
    return !wcschr(name, L'\\') && !wcschr(name, L'/');
}

// A folder as the system resolves it, without a trailing separator, in
// upper case for comparing.
std::wstring ComparableFolder(const std::wstring& folder) {
    wchar_t full[MAX_PATH] = {};
    const DWORD length = GetFullPathNameW(folder.c_str(), MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH)
        return std::wstring();
    std::wstring text(full, length);
    while (text.size() > 3 && (text.back() == L'\\' || text.back() == L'/'))
        text.pop_back();
    CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// An absolute folder: "X:\..." or "\\server\...". A relative entry of
// PATH (".", "bin") would stand for a folder under the current one.
bool IsAbsoluteFolder(const std::wstring& folder) {
    return (folder.size() >= 3 && folder[1] == L':' && (folder[2] == L'\\' || folder[2] == L'/')) ||
           (folder.size() >= 2 && folder[0] == L'\\' && folder[1] == L'\\');
}

// The Windows folder, then the absolute folders of PATH, the current
// folder left out wherever it appears.
std::vector<std::wstring> FurtherSearchFolders() {
    std::vector<std::wstring> folders;
    wchar_t windows[MAX_PATH] = {};
    const UINT windowsLength = GetWindowsDirectoryW(windows, MAX_PATH);
    if (windowsLength > 0 && windowsLength < MAX_PATH)
        folders.emplace_back(windows, windowsLength);

    const DWORD pathLength = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    std::wstring path(pathLength, L'\0');
    if (pathLength > 0 && GetEnvironmentVariableW(L"PATH", &path[0], pathLength) == pathLength - 1) {
        path.resize(pathLength - 1);
        size_t start = 0;
        while (start <= path.size()) {
            size_t end = path.find(L';', start);
            if (end == std::wstring::npos)
                end = path.size();
            std::wstring entry = path.substr(start, end - start);
            entry.erase(std::remove(entry.begin(), entry.end(), L'"'), entry.end());
            if (IsAbsoluteFolder(entry))
                folders.push_back(entry);
            start = end + 1;
        }
    }

    wchar_t current[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, current);
    const std::wstring currentFolder = ComparableFolder(current);
    folders.erase(std::remove_if(folders.begin(), folders.end(),
                                 [&](const std::wstring& f) { return ComparableFolder(f) == currentFolder; }),
                  folders.end());
    return folders;
}

}  // namespace

void RemoveCurrentFolderFromDllSearch() {
    SetDllDirectoryW(L"");
}

HMODULE LoadLibraryOutsideCurrentFolder(const wchar_t* name) {
    RemoveCurrentFolderFromDllSearch();
    // The program's folder and the system folder first. (Wine still
    // searches the current folder after SetDllDirectoryW(L""), so the plain
    // search cannot be used; systems without these flags can.)
    HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (!module && GetLastError() == ERROR_INVALID_PARAMETER)
        return LoadLibraryW(name);
    if (module || !IsPlainName(name))
        return module;
    // Then the rest of the normal search, where a vendor's installation may
    // have put its module: the Windows folder and the folders of PATH.
    for (const std::wstring& folder : FurtherSearchFolders()) {
        const std::wstring path = folder + L"\\" + name;
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
            continue;
        module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
        if (module)
            return module;
    }
    return nullptr;
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
    Cryptoki.Handle = module;
    if (InitializeModule(vendorList) != CKR_OK)
        return kInitializeFailed;

    Cryptoki.FunctionList = vendorList;
    return kModuleLoaded;
}

int LoadCryptokiModule() {
    return LoadCryptokiModuleFrom(kCryptokiModuleName);
}

void FinalizeCryptokiModule() {
    if (Cryptoki.FunctionList)
        Cryptoki.FunctionList->C_Finalize(nullptr);
}
