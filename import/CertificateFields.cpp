#include "import/CertificateFields.h"

#include <cstring>
#include <memory>

#include "objects/DerStructure.h"
#include "objects/CertificateName.h"

namespace {

// What the platform's decoder or encoder allocated, freed also when copying
// it into a vector runs out of memory.
struct LocalFreeDeleter {
    void operator()(void* memory) const { LocalFree(memory); }
};
template <typename T>
using LocalMemory = std::unique_ptr<T, LocalFreeDeleter>;

bool EncodeObject(LPCSTR structType, const void* value, ByteVector* der) {
    BYTE* encoded = nullptr;
    DWORD size = 0;
    if (!CryptEncodeObjectEx(kCertificateEncoding, structType, value, CRYPT_ENCODE_ALLOC_FLAG, nullptr, &encoded,
                             &size))
        return false;
    const LocalMemory<BYTE> owned(encoded);
    der->assign(encoded, encoded + size);
    return true;
}

bool IsCommonName(const char* oid) {
    return oid && std::strcmp(oid, szOID_COMMON_NAME) == 0;
}

// The types whose decoded value is wide text rather than the encoded bytes
// (a UTF8String is read from the encoding instead).
bool IsWideStringType(DWORD valueType) {
    return valueType == CERT_RDN_BMP_STRING || valueType == CERT_RDN_UNIVERSAL_STRING;
}

// Position of the first common name: RDN and attribute index.
bool FindFirstCommonName(const CERT_NAME_INFO& name, DWORD* rdnIndex, DWORD* attributeIndex) {
    for (DWORD r = 0; r < name.cRDN; ++r)
        for (DWORD a = 0; a < name.rgRDN[r].cRDNAttr; ++a)
            if (IsCommonName(name.rgRDN[r].rgRDNAttr[a].pszObjId)) {
                *rdnIndex = r;
                *attributeIndex = a;
                return true;
            }
    return false;
}

// The header of the value of the first common name of a DER Name, in the
// order the platform's decoder walks it (RDNs, then their attributes).
bool EncodedFirstCommonName(const CERT_NAME_BLOB& name, DerHeader* value) {
    static const BYTE kCommonNameOid[] = {0x55, 0x04, 0x03};
    const BYTE* der = name.pbData;
    DerHeader sequence;
    if (!ReadDerHeader(der, 0, name.cbData, &sequence) || sequence.tag != 0x30)
        return false;
    const size_t rdnsEnd = sequence.contentStart + sequence.contentLength;
    for (size_t rdnAt = sequence.contentStart; rdnAt < rdnsEnd;) {
        DerHeader rdn;
        if (!ReadDerHeader(der, rdnAt, rdnsEnd, &rdn) || rdn.tag != 0x31)
            return false;
        rdnAt = rdn.contentStart + rdn.contentLength;
        for (size_t attributeAt = rdn.contentStart; attributeAt < rdnAt;) {
            DerHeader attribute, type;
            if (!ReadDerHeader(der, attributeAt, rdnAt, &attribute) || attribute.tag != 0x30)
                return false;
            attributeAt = attribute.contentStart + attribute.contentLength;
            if (!ReadDerHeader(der, attribute.contentStart, attributeAt, &type) || type.tag != 0x06)
                return false;
            if (type.contentLength == sizeof kCommonNameOid &&
                std::memcmp(der + type.contentStart, kCommonNameOid, sizeof kCommonNameOid) == 0)
                return ReadDerHeader(der, type.contentStart + type.contentLength, attributeAt, value);
        }
    }
    return false;
}

// A UTF8String common name is stored as its bytes, exactly as encoded: the
// platform's decoded text would lose what follows a zero character and
// replace bytes that are no UTF-8.
bool Utf8CommonName(const CERT_NAME_BLOB& name, ByteVector* label) {
    DerHeader value;
    if (!EncodedFirstCommonName(name, &value) || value.tag != 0x0C)
        return false;
    const BYTE* content = name.pbData + value.contentStart;
    label->assign(content, content + value.contentLength);
    return true;
}

bool WideToUtf8(const wchar_t* text, size_t length, ByteVector* utf8) {
    utf8->clear();
    if (length == 0)
        return true;
    const int units = static_cast<int>(length);
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return false;
    utf8->resize(static_cast<size_t>(size));
    return WideCharToMultiByte(CP_UTF8, 0, text, units, reinterpret_cast<char*>(utf8->data()), size,
                               nullptr, nullptr) == size;
}

// A wide common name as UTF-8: the same name decoded as a Unicode Name
// gives its text as UTF-16 whatever the string type.
bool WideCommonName(const CERT_NAME_BLOB& name, DWORD rdnIndex, DWORD attributeIndex, ByteVector* label) {
    const LocalMemory<CERT_NAME_INFO> unicode(
        DecodeCertificateObject<CERT_NAME_INFO>(X509_UNICODE_NAME, name.pbData, name.cbData));
    if (!unicode || rdnIndex >= unicode->cRDN || attributeIndex >= unicode->rgRDN[rdnIndex].cRDNAttr)
        return false;
    const CERT_RDN_VALUE_BLOB& value = unicode->rgRDN[rdnIndex].rgRDNAttr[attributeIndex].Value;
    // Wine counts the terminating zero in the value's size; Windows does not.
    const auto* text = reinterpret_cast<const wchar_t*>(value.pbData);
    return WideToUtf8(text, wcsnlen(text, value.cbData / sizeof(wchar_t)), label);
}

}  // namespace

