// Types and small helpers shared by every layer of the software token.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "cryptoki/Cryptoki.h"

namespace softtoken {

using Bytes = std::vector<unsigned char>;

// Limits of the token as a device.
constexpr CK_ULONG kMaxSlots = 64;
constexpr CK_ULONG kDefaultSlots = 4;
constexpr CK_ULONG kDefaultCapacity = 64 * 1024;
constexpr CK_ULONG kSoMaxFailed = 10;
constexpr CK_ULONG kSoPinMinLen = 4;
constexpr CK_ULONG kSoPinMaxLen = 32;
constexpr char kFactorySoPin[] = "tolvane";

// Copies `text` into a fixed Cryptoki character field, padded with blanks.
inline void PadField(CK_UTF8CHAR* field, size_t size, const std::string& text) {
    memset(field, ' ', size);
    memcpy(field, text.data(), text.size() < size ? text.size() : size);
}

// Overwrites a secret before its memory is released.
inline void Wipe(Bytes& secret) {
    if (!secret.empty())
        SecureZeroMemory(secret.data(), secret.size());
    secret.clear();
}

inline Bytes ToBytes(const void* data, size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    return Bytes(p, p + size);
}

inline Bytes UlongBytes(CK_ULONG value) { return ToBytes(&value, sizeof value); }
inline Bytes BoolBytes(bool value) { return Bytes{static_cast<unsigned char>(value ? CK_TRUE : CK_FALSE)}; }

// Keeps a secret copy and wipes it when it goes out of scope.
class SecretBytes {
public:
    SecretBytes() = default;
    SecretBytes(const void* data, size_t size) : bytes_(ToBytes(data, size)) {}
    ~SecretBytes() { Wipe(bytes_); }
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;
    Bytes& get() { return bytes_; }
    const Bytes& get() const { return bytes_; }

private:
    Bytes bytes_;
};

}  // namespace softtoken
