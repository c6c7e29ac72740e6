#include "import/KeyContainerSweep.h"

#include <windows.h>
#include <wincrypt.h>

namespace {

// Wider than any container name the providers make (GUIDs, user names).
constexpr DWORD kContainerNameCapacity = 1024;

}  // namespace

bool ListUserKeyContainers(std::set<std::string>* names) {
    names->clear();
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        return false;
    char name[kContainerNameCapacity];
    bool listed = true;
    for (DWORD flags = CRYPT_FIRST;; flags = CRYPT_NEXT) {
        DWORD size = sizeof name;
        if (!CryptGetProvParam(provider, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name), &size, flags)) {
            listed = GetLastError() == ERROR_NO_MORE_ITEMS;
            break;
        }
        names->insert(std::string(name, strnlen(name, size)));
    }
    CryptReleaseContext(provider, 0);
    return listed;
}

void KeyContainerSweep::Begin() {
    listed_ = ListUserKeyContainers(&before_);
}

void KeyContainerSweep::DeleteAppeared() const {
    std::set<std::string> now;
    if (!listed_ || !ListUserKeyContainers(&now))
        return;
    for (const std::string& name : now) {
        if (before_.count(name))
            continue;
        HCRYPTPROV unused = 0;
        CryptAcquireContextA(&unused, name.c_str(), MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
    }
}
