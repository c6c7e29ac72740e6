#include "PlatformEncoding.h"

#include <algorithm>
#include <cstring>

namespace softpke {

bool EncodeObject(LPCSTR structType, const void* value, Bytes* encoded) {
    BYTE* buffer = nullptr;
    DWORD size = 0;
    if (!CryptEncodeObjectEx(X509_ASN_ENCODING, structType, value, CRYPT_ENCODE_ALLOC_FLAG, nullptr, &buffer,
                             &size))
        return false;
    encoded->assign(buffer, buffer + size);
    LocalFree(buffer);
    return true;
}

bool Utf8ToWide(const char* utf8, std::wstring* wide) {
    wide->clear();
    if (!*utf8)
        return true;
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
    if (units <= 0)
        return false;
    wide->resize(static_cast<size_t>(units));
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, &(*wide)[0], units) != units)
        return false;
    wide->pop_back();  // the terminating NUL
    return true;
}

size_t CharacterCount(const std::wstring& wide) {
    size_t count = 0;
    for (wchar_t unit : wide)
        if (unit < 0xDC00 || unit > 0xDFFF)  // a low surrogate ends a pair already counted
            ++count;
    return count;
}

bool ToPem(const Bytes& der, const char* label, std::string* pem) {
    DWORD size = 0;
    const DWORD flags = CRYPT_STRING_BASE64;
    if (!CryptBinaryToStringA(der.data(), static_cast<DWORD>(der.size()), flags, nullptr, &size))
        return false;
    std::string base64(size, '\0');
    if (!CryptBinaryToStringA(der.data(), static_cast<DWORD>(der.size()), flags, &base64[0], &size))
        return false;
    // Without the terminating NUL. Wine counts that NUL in some lengths
    // of input, so the text ends at the first NUL whatever size says.
    base64.resize(std::min<size_t>(size, strnlen(base64.c_str(), base64.size())));
    if (base64.size() < 2 || base64.compare(base64.size() - 2, 2, "\r\n") != 0)
        base64 += "\r\n";
    *pem = std::string("-----BEGIN ") + label + "-----\r\n" + base64 + "-----END " + label + "-----\r\n";
    return true;
}

}  // namespace softpke
