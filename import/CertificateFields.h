// The values a certificate object on the token is made of, taken from a
// parsed X.509 certificate. Every value gets a buffer of its own size, so
// long names and serial numbers are stored whole.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <vector>

using ByteVector = std::vector<unsigned char>;

// SHA-1 of the key bits inside the subjectPublicKey BIT STRING (the key
// identifier of RFC 5280 4.2.1.2, method 1), computed by a verify-only RSA
// provider. False when any step of the hashing fails.
bool ComputeKeyIdentifier(const CERT_INFO& info, ByteVector* id);

// The serialNumber as a whole DER INTEGER (tag, length, content).
bool EncodeSerialNumber(const CERT_INFO& info, ByteVector* serial);

// Results of ReencodeName.
enum NameResult { kNameEncoded = 0, kNameNotDecoded = 1, kNameNotEncoded = 2 };

// Decodes a Name and encodes it again as DER.
NameResult ReencodeName(const CERT_NAME_BLOB& name, ByteVector* der);

// The first common name (2.5.4.3) of `name`, walking the RDNs and their
// attributes in order, as label bytes without terminator: 8-bit string
// types as their bytes unchanged; UTF8String, BMPString and
// UniversalString as UTF-8. False when the name holds no common name (or
// cannot be decoded).
bool FindCommonNameLabel(const CERT_NAME_BLOB& name, ByteVector* label);
