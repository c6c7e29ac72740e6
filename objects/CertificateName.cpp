#include "objects/CertificateName.h"

#include <windows.h>
#include <wincrypt.h>

#include "cryptoki/ModuleLoader.h"
#include "objects/DerStructure.h"
#include "objects/CertificateFile.h"

namespace {

// A common name's value as text. UTF8String, BMPString and UniversalString
// arrive decoded to UTF-16 and UTF-32; every other string type is read as
// UTF-8 (which covers the plain ASCII types). Empty when it cannot be read.
std::wstring CommonNameValue(const CERT_RDN_ATTR& attribute) {
    const CERT_RDN_VALUE_BLOB& value = attribute.Value;
    switch (attribute.dwValueType) {
    case CERT_RDN_UTF8_STRING:
    case CERT_RDN_BMP_STRING:
        return std::wstring(reinterpret_cast<const wchar_t*>(value.pbData),
                            value.cbData / sizeof(wchar_t));
    case CERT_RDN_UNIVERSAL_STRING: {
        std::wstring text;
        const DWORD* chars = reinterpret_cast<const DWORD*>(value.pbData);
        for (DWORD i = 0; i < value.cbData / 4; ++i) {
            DWORD c = chars[i];
            if (c >= 0x10000 && c <= 0x10FFFF) {
                c -= 0x10000;
                text.push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
                text.push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
            } else if (c < 0xD800 || (c > 0xDFFF && c < 0x10000)) {
                text.push_back(static_cast<wchar_t>(c));
            } else {
                return std::wstring();  // not a character
            }
        }
        return text;
    }
    default: {
        if (value.cbData == 0)
            return std::wstring();
        const char* bytes = reinterpret_cast<const char*>(value.pbData);
        const int size = static_cast<int>(value.cbData);
        int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, size, nullptr, 0);
        if (units <= 0)
            return std::wstring();
        std::wstring text(static_cast<size_t>(units), L'\0');
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, size, &text[0], units);
        return text;
    }
    }
}

const wchar_t kNoMemoryText[] = L"Error in allocating memory";

}  // namespace

std::wstring CommonNameFromCertificate(const std::vector<unsigned char>& der, const wchar_t** notice) {
    std::wstring name;
    // Token bytes reach the platform's decoder only as sound DER: Wine's
    // decoder writes past its heap block on a BIT STRING without content.
    if (der.empty() || !HasSoundDerStructure(der.data(), der.size()))
        return name;
    auto* info = DecodeCertificateObject<CERT_INFO>(X509_CERT_TO_BE_SIGNED, der.data(),
                                         static_cast<DWORD>(der.size()));
    if (!info)
        return name;
    auto* subject = DecodeCertificateObject<CERT_NAME_INFO>(X509_NAME, info->Subject.pbData,
                                                 info->Subject.cbData);
    if (!subject && notice &&
        (GetLastError() == ERROR_NOT_ENOUGH_MEMORY || GetLastError() == static_cast<DWORD>(E_OUTOFMEMORY)))
        *notice = kNoMemoryText;
    if (subject) {
        // The last common name wins, as in most displays of a subject.
        for (DWORD r = 0; r < subject->cRDN; ++r) {
            const CERT_RDN& rdn = subject->rgRDN[r];
            for (DWORD a = 0; a < rdn.cRDNAttr; ++a) {
                if (rdn.rgRDNAttr[a].pszObjId && strcmp(rdn.rgRDNAttr[a].pszObjId, szOID_COMMON_NAME) == 0)
                    name = CommonNameValue(rdn.rgRDNAttr[a]);
            }
        }
        LocalFree(subject);
    }
    LocalFree(info);
    return name;
}

const wchar_t* ReadCertificateCommonName(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle, std::wstring* name) {
    name->clear();
    CK_ATTRIBUTE attribute = {CKA_VALUE, nullptr, 0};
    if (Cryptoki.FunctionList->C_GetAttributeValue(session, handle, &attribute, 1) != CKR_OK ||
        attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION)
        return nullptr;
    if (attribute.ulValueLen == 0)
        return L"Can't read certificate from the token";
    // A length no certificate has (a module may claim gigabytes) is an
    // allocation that failed: no such buffer is ever zero-filled.
    std::vector<unsigned char> der;
    if (!AllocateCertificateValue(attribute.ulValueLen, &der))
        return kNoMemoryText;
    attribute.pValue = der.data();
    if (Cryptoki.FunctionList->C_GetAttributeValue(session, handle, &attribute, 1) != CKR_OK)
        return nullptr;
    der.resize(attribute.ulValueLen < der.size() ? attribute.ulValueLen : der.size());
    const wchar_t* notice = nullptr;
    *name = CommonNameFromCertificate(der, &notice);
    return notice;
}
