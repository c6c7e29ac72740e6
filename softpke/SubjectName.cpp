#include "SubjectName.h"

#include <windows.h>
#include <wincrypt.h>

#include <iterator>
#include <vector>

#include "PkeStatus.h"
#include "PlatformEncoding.h"

namespace softpke {
namespace {

struct SubjectField {
    SubjectPosition position;
    const char* oid;
    DWORD valueType;      // the string type the attribute is encoded as
    size_t minCharacters;
    size_t maxCharacters;  // the upper bounds of RFC 5280, appendix A
};

// In the order of the encoded Name.
const SubjectField kSubjectFields[] = {
    {kCountry, "2.5.4.6", CERT_RDN_PRINTABLE_STRING, 2, 2},
    {kStateOrProvince, "2.5.4.8", CERT_RDN_UTF8_STRING, 1, 128},
    {kLocality, "2.5.4.7", CERT_RDN_UTF8_STRING, 1, 128},
    {kOrganization, "2.5.4.10", CERT_RDN_UTF8_STRING, 1, 64},
    {kOrganizationalUnit, "2.5.4.11", CERT_RDN_UTF8_STRING, 1, 64},
    {kCommonName, "2.5.4.3", CERT_RDN_UTF8_STRING, 1, 64},
    {kSurname, "2.5.4.4", CERT_RDN_UTF8_STRING, 1, 32768},
    {kGivenName, "2.5.4.42", CERT_RDN_UTF8_STRING, 1, 32768},
    {kSerialNumber, "2.5.4.5", CERT_RDN_PRINTABLE_STRING, 1, 64},
    {kEmailAddress, "1.2.840.113549.1.9.1", CERT_RDN_IA5_STRING, 1, 255},
};

constexpr size_t kFirstUnusedPosition = 10;

bool IsEmpty(const char* field) {
    return !field || !*field;
}

}  // namespace

int EncodeSubject(const char* const* fields, Bytes* name, std::string* commonName) {
    commonName->clear();
    for (size_t position = kFirstUnusedPosition; position < kFieldTableSize; ++position)
        if (!IsEmpty(fields[position]))
            return kPkeSubjectNotSet;

    std::vector<std::wstring> texts;
    texts.reserve(std::size(kSubjectFields));  // the attributes point into it
    std::vector<CERT_RDN_ATTR> attributes;
    for (const SubjectField& field : kSubjectFields) {
        const char* utf8 = fields[field.position];
        if (IsEmpty(utf8))
            continue;
        std::wstring wide;
        if (!Utf8ToWide(utf8, &wide))
            return kPkeSubjectNotSet;
        const size_t characters = CharacterCount(wide);
        if (characters < field.minCharacters || characters > field.maxCharacters)
            return kPkeSubjectNotSet;
        texts.push_back(wide);
        CERT_RDN_ATTR attribute = {};
        attribute.pszObjId = const_cast<LPSTR>(field.oid);
        attribute.dwValueType = field.valueType;
        attribute.Value.pbData = reinterpret_cast<BYTE*>(&texts.back()[0]);
        attribute.Value.cbData = static_cast<DWORD>(texts.back().size() * sizeof(wchar_t));
        attributes.push_back(attribute);
        if (field.position == kCommonName)
            *commonName = utf8;
    }

    std::vector<CERT_RDN> rdns(attributes.size());
    for (size_t i = 0; i < attributes.size(); ++i) {
        rdns[i].cRDNAttr = 1;
        rdns[i].rgRDNAttr = &attributes[i];
    }
    CERT_NAME_INFO info = {static_cast<DWORD>(rdns.size()), rdns.data()};
    // The platform refuses characters that the string type cannot hold.
    return EncodeObject(X509_UNICODE_NAME, &info, name) ? kPkeOk : kPkeSubjectNotSet;
}

}  // namespace softpke
