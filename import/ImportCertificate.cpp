#include "import/ImportCertificate.h"

#include <memory>
#include <new>
#include <string>

#include "cryptoki/ModuleLoader.h"
#include "cryptoki/SessionTable.h"
#include "objects/DerStructure.h"

namespace {

const CK_OBJECT_CLASS kCertificateClass = CKO_CERTIFICATE;
const CK_CERTIFICATE_TYPE kX509Type = CKC_X_509;
const CK_BBOOL kTrue = CK_TRUE;
const CK_BBOOL kFalse = CK_FALSE;

CK_ATTRIBUTE Attribute(CK_ATTRIBUTE_TYPE type, const ByteVector& value) {
    return TemplateAttribute(type, value.data(), value.size());
}

// The file as text, each byte widened to the UTF-16 unit of the same value,
// decoded as Base64 between header lines. False when it is no such text.
bool DecodePem(const ByteVector& file, ByteVector* der) {
    if (file.empty() || file.size() > MAXDWORD / sizeof(wchar_t))
        return false;
    const std::wstring text(file.begin(), file.end());
    const DWORD length = static_cast<DWORD>(text.size());
    DWORD size = 0;
    if (!CryptStringToBinaryW(text.c_str(), length, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr,
                              nullptr) || size == 0)
        return false;
    der->resize(size);
    if (!CryptStringToBinaryW(text.c_str(), length, CRYPT_STRING_BASE64HEADER, der->data(), &size,
                              nullptr, nullptr))
        return false;
    der->resize(size);
    return true;
}

bool PassesPfxTest(const ByteVector& bytes) {
    CRYPT_DATA_BLOB blob = {static_cast<DWORD>(bytes.size()), const_cast<BYTE*>(bytes.data())};
    return !bytes.empty() && PFXIsPFXBlob(&blob);
}

struct CertificateContextFree {
    void operator()(PCCERT_CONTEXT certificate) const { CertFreeCertificateContext(certificate); }
};
using CertificateContext = std::unique_ptr<const CERT_CONTEXT, CertificateContextFree>;

struct HandleClose {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using FileHandle = std::unique_ptr<void, HandleClose>;

long long CreateCertificateObject(int slot, const CertificateFields& fields) {
    if (slot < 0 || slot >= kMaxSlots)
        return CryptokiFailureStatus(CKR_SLOT_ID_INVALID);
    std::vector<CK_ATTRIBUTE> attributes = BuildCertificateTemplate(fields);
    CK_OBJECT_HANDLE object = 0;
    const CK_RV rv = Cryptoki.FunctionList->C_CreateObject(
        SessionTable[slot], attributes.data(), static_cast<CK_ULONG>(attributes.size()), &object);
    return rv == CKR_OK ? static_cast<long long>(kCertificateStored) : CryptokiFailureStatus(rv);
}

// The common steps of both modes, for a parsed certificate whose DER
// candidate is already in `fields->Value`.
long long StoreCertificate(int slot, PCCERT_CONTEXT certificate, CertificateFields* fields,
                           CertificateIdentity* identity) {
    const int status = ExtractCertificateFields(certificate, fields);
    if (status != kCertificateStored)
        return status;
    if (identity) {
        identity->Id = fields->HasId ? fields->Id : ByteVector();
        identity->Label = fields->HasLabel ? fields->Label : ByteVector();
        identity->Subject = fields->Subject;
    }
    return CreateCertificateObject(slot, *fields);
}

// File mode: the file's bytes or their PEM decoding as the candidate DER.
long long ImportCertificateFile(int slot, const wchar_t* path) {
    if (!path || wcslen(path) < 3)
        return kNoCertificate;
    ByteVector file;
    switch (ReadImportFile(path, &file)) {
    case kImportFileRead:
        break;
    case kImportFileTooLarge:
        return kNotCertificate;
    default:
        return kFileNotReadable;
    }
    CertificateFields fields;
    if (!DecodePem(file, &fields.Value))
        fields.Value = file;
    // Only a sound structure reaches the platform's decoder (see DerStructure.h).
    CertificateContext certificate;
    if (HasSoundDerStructure(fields.Value.data(), fields.Value.size()))
        certificate.reset(CertCreateCertificateContext(X509_ASN_ENCODING, fields.Value.data(),
                                                       static_cast<DWORD>(fields.Value.size())));
    if (!certificate)
        return PassesPfxTest(file) ? kFileIsPfx : kNotCertificate;
    return StoreCertificate(slot, certificate.get(), &fields, nullptr);
}

}  // namespace

CK_ATTRIBUTE TemplateAttribute(CK_ATTRIBUTE_TYPE type, const void* value, size_t length) {
    return {type, const_cast<void*>(value), static_cast<CK_ULONG>(length)};
}

long long CryptokiFailureStatus(CK_RV rv) {
    return kCryptokiFailureBase + static_cast<long long>(rv);
}

bool IsCryptokiFailure(long long status, CK_RV* rv) {
    if (status <= kCryptokiFailureBase)
        return false;
    *rv = static_cast<CK_RV>(status - kCryptokiFailureBase);
    return true;
}

ImportFileRead ReadImportFile(const wchar_t* path, ByteVector* bytes) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return kImportFileUnreadable;
    const FileHandle closer(file);
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file, &size) || size.QuadPart < 0)
        return kImportFileUnreadable;
    if (size.QuadPart > kLargestImportFile)
        return kImportFileTooLarge;
    bytes->assign(static_cast<size_t>(size.QuadPart), 0);
    DWORD done = 0;
    if (!bytes->empty() &&
        (!ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &done, nullptr) || done != bytes->size()))
        return kImportFileUnreadable;
    return kImportFileRead;
}

