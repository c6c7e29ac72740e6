#include "RequestExtensions.h"

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "PkeStatus.h"
#include "PlatformEncoding.h"
#include "SubjectName.h"

namespace softpke {
namespace {

struct KeyUsageName {
    const char* name;
    unsigned bit;  // bit number of the KeyUsage BIT STRING, 0 first
};

const KeyUsageName kKeyUsageNames[] = {
    {"digitalSignature", 0}, {"nonRepudiation", 1}, {"keyEncipherment", 2},
    {"dataEncipherment", 3}, {"keyAgreement", 4},   {"keyCertSign", 5},
    {"cRLSign", 6},          {"encipherOnly", 7},   {"decipherOnly", 8},
};

struct ExtendedKeyUsageName {
    const char* name;
    const char* oid;
};

const ExtendedKeyUsageName kExtendedKeyUsageNames[] = {
    {"serverAuth", "1.3.6.1.5.5.7.3.1"},      {"clientAuth", "1.3.6.1.5.5.7.3.2"},
    {"codeSigning", "1.3.6.1.5.5.7.3.3"},     {"emailProtection", "1.3.6.1.5.5.7.3.4"},
    {"timeStamping", "1.3.6.1.5.5.7.3.8"},    {"OCSPSigning", "1.3.6.1.5.5.7.3.9"},
};

constexpr char kUserPrincipalNameOid[] = "1.3.6.1.4.1.311.20.2.3";

// Splits "a, b,c" into its names; false for an empty name ("a,,b", "a, ").
bool SplitNames(const char* text, std::vector<std::string>* names) {
    names->clear();
    const std::string all = text;
    if (all.empty())
        return true;
    size_t start = 0;
    for (;;) {
        const size_t comma = all.find(',', start);
        std::string name = all.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const size_t first = name.find_first_not_of(' ');
        if (first == std::string::npos)
            return false;
        name = name.substr(first, name.find_last_not_of(' ') - first + 1);
        names->push_back(name);
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
}

bool Repeated(const std::vector<std::string>& names, size_t index) {
    for (size_t i = 0; i < index; ++i)
        if (names[i] == names[index])
            return true;
    return false;
}

template <typename Entry, size_t count>
const Entry* FindName(const Entry (&table)[count], const std::string& name) {
    for (const Entry& entry : table)
        if (name == entry.name)
            return &entry;
    return nullptr;
}

// The otherName of a user principal name: [0] { type-id, [0] EXPLICIT UTF8String }.
Bytes UserPrincipalName(const std::string& utf8) {
    return der::Constructed(0xA0, {der::Oid(kUserPrincipalNameOid),
                                   der::Tlv(der::kContext0, der::Utf8String(utf8))});
}

bool IsAscii(const std::wstring& text) {
    for (wchar_t c : text)
        if (c > 0x7E || c < 0x20)
            return false;
    return true;
}

bool IsEmpty(const char* field) {
    return !field || !*field;
}

}  // namespace

int EncodeKeyUsage(const char* text, Bytes* value) {
    std::vector<std::string> names;
    if (!SplitNames(text, &names))
        return kPkeUsageTextInvalid;
    BYTE bits[2] = {};
    for (size_t i = 0; i < names.size(); ++i) {
        const KeyUsageName* entry = FindName(kKeyUsageNames, names[i]);
        if (!entry || Repeated(names, i))
            return kPkeUsageTextInvalid;
        bits[entry->bit / 8] |= static_cast<BYTE>(0x80 >> (entry->bit % 8));
    }
    // DER leaves out the trailing zero bits of a named-bit list.
    CRYPT_BIT_BLOB blob = {bits[1] ? 2u : 1u, bits, 0};
    const BYTE last = bits[blob.cbData - 1];
    while (last && !(last & (1u << blob.cUnusedBits)))
        ++blob.cUnusedBits;
    return EncodeObject(X509_KEY_USAGE, &blob, value) ? kPkeOk : kPkeExtensionNotSet;
}

int EncodeExtendedKeyUsage(const char* text, Bytes* value) {
    std::vector<std::string> names;
    if (!SplitNames(text, &names))
        return kPkeUsageTextInvalid;
    std::vector<LPSTR> oids;
    for (size_t i = 0; i < names.size(); ++i) {
        const ExtendedKeyUsageName* entry = FindName(kExtendedKeyUsageNames, names[i]);
        if (!entry || Repeated(names, i))
            return kPkeUsageTextInvalid;
        oids.push_back(const_cast<LPSTR>(entry->oid));
    }
    CERT_ENHKEY_USAGE usage = {static_cast<DWORD>(oids.size()), oids.data()};
    return EncodeObject(X509_ENHANCED_KEY_USAGE, &usage, value) ? kPkeOk : kPkeExtensionNotSet;
}

int EncodeAltNames(const char* const* altNames, Bytes* value) {
    for (size_t position = 0; position < kFieldTableSize; ++position)
        if (position != kDnsName && position != kUri && position != kUserPrincipalName &&
            !IsEmpty(altNames[position]))
            return kPkeExtensionNotSet;

    // DNS name and URI through the platform; it has no encoder for the
    // otherName of a user principal name, which is appended to its list.
    std::wstring dns, uri;
    if (!Utf8ToWide(IsEmpty(altNames[kDnsName]) ? "" : altNames[kDnsName], &dns) ||
        !Utf8ToWide(IsEmpty(altNames[kUri]) ? "" : altNames[kUri], &uri) || !IsAscii(dns) || !IsAscii(uri))
        return kPkeExtensionNotSet;
    std::vector<CERT_ALT_NAME_ENTRY> entries;
    if (!dns.empty()) {
        CERT_ALT_NAME_ENTRY entry = {CERT_ALT_NAME_DNS_NAME};
        entry.pwszDNSName = &dns[0];
        entries.push_back(entry);
    }
    if (!uri.empty()) {
        CERT_ALT_NAME_ENTRY entry = {CERT_ALT_NAME_URL};
        entry.pwszURL = &uri[0];
        entries.push_back(entry);
    }
    CERT_ALT_NAME_INFO info = {static_cast<DWORD>(entries.size()), entries.data()};
    if (!EncodeObject(X509_ALTERNATE_NAME, &info, value))
        return kPkeExtensionNotSet;
    const char* upn = altNames[kUserPrincipalName];
    if (!IsEmpty(upn)) {
        std::wstring check;
        if (!Utf8ToWide(upn, &check))
            return kPkeExtensionNotSet;
        *value = der::AppendToConstructed(*value, UserPrincipalName(upn));
        if (value->empty())
            return kPkeExtensionNotSet;
    }
    return kPkeOk;
}

namespace {

bool HasAltName(const char* const* altNames) {
    for (size_t position = 0; position < kFieldTableSize; ++position)
        if (!IsEmpty(altNames[position]))
            return true;
    return false;
}

}  // namespace

int EncodeRequestExtensions(const ExtensionTexts& texts, Bytes* extensions) {
    extensions->clear();
    Bytes keyUsage, extendedKeyUsage, altNames;
    int status = kPkeOk;
    if (*texts.keyUsage && (status = EncodeKeyUsage(texts.keyUsage, &keyUsage)) != kPkeOk)
        return status;
    if (*texts.extendedKeyUsage &&
        (status = EncodeExtendedKeyUsage(texts.extendedKeyUsage, &extendedKeyUsage)) != kPkeOk)
        return status;
    if (HasAltName(texts.altNames) && (status = EncodeAltNames(texts.altNames, &altNames)) != kPkeOk)
        return status;

    std::vector<CERT_EXTENSION> list;
    auto add = [&list](const char* oid, bool critical, Bytes& value) {
        if (!value.empty())
            list.push_back({const_cast<LPSTR>(oid), critical, {static_cast<DWORD>(value.size()), value.data()}});
    };
    add(szOID_KEY_USAGE, true, keyUsage);
    add(szOID_ENHANCED_KEY_USAGE, false, extendedKeyUsage);
    // Without a subject the names are the only identity: critical then (RFC 5280, 4.2.1.6).
    add(szOID_SUBJECT_ALT_NAME2, texts.subjectEmpty, altNames);
    if (list.empty())
        return kPkeOk;
    CERT_EXTENSIONS all = {static_cast<DWORD>(list.size()), list.data()};
    return EncodeObject(X509_EXTENSIONS, &all, extensions) ? kPkeOk : kPkeExtensionNotSet;
}

}  // namespace softpke