bool ComputeKeyIdentifier(const CERT_INFO& info, ByteVector* id) {
    const CRYPT_BIT_BLOB& key = info.SubjectPublicKeyInfo.PublicKey;
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        return false;
    bool hashed = false;
    HCRYPTHASH hash = 0;
    if (CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash)) {
        BYTE digest[20] = {};
        DWORD digestSize = sizeof digest;
        if (CryptHashData(hash, key.pbData, key.cbData, 0) &&
            CryptGetHashParam(hash, HP_HASHVAL, digest, &digestSize, 0) && digestSize == sizeof digest) {
            id->assign(digest, digest + digestSize);
            hashed = true;
        }
        CryptDestroyHash(hash);
    }
    CryptReleaseContext(provider, 0);
    return hashed;
}

bool EncodeSerialNumber(const CERT_INFO& info, ByteVector* serial) {
    // The decoded serial number keeps the content octets, little-endian;
    // encoding them as a multi-byte INTEGER gives the DER of the certificate.
    return EncodeObject(X509_MULTI_BYTE_INTEGER, &info.SerialNumber, serial);
}

NameResult ReencodeName(const CERT_NAME_BLOB& name, ByteVector* der) {
    const LocalMemory<CERT_NAME_INFO> decoded(
        DecodeCertificateObject<CERT_NAME_INFO>(X509_NAME, name.pbData, name.cbData));
    if (!decoded)
        return kNameNotDecoded;
    return EncodeObject(X509_NAME, decoded.get(), der) ? kNameEncoded : kNameNotEncoded;
}

bool FindCommonNameLabel(const CERT_NAME_BLOB& name, ByteVector* label) {
    label->clear();
    const LocalMemory<CERT_NAME_INFO> decoded(
        DecodeCertificateObject<CERT_NAME_INFO>(X509_NAME, name.pbData, name.cbData));
    DWORD rdnIndex = 0, attributeIndex = 0;
    if (!decoded || !FindFirstCommonName(*decoded, &rdnIndex, &attributeIndex))
        return false;
    const CERT_RDN_ATTR& attribute = decoded->rgRDN[rdnIndex].rgRDNAttr[attributeIndex];
    if (attribute.dwValueType == CERT_RDN_UTF8_STRING)
        return Utf8CommonName(name, label);
    if (IsWideStringType(attribute.dwValueType))
        return WideCommonName(name, rdnIndex, attributeIndex, label);
    label->assign(attribute.Value.pbData, attribute.Value.pbData + attribute.Value.cbData);
    return true;
}
