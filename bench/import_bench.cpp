// Benchmark of the PFX import: a PFX file with a 2048-bit RSA key and a
// chain of three certificates, imported with the chain option onto a fresh
// software token, run after run. Prints the median, minimum and maximum of
// the whole import (PFX open, certificates, key export, key objects,
// container clean-up), and the median of the platform's PFX open alone.
//
// Run: wine build/bin/import_bench.exe [--runs N] [--pfx FILE] [--password TEXT]
// The default file is the test fixture ..\fixtures\imp_chain.pfx beside
// the bin folder (made by tests/fixtures/make_fixtures.sh).
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchTiming.h"
#include "cryptoki/ModuleLoader.h"
#include "cryptoki/SessionTable.h"
#include "import/ImportPfx.h"
#include "import/KeyContainerSweep.h"
#include "import/PfxImportState.h"
#include "softtoken/SoftTokenControl.h"

namespace {

constexpr char kPin[] = "123456";

std::wstring Widen(const char* text) {
    std::wstring wide(MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, &wide[0], static_cast<int>(wide.size()));
    wide.resize(wide.size() - 1);
    return wide;
}

// A fresh token in slot 0 with its session logged in, in the session table.
bool FreshToken() {
    SoftTokenParams params = {};
    params.label = "Import bench";
    params.serial = "IMPBENCH1";
    params.userPin = kPin;
    params.capacity = 1024 * 1024;
    if (SoftToken_CreateToken(0, &params) != CKR_OK)
        return false;
    return SessionTable.Open(0) == CKR_OK &&
           Cryptoki.FunctionList->C_Login(SessionTable[0], CKU_USER, (CK_UTF8CHAR_PTR)kPin, 6) == CKR_OK;
}

CK_ULONG TokenObjectCount() {
    CK_FUNCTION_LIST* f = Cryptoki.FunctionList;
    CK_SESSION_HANDLE session = SessionTable[0];
    CK_ULONG total = 0, count = 0;
    CK_OBJECT_HANDLE handle = 0;
    f->C_FindObjectsInit(session, nullptr, 0);
    while (f->C_FindObjects(session, &handle, 1, &count) == CKR_OK && count == 1)
        ++total;
    f->C_FindObjectsFinal(session);
    return total;
}

// The platform's part: open the PFX into a temporary store and drop it with
// its key containers, as the import does.
double PlatformOpenOnce(std::vector<BYTE>& file, const std::wstring& password) {
    const Clock::time_point start = Clock::now();
    CRYPT_DATA_BLOB blob = {static_cast<DWORD>(file.size()), file.data()};
    HCERTSTORE store = PFXImportCertStore(&blob, password.c_str(), CRYPT_EXPORTABLE);
    if (!store)
        return -1;
    KeyContainerSweep().DeleteNamedByStore(store);
    CertCloseStore(store, 0);
    return Ms(start, Clock::now());
}

std::vector<BYTE> ReadAll(const std::wstring& path) {
    std::vector<BYTE> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    DWORD size = GetFileSize(file, nullptr), done = 0;
    bytes.resize(size);
    if (!ReadFile(file, bytes.data(), size, &done, nullptr) || done != size)
        bytes.clear();
    CloseHandle(file);
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 9;
    std::wstring pfx = BinFolder() + L"\\..\\fixtures\\imp_chain.pfx";
    std::wstring password = L"secret";
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--runs")
            runs = std::max(1, atoi(argv[++i]));
        else if (option == "--pfx")
            pfx = Widen(argv[++i]);
        else if (option == "--password")
            password = Widen(argv[++i]);
    }
    std::vector<BYTE> file = ReadAll(pfx);
    if (file.empty()) {
        fprintf(stderr, "cannot read %ls\n", pfx.c_str());
        return 2;
    }
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring store = std::wstring(temp) + L"import-bench-" + std::to_wstring(GetCurrentProcessId());
    SoftToken_SetStorePath(store.c_str());
    if (SoftToken_InitStore(1) != CKR_OK ||
        LoadCryptokiModuleFrom((BinFolder() + L"\\tolvane11.dll").c_str()) != kModuleLoaded) {
        fprintf(stderr, "could not prepare the token\n");
        return 2;
    }

    std::vector<double> imports, opens;
    CK_ULONG objects = 0;
    for (int i = 0; i <= runs; ++i) {  // the first run warms up and is not counted
        if (!FreshToken()) {
            fprintf(stderr, "could not make a token\n");
            return 2;
        }
        PfxImportState = PfxImportStateRecord();
        wcsncpy(PfxImportState.PfxFilePath, pfx.c_str(), kPfxPathCapacity - 1);
        PfxImportState.PfxImportChain = true;
        PfxImportState.DialogSlot = 0;
        const Clock::time_point start = Clock::now();
        const long long result = ImportPfx(password.c_str());
        const double elapsed = Ms(start, Clock::now());
        if (result != kPfxImported) {
            fprintf(stderr, "import failed with %lld\n", result);
            return 1;
        }
        objects = TokenObjectCount();
        const double open = PlatformOpenOnce(file, password);
        if (i > 0) {
            imports.push_back(elapsed);
            opens.push_back(open);
        }
    }
    Cryptoki.FunctionList->C_Finalize(nullptr);

    printf("file:                               %ls (%u bytes)\n", pfx.c_str(), static_cast<unsigned>(file.size()));
    printf("objects per import:                 %lu\n", static_cast<unsigned long>(objects));
    printf("whole import, median:               %.2f ms (min %.2f, max %.2f, %d runs)\n", Median(imports),
           *std::min_element(imports.begin(), imports.end()), *std::max_element(imports.begin(), imports.end()),
           runs);
    printf("platform PFX open alone, median:    %.2f ms\n", Median(opens));
    for (const wchar_t* name : {L"\\slot0.token", L"\\store.cfg"})
        DeleteFileW((store + name).c_str());
    RemoveDirectoryW(store.c_str());
    return 0;
}
