// The subject of the request from the table of subject fields by position.
#pragma once

#include <string>

#include "Der.h"

namespace softpke {

constexpr size_t kFieldTableSize = 150;

// Positions of the subject-field table.
enum SubjectPosition {
    kCountry = 0,
    kCommonName = 1,
    kOrganization = 2,
    kOrganizationalUnit = 3,
    kLocality = 4,
    kStateOrProvince = 5,
    kEmailAddress = 6,
    kGivenName = 7,
    kSerialNumber = 8,
    kSurname = 9,
};

// Encodes the non-empty fields of `fields` (kFieldTableSize UTF-8 texts,
// null entries count as empty) as an X.501 Name, one attribute per RDN, in
// the usual order from country down to e-mail address; `commonName` gets
// the common name's UTF-8 text. Answers 0, or kPkeSubjectNotSet for a field
// that is not valid UTF-8, too long for its attribute, of characters its
// string type cannot hold, a country that is not two characters, or a
// non-empty position that has no meaning (10 and up).
int EncodeSubject(const char* const* fields, Bytes* name, std::string* commonName);

}  // namespace softpke
