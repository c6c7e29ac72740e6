// The common name of a certificate's subject, for the object list.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "cryptoki/Cryptoki.h"

// The encoding of every certificate structure the program decodes.
constexpr DWORD kCertificateEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// Decodes a certificate structure (X509_NAME, X509_CERT_TO_BE_SIGNED, ...)
// with the system's allocator; null when it cannot be decoded. The caller
// frees the result with LocalFree.
template <typename T>
T* DecodeCertificateObject(LPCSTR structType, const BYTE* data, DWORD size) {
    T* decoded = nullptr;
    DWORD decodedSize = 0;
    if (!CryptDecodeObjectEx(kCertificateEncoding, structType, data, size, CRYPT_DECODE_ALLOC_FLAG, nullptr,
                             &decoded, &decodedSize))
        return nullptr;
    return decoded;
}

// The last common name of the subject of the DER certificate `der`; empty
// when the certificate cannot be decoded, has no common name or holds one
// that cannot be converted. The name is whole, however long. When the
// platform has no memory for the decoded subject, `notice` (if given) is
// set to the text of the box that says so.
std::wstring CommonNameFromCertificate(const std::vector<unsigned char>& der, const wchar_t** notice = nullptr);

// Reads the certificate object `handle` on `session` and gives its
// subject's common name (empty when none can be read). Makes Cryptoki calls
// only, so that the listing worker can use it: the text of a box to show
// (an empty value on the token, no memory), or null.
const wchar_t* ReadCertificateCommonName(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle, std::wstring* name);
