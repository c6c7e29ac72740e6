#include "objects/ObjectText.h"

#include <windows.h>

#include <cstring>
#include <iterator>

namespace {

struct TypeTextEntry {
    CK_OBJECT_CLASS objectClass;
    CK_KEY_TYPE keyType;  // kAnyKeyType: the row for every other key type
    const char* text;
};

constexpr CK_KEY_TYPE kAnyKeyType = static_cast<CK_KEY_TYPE>(-1);

const TypeTextEntry kTypeTexts[] = {
    {CKO_DATA, kAnyKeyType, "Data object"},
    {CKO_CERTIFICATE, kAnyKeyType, "Digital certificate"},
    {CKO_PUBLIC_KEY, CKK_RSA, "RSA Public key"},
    {CKO_PUBLIC_KEY, CKK_EC, "EC Public key"},
    {CKO_PUBLIC_KEY, kAnyKeyType, "Unknown Public key"},
    {CKO_PRIVATE_KEY, CKK_RSA, "RSA private key"},
    {CKO_PRIVATE_KEY, CKK_EC, "EC private key"},
    {CKO_PRIVATE_KEY, kAnyKeyType, "Unknown private key"},
    {CKO_SECRET_KEY, CKK_GENERIC_SECRET, "Generic Secret key"},
    {CKO_SECRET_KEY, CKK_DES, "DES Secret key"},
    {CKO_SECRET_KEY, CKK_DES3, "DES3 Secret key"},
    {CKO_SECRET_KEY, CKK_AES, "AES Secret key"},
    {CKO_SECRET_KEY, kAnyKeyType, "Unknown Secret key"},
};

struct EcCurveSize {
    unsigned char der[32];  // DER of the curve's OBJECT IDENTIFIER, zero-filled
    CK_ULONG bits;
};

// Named curves whose key size the list shows, in lookup order.
const EcCurveSize EcCurveSizeTable[] = {
    {{0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x01}, 192},  // prime192v1
    {{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x21}, 224},                    // secp224r1
    {{0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07}, 256},  // prime256v1
    {{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x22}, 384},                    // secp384r1
    {{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x23}, 521},                    // secp521r1
    {{0x06, 0x09, 0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x01}, 160},  // brainpoolP160r1
    {{0x06, 0x09, 0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x03}, 192},  // brainpoolP192r1
    {{0x06, 0x09, 0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x05}, 224},  // brainpoolP224r1
    {{0x06, 0x09, 0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x07}, 256},  // brainpoolP256r1
    {{0x06, 0x09, 0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x09}, 320},  // brainpoolP320r1
    {{0x06, 0x09, 0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x0B}, 384},  // brainpoolP384r1
    {{0x06, 0x09, 0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x0D}, 512},  // brainpoolP512r1
    {{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x06}, 112},                    // secp112r1
    {{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x07}, 112},                    // secp112r2
    {{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x1C}, 128},                    // secp128r1
    {{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x1D}, 128},                    // secp128r2
    {{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x08}, 160},                    // secp160r1
    {{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x1E}, 160},                    // secp160r2
    {{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x09}, 160},                    // secp160k1
    {{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x1F}, 192},                    // secp192k1
    {{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x20}, 224},                    // secp224k1
    {{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x0A}, 256},                    // secp256k1
    {{0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x02}, 192},  // prime192v2
    {{0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x03}, 192},  // prime192v3
    {{0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x04}, 239},  // prime239v1
    {{0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x05}, 239},  // prime239v2
    {{0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x06}, 239},  // prime239v3
    {{0x06, 0x05, 0x67, 0x2B, 0x01, 0x04, 0x08}, 112},  // wap-wsg-idm-ecid-wtls8
    {{0x06, 0x05, 0x67, 0x2B, 0x01, 0x04, 0x09}, 160},  // wap-wsg-idm-ecid-wtls9
    {{0x06, 0x05, 0x67, 0x2B, 0x01, 0x04, 0x0C}, 224},  // wap-wsg-idm-ecid-wtls12
};

}  // namespace

const char* ObjectTypeText(CK_OBJECT_CLASS objectClass, CK_KEY_TYPE keyType) {
    for (const TypeTextEntry& entry : kTypeTexts) {
        if (entry.objectClass == objectClass &&
            (entry.keyType == keyType || entry.keyType == kAnyKeyType))
            return entry.text;
    }
    return "Unknown object type";
}

int EcKeySizeFromParams(const unsigned char* params, CK_ULONG length, CK_ULONG* bits) {
    if (!params || length == CK_UNAVAILABLE_INFORMATION ||
        length > sizeof(EcCurveSizeTable[0].der))
        return 1;
    for (const EcCurveSize& curve : EcCurveSizeTable) {
        if (memcmp(params, curve.der, length) == 0) {
            *bits = curve.bits;
            return 0;
        }
    }
    return 1;
}

std::string HexText(const unsigned char* bytes, size_t length) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return text;
}

std::wstring LabelText(const unsigned char* bytes, size_t length) {
    if (length == 0)
        return std::wstring();
    const char* text = reinterpret_cast<const char*>(bytes);
    const int size = static_cast<int>(length);
    int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, size, nullptr, 0);
    if (units > 0) {
        std::wstring wide(static_cast<size_t>(units), L'\0');
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, size, &wide[0], units);
        return wide;
    }
    return std::wstring(bytes, bytes + length);
}

std::wstring WidenBytes(const char* text) {
    std::wstring wide;
    for (; *text; ++text)
        wide.push_back(static_cast<unsigned char>(*text));
    return wide;
}
