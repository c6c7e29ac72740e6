#include "import/ImportPfx.h"

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "import/ImportCertificate.h"
#include "import/KeyContainerSweep.h"
#include "import/PfxImportState.h"
#include "import/StoreRsaKeyPair.h"

namespace {

// A key container, as the key-provider information names it.
struct ContainerName {
    std::wstring Container;
    std::wstring Provider;
    DWORD ProviderType = 0;
    DWORD Flags = 0;

    bool operator==(const ContainerName& other) const {
        return Container == other.Container && Provider == other.Provider &&
               ProviderType == other.ProviderType && Flags == other.Flags;
    }
};

// The state of one import.
struct PfxImportRun {
    int Slot = -1;
    bool ImportChain = false;
    bool KeyExtractable = false;
    std::vector<ContainerName> DeletedContainers;

    bool WasDeleted(const ContainerName& name) const {
        for (const ContainerName& deleted : DeletedContainers)
            if (deleted == name)
                return true;
        return false;
    }
};

// The certificate's key container, opened, with its key.
struct CertificateKey {
    HCRYPTPROV Provider = 0;
    HCRYPTKEY Key = 0;
    DWORD KeySpec = 0;
};

// The key-provider information of `certificate`, in `storage`; null when
// the certificate carries none.
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

ContainerName NameOf(const CRYPT_KEY_PROV_INFO& info) {
    ContainerName name;
    name.Container = info.pwszContainerName ? info.pwszContainerName : L"";
    name.Provider = info.pwszProvName ? info.pwszProvName : L"";
    name.ProviderType = info.dwProvType;
    // The record's flags may also hold CERT_SET_KEY_CONTEXT_PROP_ID, which
    // CryptAcquireContext refuses; only the key-set flags go on.
    name.Flags = info.dwFlags & (CRYPT_MACHINE_KEYSET | CRYPT_SILENT);
    return name;
}

const wchar_t* OrNull(const std::wstring& text) {
    return text.empty() ? nullptr : text.c_str();
}

void DeleteContainer(const ContainerName& name) {
    HCRYPTPROV unused = 0;
    CryptAcquireContextW(&unused, OrNull(name.Container), OrNull(name.Provider), name.ProviderType,
                         name.Flags | CRYPT_DELETEKEYSET);
}

// Opens the container and gets its key. Wine reports key specification 3
// for an imported PFX key, which no provider knows: a specification that
// fails and is neither of the two standard ones is followed by those two.
int OpenCertificateKey(const ContainerName& name, DWORD keySpec, CertificateKey* key) {
    if (!CryptAcquireContextW(&key->Provider, OrNull(name.Container), OrNull(name.Provider),
                              name.ProviderType, name.Flags)) {
        key->Provider = 0;
        return kPfxContainerNotOpened;
    }
    std::vector<DWORD> keyKinds = {keySpec};
    if (keySpec != AT_KEYEXCHANGE && keySpec != AT_SIGNATURE)
        keyKinds.insert(keyKinds.end(), {static_cast<DWORD>(AT_KEYEXCHANGE), static_cast<DWORD>(AT_SIGNATURE)});
    for (DWORD kind : keyKinds)
        if (CryptGetUserKey(key->Provider, kind, &key->Key)) {
            key->KeySpec = kind;
            return kPfxImported;
        }
    key->Key = 0;
    return kPfxKeyNotFound;
}

void CloseCertificateKey(CertificateKey* key) {
    if (key->Key)
        CryptDestroyKey(key->Key);
    if (key->Provider)
        CryptReleaseContext(key->Provider, 0);
    *key = CertificateKey();
}

// Whether the key is the certificate's own. Wine gives every certificate of
// a PFX the key-provider record of the one key, so a CA certificate would
// seem to carry it. When the comparison cannot be made the key counts as
// the certificate's, as the key-provider record says.
bool KeyBelongsToCertificate(const CertificateKey& key, PCCERT_CONTEXT certificate) {
    DWORD size = 0;
    if (!CryptExportPublicKeyInfo(key.Provider, key.KeySpec, X509_ASN_ENCODING, nullptr, &size))
        return true;
    std::vector<BYTE> storage(size);
    auto* info = reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(storage.data());
    if (!CryptExportPublicKeyInfo(key.Provider, key.KeySpec, X509_ASN_ENCODING, info, &size))
        return true;
    return CertComparePublicKeyInfo(X509_ASN_ENCODING, &certificate->pCertInfo->SubjectPublicKeyInfo, info) !=
           FALSE;
}

// Exports the private key and stores it as a key pair. A key that cannot
// be exported or is not RSA leaves the certificate without key objects.
int StoreCertificateKey(const PfxImportRun& run, const CertificateKey& key, const CertificateIdentity& identity) {
    DWORD size = 0;
    if (!CryptExportKey(key.Key, 0, PRIVATEKEYBLOB, 0, nullptr, &size))
        return kPfxKeyNotExported;
    std::vector<BYTE> blob(size, 0);
    int status = kPfxImported;
    RsaKeyBlobLayout layout;
    if (CryptExportKey(key.Key, 0, PRIVATEKEYBLOB, 0, blob.data(), &size) &&
        ReadRsaKeyBlobLayout(blob.data(), size, &layout))
        status = StoreRsaKeyPair(run.Slot, blob.data(), size, run.KeyExtractable, identity);
    SecureZeroMemory(blob.data(), blob.size());
    return status;
}

// A certificate without a key of its own: stored only with the chain option.
int HandleChainCertificate(const PfxImportRun& run, PCCERT_CONTEXT certificate) {
    if (!run.ImportChain)
        return kPfxImported;
    return ImportCertificate(run.Slot, nullptr, certificate, nullptr);
}

// A certificate whose key-provider record names a key container.
int HandleKeyCertificate(PfxImportRun* run, PCCERT_CONTEXT certificate, const CRYPT_KEY_PROV_INFO& info) {
    const ContainerName name = NameOf(info);
    // A container already used and deleted held an earlier certificate's key.
    if (run->WasDeleted(name))
        return HandleChainCertificate(*run, certificate);
    CertificateKey key;
    const int keyStatus = OpenCertificateKey(name, info.dwKeySpec, &key);
    if (keyStatus == kPfxImported && !KeyBelongsToCertificate(key, certificate)) {
        CloseCertificateKey(&key);
        return HandleChainCertificate(*run, certificate);
    }
    const bool containerOpened = key.Provider != 0;
    CertificateIdentity identity;
    int status = ImportCertificate(run->Slot, nullptr, certificate, &identity);
    if (status == kCertificateStored)
        status = keyStatus == kPfxImported ? StoreCertificateKey(*run, key, identity) : keyStatus;
    CloseCertificateKey(&key);
    if (containerOpened) {
        DeleteContainer(name);
        run->DeletedContainers.push_back(name);
    }
    return status;
}

int HandleCertificate(PfxImportRun* run, PCCERT_CONTEXT certificate) {
    std::vector<BYTE> storage;
    const CRYPT_KEY_PROV_INFO* info = ReadKeyProviderInfo(certificate, &storage);
    if (info)
        return HandleKeyCertificate(run, certificate, *info);
    return HandleChainCertificate(*run, certificate);
}

int ImportCertificatesOfStore(HCERTSTORE store, PfxImportRun* run) {
    int status = kPfxImported;
    PCCERT_CONTEXT certificate = nullptr;
    while (status == kPfxImported && (certificate = CertEnumCertificatesInStore(store, certificate)) != nullptr)
        status = HandleCertificate(run, certificate);
    if (certificate)
        CertFreeCertificateContext(certificate);
    return status;
}

int ImportOpenedStore(HCERTSTORE store) {
    PfxImportRun run;
    run.Slot = PfxImportState.DialogSlot;
    run.ImportChain = PfxImportState.PfxImportChain;
    run.KeyExtractable = PfxImportState.PfxKeyExtractable;
    const int status = ImportCertificatesOfStore(store, &run);
    // The platform made a key container for every key of the file; those of
    // certificates not handled (an import that stopped early, a key that
    // belonged to no certificate) go too.
    DeleteKeyContainersOfStore(store);
    return status;
}

}  // namespace

