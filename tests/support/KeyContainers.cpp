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
