// The key containers a PFX import makes, and their deletion. The platform's
// PFX import puts each key of the file into a container of the user's key
// store and names it in the key-provider record of the certificates.
// Only the import's own containers are deleted: a container of another
// program, made before or while the import runs, stays.
//
// Wine 8 puts the key into the enhanced RSA provider's default container
// (named after the user) and names that one container in every certificate
// of the file. Where the default container already exists it takes it as it
// is and replaces its exchange key. When a certificate of the file then fails
// to decode, Wine gives up with no store, and so no certificate names the
// container it filled.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <set>
#include <string>
#include <vector>

// A key container, as a certificate's key-provider record names it.
struct KeyContainerName {
    std::wstring Container;
    std::wstring Provider;
    DWORD ProviderType = 0;
    DWORD Flags = 0;  // key-set flags only

    bool operator==(const KeyContainerName& other) const;
    // CryptAcquireContextW on the container, with its flags and `moreFlags`.
    bool Acquire(HCRYPTPROV* provider, DWORD moreFlags) const;
};

// The key-provider record of `certificate`, kept in `storage`; null when the
// certificate carries none.
const CRYPT_KEY_PROV_INFO* ReadKeyProviderInfo(PCCERT_CONTEXT certificate, std::vector<BYTE>* storage);
KeyContainerName NameOf(const CRYPT_KEY_PROV_INFO& info);

class KeyContainerSweep {
public:
    // Notes the containers that exist before the platform's PFX import.
    void Begin();
    // Deletes `name` when the import made it: it did not exist at Begin.
    // Without a listing at Begin, every container a certificate names counts
    // as the import's.
    void DeleteIfMadeByImport(const KeyContainerName& name) const;
    // The same for every container a certificate of `store` names, whether
    // or not its key was taken.
    void DeleteNamedByStore(HCERTSTORE store) const;
    // After the platform's PFX import failed without a store: deletes the
    // provider's default container, the one Wine fills, when it did not
    // exist at Begin.
    void DeleteDefaultContainerIfMadeByImport() const;

private:
    bool ExistedBefore(const std::string& container) const;

    bool listed_ = false;
    std::set<std::string> before_;
};

// The container names of the user's RSA key store; false when they cannot
// be listed.
bool ListUserKeyContainers(std::set<std::string>* names);