void DeleteKeyContainersOfStore(HCERTSTORE store) {
    PCCERT_CONTEXT certificate = nullptr;
    while ((certificate = CertEnumCertificatesInStore(store, certificate)) != nullptr) {
        std::vector<BYTE> storage;
        const CRYPT_KEY_PROV_INFO* info = ReadKeyProviderInfo(certificate, &storage);
        if (!info)
            continue;
        DeleteContainer(NameOf(*info));
    }
}

int ImportPfx(const wchar_t* password) {
    const std::wstring path(PfxImportState.PfxFilePath, wcsnlen(PfxImportState.PfxFilePath, kPfxPathCapacity));
    if (path.size() < 4)
        return kPfxPathTooShort;
    ByteVector file;
    if (!ReadImportFile(path.c_str(), &file))
        return kPfxFileNotReadable;
    CRYPT_DATA_BLOB blob = {static_cast<DWORD>(file.size()), file.data()};
    if (file.empty() || !PFXIsPFXBlob(&blob))
        return kPfxInvalid;
    KeyContainerSweep containers;
    containers.Begin();
    int status = kPfxNotOpened;
    HCERTSTORE store = PFXImportCertStore(&blob, password ? password : L"", CRYPT_EXPORTABLE);
    if (store) {
        status = ImportOpenedStore(store);
        CertCloseStore(store, 0);
    }
    // Whatever the platform left without naming it in a certificate.
    containers.DeleteAppeared();
    return status;
}
