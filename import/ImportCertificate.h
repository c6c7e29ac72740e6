// Storing one X.509 certificate on a token as a public certificate object,
// from a DER or PEM file or from a certificate taken out of a PFX file.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <vector>

#include "cryptoki/Cryptoki.h"
#include "import/CertificateFields.h"

// Results of ImportCertificate. A Cryptoki failure gives
// kCryptokiFailureBase + its return code.
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
constexpr int kCryptokiFailureBase = 10;

// kCryptokiFailureBase + rv. Vendor codes (0x80000000 and up) wrap to
// negative statuses and come back whole from IsCryptokiFailure.
int CryptokiFailureStatus(CK_RV rv);
// True for a status made by CryptokiFailureStatus, with its return code.
bool IsCryptokiFailure(int status, CK_RV* rv);

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

// File mode: `path` names the file and `certificate` is null.
// Certificate mode: `path` is null and `certificate` is the certificate;
// `identity` (may be null) receives its ID, label and subject.
// Uses the session of `slot` from SessionTable.
int ImportCertificate(int slot, const wchar_t* path, PCCERT_CONTEXT certificate,
                      CertificateIdentity* identity);

// Reads a whole file as bytes; false when it cannot be opened or read.
bool ReadImportFile(const wchar_t* path, ByteVector* bytes);
