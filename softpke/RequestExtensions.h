// The extensions the request asks for: key usage (critical), extended key
// usage and subject alternative names, as the Extensions value of the
// request's extensionRequest attribute.
#pragma once

#include "Der.h"

namespace softpke {

// Positions of the alternative-name table.
enum AltNamePosition {
    kDnsName = 0,
    kUri = 3,
    kUserPrincipalName = 4,
};

struct ExtensionTexts {
    const char* keyUsage;         // names joined by ", " ("digitalSignature, cRLSign"), or ""
    const char* extendedKeyUsage;  // likewise ("serverAuth, clientAuth"), or ""
    const char* const* altNames;  // kFieldTableSize UTF-8 texts by AltNamePosition
    bool subjectEmpty;            // the alternative names are then critical
};

// `extensions` gets the DER Extensions, or stays empty when nothing was
// asked for. Answers 0; kPkeUsageTextInvalid for a usage text with an
// unknown, repeated or empty name; kPkeExtensionNotSet for an alternative
// name that is not valid UTF-8, a DNS name or URI of other than ASCII
// characters, or a non-empty position without a meaning.
int EncodeRequestExtensions(const ExtensionTexts& texts, Bytes* extensions);

// The parts, for tests: the DER value of each extension.
int EncodeKeyUsage(const char* text, Bytes* value);
int EncodeExtendedKeyUsage(const char* text, Bytes* value);
int EncodeAltNames(const char* const* altNames, Bytes* value);

}  // namespace softpke