int ExtractCertificateFields(PCCERT_CONTEXT certificate, CertificateFields* fields) {
    const CERT_INFO& info = *certificate->pCertInfo;
    // A failed hashing only leaves the ID out.
    fields->HasId = ComputeKeyIdentifier(info, &fields->Id);
    if (!EncodeSerialNumber(info, &fields->SerialNumber))
        return kNotCertificate;
    const NameResult subject = ReencodeName(info.Subject, &fields->Subject);
    if (subject == kNameNotDecoded)
        return kSubjectNotDecoded;
    fields->HasLabel = FindCommonNameLabel(info.Subject, &fields->Label);
    if (subject == kNameNotEncoded)
        return kSubjectNotEncoded;
    const NameResult issuer = ReencodeName(info.Issuer, &fields->Issuer);
    if (issuer == kNameNotDecoded)
        return kIssuerNotDecoded;
    if (issuer == kNameNotEncoded)
        return kIssuerNotEncoded;
    return kCertificateStored;
}

std::vector<CK_ATTRIBUTE> BuildCertificateTemplate(const CertificateFields& fields) {
    std::vector<CK_ATTRIBUTE> attributes = {
        TemplateAttribute(CKA_CLASS, &kCertificateClass, sizeof kCertificateClass),
        TemplateAttribute(CKA_TOKEN, &kTrue, sizeof kTrue),
        TemplateAttribute(CKA_PRIVATE, &kFalse, sizeof kFalse),
        TemplateAttribute(CKA_MODIFIABLE, &kTrue, sizeof kTrue),
        TemplateAttribute(CKA_CERTIFICATE_TYPE, &kX509Type, sizeof kX509Type),
        Attribute(CKA_VALUE, fields.Value),
    };
    if (fields.HasId)
        attributes.push_back(Attribute(CKA_ID, fields.Id));
    attributes.push_back(Attribute(CKA_SERIAL_NUMBER, fields.SerialNumber));
    if (fields.HasLabel)
        attributes.push_back(Attribute(CKA_LABEL, fields.Label));
    attributes.push_back(Attribute(CKA_SUBJECT, fields.Subject));
    attributes.push_back(Attribute(CKA_ISSUER, fields.Issuer));
    return attributes;
}

long long ImportCertificate(int slot, const wchar_t* path, PCCERT_CONTEXT certificate,
                            CertificateIdentity* identity) {
    if (identity)
        *identity = CertificateIdentity();
    try {
        if (!certificate)
            return path ? ImportCertificateFile(slot, path) : static_cast<long long>(kNoCertificate);
        CertificateFields fields;
        fields.Value.assign(certificate->pbCertEncoded, certificate->pbCertEncoded + certificate->cbCertEncoded);
        return StoreCertificate(slot, certificate, &fields, identity);
    } catch (const std::bad_alloc&) {
        if (identity)
            *identity = CertificateIdentity();
        return kImportOutOfMemory;
    }
}
