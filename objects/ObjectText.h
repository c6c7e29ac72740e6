// Texts of the object list's cells that depend only on attribute values.
#pragma once

#include <cstddef>
#include <string>

#include "cryptoki/Cryptoki.h"

// "Digital certificate", "RSA Public key", ... by class and key type.
const char* ObjectTypeText(CK_OBJECT_CLASS objectClass, CK_KEY_TYPE keyType);

// The type text that marks a certificate row for export and viewing.
constexpr wchar_t kCertificateTypeText[] = L"Digital certificate";

// 0 and the curve's key size in `bits` when the first `length` bytes of
// `params` equal the start of a known curve's DER object identifier (first
// match wins); 1 with `bits` untouched otherwise. CK_UNAVAILABLE_INFORMATION
// as length matches nothing.
int EcKeySizeFromParams(const unsigned char* params, CK_ULONG length, CK_ULONG* bits);

// Upper-case hexadecimal, two digits per byte, no separators.
std::string HexText(const unsigned char* bytes, size_t length);

// A label as the list shows it: UTF-8 decoded, or when the bytes are not
// UTF-8, each byte widened to the UTF-16 unit of the same value.
std::wstring LabelText(const unsigned char* bytes, size_t length);

// Each byte widened to the UTF-16 unit of the same value.
std::wstring WidenBytes(const char* text);
