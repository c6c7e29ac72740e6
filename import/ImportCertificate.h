// Storing one X.509 certificate on a token as a public certificate object,
// from a DER or PEM file or from a certificate taken out of a PFX file.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <vector>

#include "cryptoki/Cryptoki.h"
#include "import/CertificateFields.h"

// Results of ImportCertificate. A Cryptoki failure gives
// kCryptokiFailureBase + its return code, computed in 64 bits: vendor codes
// up to 0xFFFFFFFF would otherwise wrap round to 0..9 and read as success or
// as one of the small codes below.
enum ImportCertificateResult {
    kCertificateStored = 0,
    kNoCertificate = 1,       // file mode: path under 3 characters; certificate mode: none given
    kFileNotReadable = 2,
    kFileIsPfx = 4,           // no certificate, but a PFX file
    kNotCertificate = 5,      // neither certificate nor PFX; or the serial number cannot be encoded
    kSubjectNotDecoded = 6,
    kSubjectNotEncoded = 8,
    kIssuerNotDecoded = 9,
    kIssuerNotEncoded = 10,
};
constexpr long long kCryptokiFailureBase = 10;

// Both imports: memory for the file, a value or a template could not be had.
// It lies outside the small codes of either import and outside 10 + rv, so
// that the PFX import passes a certificate's status on unchanged.
constexpr long long kImportOutOfMemory = -1;

// kCryptokiFailureBase + rv, every return code to 0xFFFFFFFF kept apart.
long long CryptokiFailureStatus(CK_RV rv);
// True for a status made by CryptokiFailureStatus, with its return code.
bool IsCryptokiFailure(long long status, CK_RV* rv);

// The largest file either import reads. No certificate or PFX file comes
// near it; a bigger one is refused before any of it is read.
constexpr long long kLargestImportFile = 16 << 20;

// What the object was given, handed back in certificate mode so that the
// key objects made next carry the same values. Empty vectors: no ID (the
// hashing failed), no label (the subject has no common name).
struct CertificateIdentity {
    ByteVector Id;
    ByteVector Label;
    ByteVector Subject;
};

// The values of one certificate object. `Value` is the DER candidate as it
// was read (whole DER file, decoded PEM, or the certificate's encoding).
struct CertificateFields {
    ByteVector Value;
    bool HasId = false;
    ByteVector Id;
    ByteVector SerialNumber;
    bool HasLabel = false;
    ByteVector Label;
    ByteVector Subject;
    ByteVector Issuer;
};

// A template entry that points at `value`.
CK_ATTRIBUTE TemplateAttribute(CK_ATTRIBUTE_TYPE type, const void* value, size_t length);

// Takes the object's values from `certificate` (status as ImportCertificate).
int ExtractCertificateFields(PCCERT_CONTEXT certificate, CertificateFields* fields);

// The certificate object template, in the order the token receives it:
// class, token, private, modifiable, certificate type, value, [ID], serial
// number, [label], subject, issuer. It points into `fields`.
std::vector<CK_ATTRIBUTE> BuildCertificateTemplate(const CertificateFields& fields);

// File mode: `path` names the file and `certificate` is null. A file over
// kLargestImportFile is no certificate.
// Certificate mode: `path` is null and `certificate` is the certificate;
// `identity` (may be null) receives its ID, label and subject.
// Uses the session of `slot` from SessionTable. An allocation that fails
// gives kImportOutOfMemory.
long long ImportCertificate(int slot, const wchar_t* path, PCCERT_CONTEXT certificate,
                            CertificateIdentity* identity);

enum ImportFileRead { kImportFileRead, kImportFileUnreadable, kImportFileTooLarge };

// Reads a whole file as bytes. Its size comes from the open handle, so a
// file over kLargestImportFile is refused before anything is allocated or
// read. Throws std::bad_alloc when the buffer cannot be had.
ImportFileRead ReadImportFile(const wchar_t* path, ByteVector* bytes);
