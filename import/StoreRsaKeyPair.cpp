#include "import/StoreRsaKeyPair.h"

#include <algorithm>
#include <iterator>
#include <new>

#include "cryptoki/ModuleLoader.h"
#include "cryptoki/SessionTable.h"

namespace {

constexpr size_t kHeaderSize = sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);  // 20 bytes
constexpr DWORD kRsaPrivateMagic = 0x32415352;                           // "RSA2"

const CK_OBJECT_CLASS kPublicKeyClass = CKO_PUBLIC_KEY;
const CK_OBJECT_CLASS kPrivateKeyClass = CKO_PRIVATE_KEY;
const CK_KEY_TYPE kRsaKeyType = CKK_RSA;
const CK_BBOOL kTrue = CK_TRUE;
const CK_BBOOL kFalse = CK_FALSE;

CK_ATTRIBUTE Flag(CK_ATTRIBUTE_TYPE type, bool value) {
    return TemplateAttribute(type, value ? &kTrue : &kFalse, sizeof(CK_BBOOL));
}

bool IsRsaAlgorithm(ALG_ID algorithm) {
    return algorithm == CALG_RSA_KEYX || algorithm == CALG_RSA_SIGN;
}

// The ID, label and subject the certificate gave, each only when not empty.
void AppendIdentity(const CertificateIdentity& identity, std::vector<CK_ATTRIBUTE>* attributes) {
    if (!identity.Id.empty())
        attributes->push_back(TemplateAttribute(CKA_ID, identity.Id.data(), identity.Id.size()));
    if (!identity.Label.empty())
        attributes->push_back(TemplateAttribute(CKA_LABEL, identity.Label.data(), identity.Label.size()));
    if (!identity.Subject.empty())
        attributes->push_back(TemplateAttribute(CKA_SUBJECT, identity.Subject.data(), identity.Subject.size()));
}

// What both key objects begin with: class, on the token, private or not,
// modifiable, the certificate's ID, label and subject, RSA key type.
std::vector<CK_ATTRIBUTE> KeyTemplateStart(const CK_OBJECT_CLASS* keyClass, bool isPrivate,
                                           const CertificateIdentity& identity) {
    std::vector<CK_ATTRIBUTE> attributes = {
        TemplateAttribute(CKA_CLASS, keyClass, sizeof *keyClass),
        Flag(CKA_TOKEN, true),
        Flag(CKA_PRIVATE, isPrivate),
        Flag(CKA_MODIFIABLE, true),
    };
    AppendIdentity(identity, &attributes);
    attributes.push_back(TemplateAttribute(CKA_KEY_TYPE, &kRsaKeyType, sizeof kRsaKeyType));
    return attributes;
}

// Reverses each little-endian field of the blob in place and records where
// it lies.
RsaKeyParts MakeBigEndianParts(BYTE* blob, const RsaKeyBlobLayout& layout) {
    RsaKeyParts parts;
    parts.ModulusSize = layout.ModulusSize;
    parts.HalfSize = layout.HalfSize;
    BYTE* field = blob + kHeaderSize;
    auto take = [&field](size_t size) {
        std::reverse(field, field + size);
        const BYTE* start = field;
        field += size;
        return start;
    };
    parts.Modulus = take(layout.ModulusSize);
    parts.Prime1 = take(layout.HalfSize);
    parts.Prime2 = take(layout.HalfSize);
    parts.Exponent1 = take(layout.HalfSize);
    parts.Exponent2 = take(layout.HalfSize);
    parts.Coefficient = take(layout.HalfSize);
    parts.PrivateExponent = take(layout.ModulusSize);
    for (int shift = 24; shift >= 0; shift -= 8) {
        const BYTE octet = static_cast<BYTE>(layout.PublicExponent >> shift);
        if (octet != 0 || !parts.PublicExponent.empty())
            parts.PublicExponent.push_back(octet);
    }
    return parts;
}

CK_RV CreateObject(int slot, std::vector<CK_ATTRIBUTE>& attributes) {
    CK_OBJECT_HANDLE object = 0;
    return Cryptoki.FunctionList->C_CreateObject(SessionTable[slot], attributes.data(),
                                                 static_cast<CK_ULONG>(attributes.size()), &object);
}

}  // namespace

