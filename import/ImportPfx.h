// Importing a PFX (PKCS #12) file: every certificate that has a private key
// is stored with its RSA key pair, the other certificates on request.
#pragma once

#include <windows.h>
#include <wincrypt.h>

// Results of ImportPfx. A failing certificate returns the status of
// ImportCertificate, a failing key object kCryptokiFailureBase + rv, a
// failed allocation kImportOutOfMemory. A file over kLargestImportFile is
// kPfxInvalid.
enum ImportPfxResult {
    kPfxImported = 0,
    kPfxPathTooShort = 1,
    kPfxFileNotReadable = 2,
    kPfxInvalid = 3,             // the file fails the PFX test
    kPfxNotOpened = 4,           // the platform cannot open it with this password
    kPfxKeyNotExported = 5,      // the private-key blob's size cannot be learnt
    kPfxKeyNotFound = 6,         // the container holds no key of the certificate's key specification
    kPfxContainerNotOpened = 7,  // the certificate's key container cannot be opened
};

// Imports PfxImportState.PfxFilePath onto the token of PfxImportState.DialogSlot,
// with the options PfxImportChain and PfxKeyExtractable. The password goes
// to the platform as given, every character of it: cut at the first one
// beyond Latin-1, a Greek or Cyrillic password would never open its file.
// Runs on the calling thread. The key containers the platform makes for the
// file are deleted again; those of other programs stay (KeyContainerSweep.h).
long long ImportPfx(const wchar_t* password);

