#include "csr/PkeLibrary.h"

#include <cstring>
#include <iterator>

#include "cryptoki/ModuleLoader.h"

namespace {

// Every export of the library the binding looks up, in lookup order.
// genSymmetricKey appears twice: the binding keeps two entries for it.
const char* const kPkeEntryNames[] = {
    "scep_init", "scep_getcerts", "scep_reqcert", "verifyCertIssueReq", "initPKE",
    "initENG", "setCryptoki", "issueCert", "ocspReq", "getPubKeys",
    "getCertById", "initToken", "getKeyPairs", "getTokenCertsInfo", "injectCert",
    "ldapReq", "getKeysId", "genCSR", "exGenCSR", "getCertExtension",
    "verifyCert", "getIssuerCert", "genCertIssueReq", "genCertReReq", "verify",
    "signById", "validateChain", "genRandom", "getRandom", "genSymmetricKey",
    "encrypt", "decrypt", "getVCertErrMsg", "pkcs7Sign", "pkcs7Verify",
    "getPkcs7SignInfo", "pkcs7Encrypt", "pkcs7Decrypt", "getPkcs7EncInfo", "tspReq",
    "getInfoCertificate", "getExtByName", "deleteKeyPair", "getCertData", "scep_revokeCert",
    "scep_renewCert", "scep_getErrorString", "setIssueCertConf", "checkCertUsage", "normalize",
    "checkToken", "getSlotCount", "getSlotInfo", "getCN", "sign",
    "genHashByToken", "genHash", "verifySign", "login", "setSignMech",
    "genSymmetricKey", "genKeyPair", "getSecKeyHandle", "setCryptMech", "doCrypt",
    "initializeToken", "initializeUserPIN", "changePIN", "getPublicObject", "genHashFile",
    "import", "getCerts", "logout", "getTokenPubKeys", "deleteObj",
    "getEventLog",
};

constexpr size_t kEntryCount = std::size(kPkeEntryNames);
static_assert(kEntryCount == 76, "the binding looks up 76 exports");

constexpr bool SameName(const char* a, const char* b) {
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

// Position of `name` in the table (its first occurrence).
constexpr size_t EntryIndex(const char* name) {
    for (size_t i = 0; i < kEntryCount; ++i)
        if (SameName(kPkeEntryNames[i], name))
            return i;
    return kEntryCount;
}

constexpr size_t kInitPke = EntryIndex("initPKE");
constexpr size_t kSetCryptoki = EntryIndex("setCryptoki");
constexpr size_t kLogin = EntryIndex("login");
constexpr size_t kSetSignMech = EntryIndex("setSignMech");
constexpr size_t kExGenCsr = EntryIndex("exGenCSR");

// The entries the program calls; a library without one of them is unusable.
constexpr size_t kCalledEntries[] = {kInitPke, kSetCryptoki, kLogin, kSetSignMech, kExGenCsr};

using InitPkeFunction = void (*)(int* status);
using SetCryptokiFunction = void (*)(const char* moduleName, const char* second, int* status);
using LoginFunction = void (*)(int userType, int slotIndex, const char* pin, int* status);
using SetSignMechFunction = void (*)(int first, int second, int third, unsigned int* block, int* status);
using ExGenCsrFunction = void (*)(const char* keyId, const char* const* subject, const char* const* altNames,
                                  int keyBits, int, int, int, const char* keyUsage, const char* extKeyUsage,
                                  char* auxiliaryOutput, char* csrOutput, int* status);

HMODULE PkeLibrary = nullptr;
FARPROC PkeEntries[kEntryCount] = {};

template <typename Function>
Function Entry(size_t index) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(PkeEntries[index]));
}

void ResolveEntries() {
    for (size_t i = 0; i < kEntryCount; ++i)
        PkeEntries[i] = GetProcAddress(PkeLibrary, kPkeEntryNames[i]);
}

bool HasCalledEntries() {
    for (size_t index : kCalledEntries)
        if (!PkeEntries[index])
            return false;
    return true;
}

}  // namespace

int loadPkeLibraryFrom(const wchar_t* fileName) {
    if (!PkeLibrary)
        PkeLibrary = LoadLibraryOutsideCurrentFolder(fileName);
    if (!PkeLibrary)
        return kPkeNotLoaded;

    ResolveEntries();
    if (!HasCalledEntries()) {
        // Not the library the program needs: nothing of it is ever called.
        unloadPkeLibrary();
        return kPkeNotLoaded;
    }

    int status = 0;
    pkeInitPke(&status);
    if (status != 0)
        return kPkeInitFailed;
    pkeSetCryptoki(kPkeCryptokiModuleName, "", &status);
    return status != 0 ? kPkeCryptokiFailed : kPkeLoaded;
}

int loadPkeLibrary() {
    return loadPkeLibraryFrom(kPkeLibraryName);
}

const wchar_t* pkeLoadFailureText(int result) {
    switch (result) {
    case kPkeNotLoaded:
        return L"Can not load PKE dll";
    case kPkeInitFailed:
        return L"Can not set cryptoki";
    default:
        return L"An error occured";
    }
}

void unloadPkeLibrary() {
    if (PkeLibrary)
        FreeLibrary(PkeLibrary);
    PkeLibrary = nullptr;
    // The addresses point into the unloaded image: forget them, so that no
    // call can reach it before the next load resolves them again.
    for (FARPROC& entry : PkeEntries)
        entry = nullptr;
}

HMODULE pkeLibraryHandle() {
    return PkeLibrary;
}

size_t pkeEntryCount() {
    return kEntryCount;
}

const char* pkeEntryName(size_t index) {
    return index < kEntryCount ? kPkeEntryNames[index] : nullptr;
}

FARPROC pkeEntryAddress(size_t index) {
    return index < kEntryCount ? PkeEntries[index] : nullptr;
}

void pkeInitPke(int* status) {
    if (auto function = Entry<InitPkeFunction>(kInitPke))
        function(status);
    else
        *status = kPkeEntryMissing;
}

void pkeSetCryptoki(const char* moduleName, const char* second, int* status) {
    if (auto function = Entry<SetCryptokiFunction>(kSetCryptoki))
        function(moduleName, second, status);
    else
        *status = kPkeEntryMissing;
}

void pkeLogin(int userType, int slotIndex, const char* pin, int* status) {
    if (auto function = Entry<LoginFunction>(kLogin))
        function(userType, slotIndex, pin, status);
    else
        *status = kPkeEntryMissing;
}

void pkeSetSignMech(int first, int second, int third, unsigned int* block, int* status) {
    if (auto function = Entry<SetSignMechFunction>(kSetSignMech))
        function(first, second, third, block, status);
    else
        *status = kPkeEntryMissing;
}

void pkeExGenCsr(const PkeCsrArguments& arguments, int* status) {
    auto function = Entry<ExGenCsrFunction>(kExGenCsr);
    if (!function) {
        *status = kPkeEntryMissing;
        return;
    }
    function(arguments.keyIdText, arguments.subjectFields, arguments.altNameFields, arguments.keyBits, 0, 0, 0,
             arguments.keyUsageText, arguments.extKeyUsageText, arguments.auxiliaryOutput, arguments.csrOutput,
             status);
}
