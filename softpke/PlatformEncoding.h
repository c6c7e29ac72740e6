// The platform's encoders (crypt32): structures to DER, DER to PEM text,
// UTF-8 to wide text.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "Der.h"

namespace softpke {

// CryptEncodeObjectEx with X.509 encoding; false when the platform refuses
// the value (for instance a character a PrintableString cannot hold).
bool EncodeObject(LPCSTR structType, const void* value, Bytes* encoded);

// `utf8` as UTF-16; false when it is not valid UTF-8.
bool Utf8ToWide(const char* utf8, std::wstring* wide);

// Characters (code points) of a UTF-16 text.
size_t CharacterCount(const std::wstring& wide);

// PEM text of `der` under the label ("CERTIFICATE REQUEST"), base64 lines
// of 64 characters, each line ended by CR LF.
bool ToPem(const Bytes& der, const char* label, std::string* pem);

}  // namespace softpke