bool ReadRsaKeyBlobLayout(const BYTE* blob, size_t size, RsaKeyBlobLayout* layout) {
    if (!blob || size < kHeaderSize)
        return false;
    BLOBHEADER header;
    RSAPUBKEY key;
    memcpy(&header, blob, sizeof header);
    memcpy(&key, blob + sizeof header, sizeof key);
    if (header.bType != PRIVATEKEYBLOB || !IsRsaAlgorithm(header.aiKeyAlg) || key.magic != kRsaPrivateMagic ||
        key.bitlen == 0 || key.pubexp == 0)
        return false;
    const size_t modulusSize = (static_cast<size_t>(key.bitlen) + 7) / 8;
    // Providers write the half fields as n / 2 bytes, rounded up or down.
    for (size_t halfSize : {(modulusSize + 1) / 2, modulusSize / 2}) {
        if (kHeaderSize + 2 * modulusSize + 5 * halfSize == size) {
            layout->BitLength = key.bitlen;
            layout->PublicExponent = key.pubexp;
            layout->ModulusSize = modulusSize;
            layout->HalfSize = halfSize;
            return true;
        }
    }
    return false;
}

std::vector<CK_ATTRIBUTE> BuildPublicKeyTemplate(const RsaKeyParts& parts, const CertificateIdentity& identity) {
    std::vector<CK_ATTRIBUTE> attributes = KeyTemplateStart(&kPublicKeyClass, false, identity);
    const CK_ATTRIBUTE key[] = {
        Flag(CKA_ENCRYPT, true),
        Flag(CKA_VERIFY, true),
        Flag(CKA_WRAP, true),
        TemplateAttribute(CKA_MODULUS, parts.Modulus, parts.ModulusSize),
        TemplateAttribute(CKA_PUBLIC_EXPONENT, parts.PublicExponent.data(), parts.PublicExponent.size()),
    };
    attributes.insert(attributes.end(), std::begin(key), std::end(key));
    return attributes;
}

std::vector<CK_ATTRIBUTE> BuildPrivateKeyTemplate(const RsaKeyParts& parts, const CertificateIdentity& identity,
                                                  const CK_BBOOL* extractable) {
    std::vector<CK_ATTRIBUTE> attributes = KeyTemplateStart(&kPrivateKeyClass, true, identity);
    const CK_ATTRIBUTE key[] = {
        Flag(CKA_DECRYPT, true),
        Flag(CKA_SIGN, true),
        Flag(CKA_UNWRAP, true),
        TemplateAttribute(CKA_MODULUS, parts.Modulus, parts.ModulusSize),
        TemplateAttribute(CKA_PUBLIC_EXPONENT, parts.PublicExponent.data(), parts.PublicExponent.size()),
        TemplateAttribute(CKA_PRIME_1, parts.Prime1, parts.HalfSize),
        TemplateAttribute(CKA_PRIME_2, parts.Prime2, parts.HalfSize),
        TemplateAttribute(CKA_EXPONENT_1, parts.Exponent1, parts.HalfSize),
        TemplateAttribute(CKA_EXPONENT_2, parts.Exponent2, parts.HalfSize),
        TemplateAttribute(CKA_PRIVATE_EXPONENT, parts.PrivateExponent, parts.ModulusSize),
        TemplateAttribute(CKA_COEFFICIENT, parts.Coefficient, parts.HalfSize),
        TemplateAttribute(CKA_EXTRACTABLE, extractable, sizeof(CK_BBOOL)),
        Flag(CKA_SENSITIVE, false),
    };
    attributes.insert(attributes.end(), std::begin(key), std::end(key));
    return attributes;
}

namespace {

long long CreateKeyPair(int slot, const RsaKeyParts& parts, bool extractable, const CertificateIdentity& identity) {
    std::vector<CK_ATTRIBUTE> publicKey = BuildPublicKeyTemplate(parts, identity);
    CK_RV rv = CreateObject(slot, publicKey);
    if (rv != CKR_OK)
        return CryptokiFailureStatus(rv);

    const CK_BBOOL extractableValue = extractable ? CK_TRUE : CK_FALSE;
    std::vector<CK_ATTRIBUTE> privateKey = BuildPrivateKeyTemplate(parts, identity, &extractableValue);
    rv = CreateObject(slot, privateKey);
    return rv == CKR_OK ? static_cast<long long>(kKeyPairStored) : CryptokiFailureStatus(rv);
}

}  // namespace

long long StoreRsaKeyPair(int slot, BYTE* blob, size_t blobSize, bool extractable,
                          const CertificateIdentity& identity) {
    RsaKeyBlobLayout layout;
    if (!ReadRsaKeyBlobLayout(blob, blobSize, &layout))
        return kKeyBlobNotRsa;
    if (slot < 0 || slot >= kMaxSlots)
        return CryptokiFailureStatus(CKR_SLOT_ID_INVALID);
    try {
        return CreateKeyPair(slot, MakeBigEndianParts(blob, layout), extractable, identity);
    } catch (const std::bad_alloc&) {
        return kImportOutOfMemory;
    }
}
