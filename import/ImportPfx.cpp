#include "import/ImportPfx.h"

#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "import/ImportCertificate.h"
#include "import/KeyContainerSweep.h"
#include "import/PfxImportState.h"
#include "import/StoreRsaKeyPair.h"

namespace {

// The state of one import.
struct PfxImportRun {
    int Slot = -1;
    bool ImportChain = false;
    bool KeyExtractable = false;
    const KeyContainerSweep* Containers = nullptr;
    std::vector<KeyContainerName> UsedContainers;  // their key was taken

    bool WasUsed(const KeyContainerName& name) const {
        for (const KeyContainerName& used : UsedContainers)
            if (used == name)
                return true;
        return false;
    }
};

struct StoreClose {
    void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
using CertificateStore = std::unique_ptr<void, StoreClose>;

// The certificate's key container, opened, with its key; both are released
// on every way out, and before the container is deleted: Wine's provider
// writes a container back when a handle still open on it is released.
struct CertificateKey {
    HCRYPTPROV Provider = 0;
    HCRYPTKEY Key = 0;
    DWORD KeySpec = 0;

    CertificateKey() = default;
    CertificateKey(const CertificateKey&) = delete;
    CertificateKey& operator=(const CertificateKey&) = delete;
    ~CertificateKey() { Close(); }

    void Close() {
        if (Key)
            CryptDestroyKey(Key);
        if (Provider)
            CryptReleaseContext(Provider, 0);
        Key = 0;
        Provider = 0;
    }
};

// Opens the container and gets its key. Wine reports key specification 3
// for an imported PFX key, which no provider knows: a specification that
// fails and is neither of the two standard ones is followed by those two.
int OpenCertificateKey(const KeyContainerName& name, DWORD keySpec, CertificateKey* key) {
    if (!name.Acquire(&key->Provider, 0)) {
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
long long StoreCertificateKey(const PfxImportRun& run, const CertificateKey& key,
                              const CertificateIdentity& identity) {
    DWORD size = 0;
    if (!CryptExportKey(key.Key, 0, PRIVATEKEYBLOB, 0, nullptr, &size))
        return kPfxKeyNotExported;
    // The only allocation while the blob exists is the blob's own, before
    // the export: StoreRsaKeyPair gives its own failures as statuses, so the
    // wipe below always runs.
    std::vector<BYTE> blob(size, 0);
    long long status = kPfxImported;
    RsaKeyBlobLayout layout;
    if (CryptExportKey(key.Key, 0, PRIVATEKEYBLOB, 0, blob.data(), &size) &&
        ReadRsaKeyBlobLayout(blob.data(), size, &layout))
        status = StoreRsaKeyPair(run.Slot, blob.data(), size, run.KeyExtractable, identity);
    SecureZeroMemory(blob.data(), blob.size());
    return status;
}

// A certificate without a key of its own: stored only with the chain option.
long long HandleChainCertificate(const PfxImportRun& run, PCCERT_CONTEXT certificate) {
    if (!run.ImportChain)
        return kPfxImported;
    return ImportCertificate(run.Slot, nullptr, certificate, nullptr);
}

// A certificate whose key-provider record names a key container.
long long HandleKeyCertificate(PfxImportRun* run, PCCERT_CONTEXT certificate, const CRYPT_KEY_PROV_INFO& info) {
    const KeyContainerName name = NameOf(info);
    // A container whose key was taken held an earlier certificate's key.
    if (run->WasUsed(name))
        return HandleChainCertificate(*run, certificate);
    CertificateKey key;
    const int keyStatus = OpenCertificateKey(name, info.dwKeySpec, &key);
    if (keyStatus == kPfxImported && !KeyBelongsToCertificate(key, certificate)) {
        key.Close();
        return HandleChainCertificate(*run, certificate);
    }
    const bool containerOpened = key.Provider != 0;
    CertificateIdentity identity;
    long long status = ImportCertificate(run->Slot, nullptr, certificate, &identity);
    if (status == kCertificateStored)
        status = keyStatus == kPfxImported ? StoreCertificateKey(*run, key, identity) : keyStatus;
    key.Close();
    if (containerOpened) {
        run->Containers->DeleteIfMadeByImport(name);
        run->UsedContainers.push_back(name);
    }
    return status;
}

long long HandleCertificate(PfxImportRun* run, PCCERT_CONTEXT certificate) {
    std::vector<BYTE> storage;
    const CRYPT_KEY_PROV_INFO* info = ReadKeyProviderInfo(certificate, &storage);
    if (info)
        return HandleKeyCertificate(run, certificate, *info);
    return HandleChainCertificate(*run, certificate);
}

// An allocation that fails ends the import with kImportOutOfMemory; the
// certificate's key is released on the way out and the clean-up still runs.
long long ImportCertificatesOfStore(HCERTSTORE store, PfxImportRun* run) {
    long long status = kPfxImported;
    PCCERT_CONTEXT certificate = nullptr;
    while (status == kPfxImported && (certificate = CertEnumCertificatesInStore(store, certificate)) != nullptr) {
        try {
            status = HandleCertificate(run, certificate);
        } catch (const std::bad_alloc&) {
            status = kImportOutOfMemory;
        }
    }
    if (certificate)
        CertFreeCertificateContext(certificate);
    return status;
}

long long ImportOpenedStore(HCERTSTORE store, const KeyContainerSweep& containers) {
    PfxImportRun run;
    run.Slot = PfxImportState.DialogSlot;
    run.ImportChain = PfxImportState.PfxImportChain;
    run.KeyExtractable = PfxImportState.PfxKeyExtractable;
    run.Containers = &containers;
    const long long status = ImportCertificatesOfStore(store, &run);
    // The containers of certificates not handled (an import that stopped
    // early, a key that belonged to no certificate) go too.
    containers.DeleteNamedByStore(store);
    return status;
}

long long ImportPfxFile(const std::wstring& path, const wchar_t* password) {
    ByteVector file;
    switch (ReadImportFile(path.c_str(), &file)) {
    case kImportFileRead:
        break;
    case kImportFileTooLarge:
        return kPfxInvalid;
    default:
        return kPfxFileNotReadable;
    }
    CRYPT_DATA_BLOB blob = {static_cast<DWORD>(file.size()), file.data()};
    if (file.empty() || !PFXIsPFXBlob(&blob))
        return kPfxInvalid;
    KeyContainerSweep containers;
    containers.Begin();
    const CertificateStore store(PFXImportCertStore(&blob, password ? password : L"", CRYPT_EXPORTABLE));
    if (!store) {
        // Wine fills its container before it decodes the certificates, and
        // a certificate that fails then leaves it named by none.
        containers.DeleteDefaultContainerIfMadeByImport();
        return kPfxNotOpened;
    }
    return ImportOpenedStore(store.get(), containers);
}

}  // namespace

long long ImportPfx(const wchar_t* password) {
    try {
        const std::wstring path(PfxImportState.PfxFilePath,
                                wcsnlen(PfxImportState.PfxFilePath, kPfxPathCapacity));
        if (path.size() < 4)
            return kPfxPathTooShort;
        return ImportPfxFile(path, password);
    } catch (const std::bad_alloc&) {
        return kImportOutOfMemory;
    }
}
