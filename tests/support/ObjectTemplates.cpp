#include "support/ObjectTemplates.h"

#include <wincrypt.h>

#include "cryptoki/ModuleLoader.h"

const std::vector<unsigned char> kPrime256v1Params = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};

ObjectTemplate& ObjectTemplate::Add(CK_ATTRIBUTE_TYPE type, std::vector<unsigned char> value) {
    values_.emplace_back(type, std::move(value));
    return *this;
}

std::vector<CK_ATTRIBUTE> ObjectTemplate::Attributes() const {
    std::vector<CK_ATTRIBUTE> attributes;
    for (const auto& entry : values_) {
        const std::vector<unsigned char>& value = entry.second;
        attributes.push_back({entry.first, value.empty() ? nullptr : const_cast<unsigned char*>(value.data()),
                              static_cast<CK_ULONG>(value.size())});
    }
    return attributes;
}

ObjectTemplate& ObjectTemplate::Ulong(CK_ATTRIBUTE_TYPE type, CK_ULONG value) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&value);
    return Add(type, std::vector<unsigned char>(bytes, bytes + sizeof value));
}

ObjectTemplate& ObjectTemplate::Bool(CK_ATTRIBUTE_TYPE type, bool value) {
    return Add(type, {static_cast<unsigned char>(value ? CK_TRUE : CK_FALSE)});
}

ObjectTemplate& ObjectTemplate::Bytes(CK_ATTRIBUTE_TYPE type, const std::string& value) {
    return Add(type, std::vector<unsigned char>(value.begin(), value.end()));
}

ObjectTemplate& ObjectTemplate::Bytes(CK_ATTRIBUTE_TYPE type, const std::vector<unsigned char>& value) {
    return Add(type, value);
}

ObjectTemplate ObjectTemplate::TokenObject(CK_OBJECT_CLASS objectClass) {
    ObjectTemplate object;
    object.Ulong(CKA_CLASS, objectClass).Bool(CKA_TOKEN, true);
    return object;
}

ObjectTemplate ObjectTemplate::Data(const std::string& label) {
    ObjectTemplate object = TokenObject(CKO_DATA);
    object.Bytes(CKA_LABEL, label).Bytes(CKA_VALUE, std::string("value"));
    return object;
}

ObjectTemplate ObjectTemplate::Certificate(const std::vector<unsigned char>& der, const std::string& label) {
    ObjectTemplate object = TokenObject(CKO_CERTIFICATE);
    object.Ulong(CKA_CERTIFICATE_TYPE, CKC_X_509).Bytes(CKA_VALUE, der).Bytes(CKA_LABEL, label);
    return object;
}

ObjectTemplate ObjectTemplate::EcPublicKey(const std::string& label, const std::vector<unsigned char>& params) {
    std::vector<unsigned char> point = {0x04, 0x41, 0x04};
    for (unsigned char i = 1; i <= 64; ++i)
        point.push_back(i);
    ObjectTemplate object = TokenObject(CKO_PUBLIC_KEY);
    object.Ulong(CKA_KEY_TYPE, CKK_EC).Bytes(CKA_LABEL, label).Bytes(CKA_EC_PARAMS, params)
        .Bytes(CKA_EC_POINT, point);
    return object;
}

ObjectTemplate ObjectTemplate::EcPrivateKey(const std::string& label) {
    ObjectTemplate object = TokenObject(CKO_PRIVATE_KEY);
    object.Ulong(CKA_KEY_TYPE, CKK_EC).Bytes(CKA_LABEL, label).Bytes(CKA_EC_PARAMS, kPrime256v1Params)
        .Bytes(CKA_VALUE, std::vector<unsigned char>(32, 0x5A));
    return object;
}

ObjectTemplate ObjectTemplate::AesKey(const std::string& label, size_t bytes) {
    ObjectTemplate object = TokenObject(CKO_SECRET_KEY);
    object.Ulong(CKA_KEY_TYPE, CKK_AES).Bytes(CKA_LABEL, label)
        .Bytes(CKA_VALUE, std::vector<unsigned char>(bytes, 0x11));
    return object;
}

CK_RV AddTokenObjectsWith(decltype(&SoftToken_AddObjects) add, CK_SLOT_ID slot,
                          const std::vector<ObjectTemplate>& objects) {
    if (!add)
        return CKR_FUNCTION_NOT_SUPPORTED;
    std::vector<std::vector<CK_ATTRIBUTE>> attributes;
    for (const ObjectTemplate& object : objects)
        attributes.push_back(object.Attributes());
    std::vector<const CK_ATTRIBUTE*> templates;
    std::vector<CK_ULONG> counts;
    for (const std::vector<CK_ATTRIBUTE>& one : attributes) {
        templates.push_back(one.data());
        counts.push_back(static_cast<CK_ULONG>(one.size()));
    }
    return add(slot, templates.data(), counts.data(), static_cast<CK_ULONG>(objects.size()));
}

