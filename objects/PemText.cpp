#include "objects/PemText.h"

namespace {

constexpr size_t kLineChars = 64;

}  // namespace

std::string Base64Text(const unsigned char* bytes, size_t length) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((length + 2) / 3 * 4);
    for (size_t i = 0; i < length; i += 3) {
        const size_t left = length - i;
        const unsigned group = (bytes[i] << 16) | (left > 1 ? bytes[i + 1] << 8 : 0) | (left > 2 ? bytes[i + 2] : 0);
        text.push_back(kAlphabet[(group >> 18) & 0x3F]);
        text.push_back(kAlphabet[(group >> 12) & 0x3F]);
        text.push_back(left > 1 ? kAlphabet[(group >> 6) & 0x3F] : '=');
        text.push_back(left > 2 ? kAlphabet[group & 0x3F] : '=');
    }
    return text;
}

std::string PemCertificateText(const std::vector<unsigned char>& der) {
    const std::string base64 = Base64Text(der.data(), der.size());
    std::string pem = "-----BEGIN CERTIFICATE-----\r\n";
    for (size_t start = 0; start < base64.size(); start += kLineChars) {
        pem.append(base64, start, kLineChars);
        pem.append("\r\n");
    }
    pem.append("-----END CERTIFICATE-----\r\n");
    return pem;
}
