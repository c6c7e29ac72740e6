// The token the listing benchmarks share: one software token in slot 0 of a
// new store under the temporary folder, holding `count` public data
// objects labelled "Data object <n>". The program and the floor benchmark
// list the same objects.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "softtoken/SoftTokenControl.h"

inline std::wstring MakeDataObjectStore(const wchar_t* name, int count) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + name + L"_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    SoftToken_SetStorePath(folder.c_str());
    SoftTokenParams params = {};
    params.label = "Bench token";
    params.serial = "LB0001";
    params.userPin = "123456";
    if (SoftToken_InitStore(1) != CKR_OK || SoftToken_CreateToken(0, &params) != CKR_OK ||
        SoftToken_SetCapacity(0, 0x7FFFFFFF) != CKR_OK)
        return L"";
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_BBOOL no = CK_FALSE;
    // Added in parts, so that a store of 50,000 objects needs no template
    // array of that size at once.
    constexpr int kPart = 5000;
    for (int first = 0; first < count; first += kPart) {
        const int n = count - first < kPart ? count - first : kPart;
        std::vector<std::string> labels(n);
        std::vector<std::vector<CK_ATTRIBUTE>> templates(n);
        std::vector<const CK_ATTRIBUTE*> pointers(n);
        std::vector<CK_ULONG> counts(n, 3);
        for (int i = 0; i < n; ++i) {
            labels[i] = "Data object " + std::to_string(first + i);
            templates[i] = {{CKA_CLASS, &dataClass, sizeof dataClass},
                            {CKA_PRIVATE, &no, sizeof no},
                            {CKA_LABEL, &labels[i][0], static_cast<CK_ULONG>(labels[i].size())}};
            pointers[i] = templates[i].data();
        }
        if (SoftToken_AddObjects(0, pointers.data(), counts.data(), static_cast<CK_ULONG>(n)) != CKR_OK)
            return L"";
    }
    return folder;
}

inline void RemoveStoreFolder(const std::wstring& folder) {
    SoftToken_SetStorePath(nullptr);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW((folder + L"\\" + found.cFileName).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}
