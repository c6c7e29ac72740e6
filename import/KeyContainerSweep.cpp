#include "import/KeyContainerSweep.h"

#include <cstring>

namespace {

// Wider than any container name the providers make (GUIDs, user names).
constexpr DWORD kContainerNameCapacity = 1024;

const wchar_t* OrNull(const std::wstring& text) {
    return text.empty() ? nullptr : text.c_str();
}

// The provider lists container names as 8-bit text in the system's code page.
std::string NarrowContainerName(const std::wstring& name) {
    const int size = WideCharToMultiByte(CP_ACP, 0, name.c_str(), static_cast<int>(name.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string narrow(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_ACP, 0, name.c_str(), static_cast<int>(name.size()), &narrow[0], size, nullptr,
                            nullptr);
    return narrow;
}

// The name of the enhanced RSA provider's default container; empty when
// there is none.
std::string DefaultContainerName() {
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL, 0))
        return std::string();
    char name[kContainerNameCapacity] = {};
    DWORD size = sizeof name;
    const bool named = CryptGetProvParam(provider, PP_CONTAINER, reinterpret_cast<BYTE*>(name), &size, 0) != FALSE;
    CryptReleaseContext(provider, 0);
    return named ? std::string(name, strnlen(name, size)) : std::string();
}

}  // namespace

bool KeyContainerName::operator==(const KeyContainerName& other) const {
    return Container == other.Container && Provider == other.Provider && ProviderType == other.ProviderType &&
           Flags == other.Flags;
}

bool KeyContainerName::Acquire(HCRYPTPROV* provider, DWORD moreFlags) const {
    return CryptAcquireContextW(provider, OrNull(Container), OrNull(Provider), ProviderType, Flags | moreFlags) !=
           FALSE;
}

const CRYPT_KEY_PROV_INFO* ReadKeyProviderInfo(PCCERT_CONTEXT certificate, std::vector<BYTE>* storage) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) ||
        size < sizeof(CRYPT_KEY_PROV_INFO))
        return nullptr;
    storage->assign(size, 0);
    if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, storage->data(), &size))
        return nullptr;
    return reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(storage->data());
}

KeyContainerName NameOf(const CRYPT_KEY_PROV_INFO& info) {
    KeyContainerName name;
    name.Container = info.pwszContainerName ? info.pwszContainerName : L"";
    name.Provider = info.pwszProvName ? info.pwszProvName : L"";
    name.ProviderType = info.dwProvType;
    // The record's flags may also hold CERT_SET_KEY_CONTEXT_PROP_ID, which
    // CryptAcquireContext refuses; only the key-set flags go on.
    name.Flags = info.dwFlags & (CRYPT_MACHINE_KEYSET | CRYPT_SILENT);
    return name;
}

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

bool KeyContainerSweep::ExistedBefore(const std::string& container) const {
    return listed_ && before_.count(container) != 0;
}

void KeyContainerSweep::DeleteIfMadeByImport(const KeyContainerName& name) const {
    if (ExistedBefore(NarrowContainerName(name.Container)))
        return;
    HCRYPTPROV unused = 0;
    name.Acquire(&unused, CRYPT_DELETEKEYSET);
}

void KeyContainerSweep::DeleteNamedByStore(HCERTSTORE store) const {
    PCCERT_CONTEXT certificate = nullptr;
    while ((certificate = CertEnumCertificatesInStore(store, certificate)) != nullptr) {
        std::vector<BYTE> storage;
        if (const CRYPT_KEY_PROV_INFO* info = ReadKeyProviderInfo(certificate, &storage))
            DeleteIfMadeByImport(NameOf(*info));
    }
}

void KeyContainerSweep::DeleteDefaultContainerIfMadeByImport() const {
    // Without a listing there is no telling whether the import made it.
    if (!listed_)
        return;
    const std::string name = DefaultContainerName();
    if (name.empty() || ExistedBefore(name))
        return;
    HCRYPTPROV unused = 0;
    CryptAcquireContextA(&unused, name.c_str(), MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
}
