// Benchmark of the key-management library (vexpke.dll) on the software
// token, called the way the token manager calls it: a CSR for a new
// 2048-bit key pair (login, setSignMech, exGenCSR with an empty key ID), and
// for comparison a CSR for a key already on the token. Prints the median
// and the spread of several runs.
//
// Run: wine build/bin/softpke_bench.exe [--runs N]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/BenchTiming.h"
#include "SoftTokenControl.h"

namespace {

constexpr char kPin[] = "123456";
constexpr size_t kFields = 150;
constexpr size_t kOutputSize = 10000;

using StatusCall = void (*)(int* status);
using SetCryptokiCall = void (*)(const char*, const char*, int*);
using LoginCall = void (*)(int, int, const char*, int*);
using SetSignMechCall = void (*)(int, int, int, unsigned int*, int*);
using ExGenCsrCall = void (*)(const char*, const char* const*, const char* const*, int, int, int, int, const char*,
                              const char*, char*, char*, int*);

struct Library {
    StatusCall initPke;
    SetCryptokiCall setCryptoki;
    LoginCall login;
    SetSignMechCall setSignMech;
    ExGenCsrCall exGenCsr;
};

template <typename T>
bool Resolve(HMODULE module, const char* name, T* call) {
    *call = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return *call != nullptr;
}

// One CSR, timed from login to the CSR text; `keyId` "" makes a new pair.
bool TimeCsr(const Library& pke, const char* keyId, double* ms) {
    static const char* const kEmpty = "";
    const char* subject[kFields];
    const char* altNames[kFields];
    std::fill(subject, subject + kFields, kEmpty);
    std::fill(altNames, altNames + kFields, kEmpty);
    subject[0] = "SE";
    subject[1] = "Benchmark key";
    subject[2] = "Tolvane";
    altNames[0] = "bench.example.com";
    std::vector<char> auxiliary(kOutputSize), csr(kOutputSize);
    unsigned int block[3] = {};
    int status = 0;
    const Clock::time_point start = Clock::now();
    pke.login(1, 0, kPin, &status);
    if (status == 0)
        pke.setSignMech(1, 0, 1, block, &status);
    if (status == 0)
        pke.exGenCsr(keyId, subject, altNames, 2048, 0, 0, 0, "digitalSignature, keyEncipherment", "clientAuth",
                     auxiliary.data(), csr.data(), &status);
    *ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (status != 0 || strncmp(csr.data(), "-----BEGIN CERTIFICATE REQUEST-----", 35) != 0) {
        printf("CSR failed with status %d\n", status);
        return false;
    }
    return true;
}

bool PrepareToken(const std::wstring& store) {
    CreateDirectoryW(store.c_str(), nullptr);
    SoftTokenParams params = {};
    params.label = "Bench token";
    params.serial = "BENCH0001";
    params.userPin = kPin;
    params.capacity = 4 * 1024 * 1024;
    return SoftToken_SetStorePath(store.c_str()) == CKR_OK && SoftToken_InitStore(1) == CKR_OK &&
           SoftToken_CreateToken(0, &params) == CKR_OK &&
           SoftToken_GenerateKeyPair(0, 2048, "Existing key", reinterpret_cast<const unsigned char*>("\x0A\xFF"),
                                     2) == CKR_OK;
}

void RemoveFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do
            DeleteFileW((folder + L"\\" + found.cFileName).c_str());
        while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

void Report(const char* what, const std::vector<double>& times) {
    printf("%-34s median %8.1f ms   min %8.1f ms   max %8.1f ms   (%zu runs)\n", what, Median(times),
           *std::min_element(times.begin(), times.end()), *std::max_element(times.begin(), times.end()),
           times.size());
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 9;
    for (int i = 1; i < argc; ++i)
        if (strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, atoi(argv[++i]));

    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring store = std::wstring(temp) + L"softpke_bench_" + std::to_wstring(GetCurrentProcessId());
    if (!PrepareToken(store)) {
        printf("cannot prepare the software token\n");
        return 1;
    }
    // The program's side: the module loaded and initialised first.
    auto* getList = reinterpret_cast<CK_C_GetFunctionList>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"tolvane11.dll"), "C_GetFunctionList")));
    CK_FUNCTION_LIST_PTR p11 = nullptr;
    if (!getList || getList(&p11) != CKR_OK || p11->C_Initialize(nullptr) != CKR_OK) {
        printf("cannot initialise tolvane11.dll\n");
        return 1;
    }
    CK_SESSION_HANDLE session = 0;
    p11->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session);

    HMODULE module = LoadLibraryW(L"vexpke.dll");
    Library pke = {};
    if (!module || !Resolve(module, "initPKE", &pke.initPke) || !Resolve(module, "setCryptoki", &pke.setCryptoki) ||
        !Resolve(module, "login", &pke.login) || !Resolve(module, "setSignMech", &pke.setSignMech) ||
        !Resolve(module, "exGenCSR", &pke.exGenCsr)) {
        printf("cannot load vexpke.dll\n");
        return 1;
    }
    int status = 0;
    pke.initPke(&status);
    pke.setCryptoki("tolvane11.dll", "", &status);
    if (status != 0) {
        printf("setCryptoki failed with status %d\n", status);
        return 1;
    }

    std::vector<double> newKey, existingKey;
    for (int run = 0; run < runs; ++run) {
        double ms = 0;
        // The program logs out after each CSR, as the token manager does.
        if (!TimeCsr(pke, "", &ms))
            return 1;
        p11->C_Logout(session);
        newKey.push_back(ms);
        if (!TimeCsr(pke, "0AFF", &ms))
            return 1;
        p11->C_Logout(session);
        existingKey.push_back(ms);
    }
    Report("CSR, new 2048-bit key pair", newKey);
    Report("CSR, existing 2048-bit key", existingKey);
    SoftToken_SetStorePath(nullptr);
    RemoveFolder(store);
    return 0;
}
