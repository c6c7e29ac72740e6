#include "cryptoki/ModuleLoader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
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

// The program's own copy of the module's function list: the standard
// entries as the module gave them and the vendor entries that passed the
// checks below. Every call of the program goes through it.
VendorFunctionList LoadedFunctions;

// Where a loaded module lies in memory, from its PE headers.
struct ModuleImage {
    uintptr_t base = 0;
    uintptr_t size = 0;
    const IMAGE_NT_HEADERS* headers = nullptr;
};

bool ReadModuleImage(HMODULE module, ModuleImage* image) {
    const auto base = reinterpret_cast<uintptr_t>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0)
        return false;
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + static_cast<uintptr_t>(dos->e_lfanew));
    if (headers->Signature != IMAGE_NT_SIGNATURE)
        return false;
    image->base = base;
    image->size = headers->OptionalHeader.SizeOfImage;
    image->headers = headers;
    return true;
}

bool LiesInImage(const ModuleImage& image, uintptr_t address, uintptr_t length) {
    return address >= image.base && length <= image.size && address - image.base <= image.size - length;
}

// Whether `address` lies in a section of the image that holds code.
bool IsCodeInImage(const ModuleImage& image, uintptr_t address) {
    if (!LiesInImage(image, address, 1))
        return false;
    const uintptr_t offset = address - image.base;
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(image.headers);
    for (WORD i = 0; i < image.headers->FileHeader.NumberOfSections; ++i, ++section) {
        const uintptr_t start = section->VirtualAddress;
        const uintptr_t size = section->Misc.VirtualSize ? section->Misc.VirtualSize : section->SizeOfRawData;
        if (offset >= start && offset - start < size)
            return (section->Characteristics & IMAGE_SCN_MEM_EXECUTE) != 0;
    }
    return false;
}

// A vendor entry is read only from a place inside the module's image (a
// module without the extension may end its list at the last standard
// entry, and whatever follows it is not ours to read), and kept only when
// it points to code of the module. Anything else is no entry: null.
template <typename Entry>
Entry TrustedVendorEntry(const ModuleImage& image, const Entry* place) {
    const auto where = reinterpret_cast<uintptr_t>(place);
    if (!LiesInImage(image, where, sizeof(Entry)))
        return nullptr;
    Entry entry = nullptr;
    memcpy(&entry, place, sizeof entry);
    return IsCodeInImage(image, reinterpret_cast<uintptr_t>(entry)) ? entry : nullptr;
}

void CopyFunctionList(HMODULE module, CK_FUNCTION_LIST_PTR list, VendorFunctionList* copy) {
    *copy = VendorFunctionList();
    static_cast<CK_FUNCTION_LIST&>(*copy) = *list;
    ModuleImage image;
    if (!ReadModuleImage(module, &image))
        return;
    const auto* vendor = reinterpret_cast<const VendorFunctionList*>(list);
    copy->C_SetUserPinPolicy = TrustedVendorEntry(image, &vendor->C_SetUserPinPolicy);
    copy->C_GetUserPinPolicy = TrustedVendorEntry(image, &vendor->C_GetUserPinPolicy);
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

    VendorFunctionList functions;
    CopyFunctionList(module, list, &functions);
    Cryptoki.Handle = module;
    if (InitializeModule(&functions) != CKR_OK)
        return kInitializeFailed;

    LoadedFunctions = functions;
    Cryptoki.FunctionList = &LoadedFunctions;
    return kModuleLoaded;
}

int LoadCryptokiModule() {
    return LoadCryptokiModuleFrom(kCryptokiModuleName);
}

void FinalizeCryptokiModule() {
    if (Cryptoki.FunctionList)
        Cryptoki.FunctionList->C_Finalize(nullptr);
}
