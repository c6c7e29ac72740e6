#include "support/KeyContainers.h"

#include <windows.h>
#include <wincrypt.h>

std::set<std::string> KeyContainerNames() {
    std::set<std::string> names;
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        return names;
    char name[1024];
    for (DWORD flags = CRYPT_FIRST;; flags = CRYPT_NEXT) {
        DWORD size = sizeof name;
        if (!CryptGetProvParam(provider, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name), &size, flags))
            break;
        names.insert(name);
    }
    CryptReleaseContext(provider, 0);
    return names;
}

std::string MakeKeyContainer(const char* name) {
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, name, MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET))
        return std::string();
    HCRYPTKEY key = 0;
    char made[1024] = {};
    DWORD size = sizeof made;
    const bool ok = CryptGenKey(provider, AT_SIGNATURE, 1024u << 16, &key) &&
                    CryptGetProvParam(provider, PP_CONTAINER, reinterpret_cast<BYTE*>(made), &size, 0);
    if (key)
        CryptDestroyKey(key);
    CryptReleaseContext(provider, 0);
    return ok ? std::string(made) : std::string();
}

void DeleteKeyContainer(const std::string& name) {
    HCRYPTPROV unused = 0;
    CryptAcquireContextA(&unused, name.c_str(), MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
}