std::vector<ObjectTemplate> NumberedDataObjects(const std::string& prefix, int count) {
    std::vector<ObjectTemplate> objects;
    for (int i = 0; i < count; ++i)
        objects.push_back(ObjectTemplate::Data(prefix + std::to_string(i)));
    return objects;
}

namespace {

std::vector<unsigned char> Encode(LPCSTR structType, const void* structure) {
    DWORD size = 0;
    if (!CryptEncodeObjectEx(X509_ASN_ENCODING, structType, structure, 0, nullptr, nullptr, &size))
        return {};
    std::vector<unsigned char> der(size);
    if (!CryptEncodeObjectEx(X509_ASN_ENCODING, structType, structure, 0, nullptr, der.data(), &size))
        return {};
    der.resize(size);
    return der;
}

FILETIME Date(WORD year) {
    SYSTEMTIME time = {};
    time.wYear = year;
    time.wMonth = 1;
    time.wDay = 1;
    FILETIME file = {};
    SystemTimeToFileTime(&time, &file);
    return file;
}

}  // namespace

size_t CountTokenObjects(CK_SLOT_ID slot, CK_OBJECT_CLASS objectClass) {
    VendorFunctionList* api = Cryptoki.FunctionList;
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    if (api->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session) != CKR_OK)
        return static_cast<size_t>(-1);
    CK_ATTRIBUTE match = {CKA_CLASS, &objectClass, sizeof objectClass};
    api->C_FindObjectsInit(session, &match, objectClass ? 1 : 0);
    size_t count = 0;
    CK_OBJECT_HANDLE handle = 0;
    CK_ULONG found = 0;
    while (api->C_FindObjects(session, &handle, 1, &found) == CKR_OK && found == 1)
        ++count;
    api->C_FindObjectsFinal(session);
    api->C_CloseSession(session);
    return count;
}

std::vector<unsigned char> CertificateWithCommonName(const std::wstring& commonName, DWORD valueType) {
    CERT_RDN_ATTR attribute = {};
    attribute.pszObjId = const_cast<LPSTR>(szOID_COMMON_NAME);
    attribute.dwValueType = valueType;
    attribute.Value.cbData = static_cast<DWORD>(commonName.size() * sizeof(wchar_t));
    attribute.Value.pbData = reinterpret_cast<BYTE*>(const_cast<wchar_t*>(commonName.c_str()));
    CERT_RDN rdn = {1, &attribute};
    CERT_NAME_INFO nameInfo = {1, &rdn};
    std::vector<unsigned char> name = Encode(X509_UNICODE_NAME, &nameInfo);
    if (name.empty())
        return {};

    BYTE serial[] = {0x01};
    BYTE nullParameters[] = {0x05, 0x00};
    BYTE publicKey[] = {0x30, 0x06, 0x02, 0x01, 0x05, 0x02, 0x01, 0x03};  // RSAPublicKey n=5, e=3
    CERT_INFO info = {};
    info.dwVersion = CERT_V1;
    info.SerialNumber = {sizeof serial, serial};
    info.SignatureAlgorithm.pszObjId = const_cast<LPSTR>(szOID_RSA_SHA256RSA);
    info.Issuer = {static_cast<DWORD>(name.size()), name.data()};
    info.Subject = info.Issuer;
    info.NotBefore = Date(2024);
    info.NotAfter = Date(2034);
    info.SubjectPublicKeyInfo.Algorithm.pszObjId = const_cast<LPSTR>(szOID_RSA_RSA);
    info.SubjectPublicKeyInfo.Algorithm.Parameters = {sizeof nullParameters, nullParameters};
    info.SubjectPublicKeyInfo.PublicKey = {sizeof publicKey, publicKey, 0};
    std::vector<unsigned char> toBeSigned = Encode(X509_CERT_TO_BE_SIGNED, &info);
    if (toBeSigned.empty())
        return {};

    BYTE signature[32] = {0x7F};
    CERT_SIGNED_CONTENT_INFO certificate = {};
    certificate.ToBeSigned = {static_cast<DWORD>(toBeSigned.size()), toBeSigned.data()};
    certificate.SignatureAlgorithm.pszObjId = const_cast<LPSTR>(szOID_RSA_SHA256RSA);
    certificate.Signature = {sizeof signature, signature, 0};
    return Encode(X509_CERT, &certificate);
}
