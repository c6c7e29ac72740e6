// A check of the DER structure of a file before the platform's certificate
// decoder sees it. Wine's decoder writes past its heap block when it meets a
// BIT STRING without content (not even the unused-bits octet), so a hostile
// file could corrupt the program's memory; such a file is no certificate
// anyway. The check refuses what DER itself forbids.
#pragma once

#include <cstddef>

// True when `data` begins with one whole DER element whose nested elements
// all fit inside the element that holds them: definite lengths of at most
// four octets, every constructed element's content exactly a run of such
// elements, no deeper than a certificate nests, and the primitive types a
// certificate is made of with content of a size DER allows (a BIT STRING
// with its unused-bits octet, a BOOLEAN of one octet, a NULL of none, an
// INTEGER or OBJECT IDENTIFIER of at least one). What follows the leading
// element is not examined.
bool HasSoundDerStructure(const unsigned char* data, size_t size);

// The identifier and length octets of one DER element.
struct DerHeader {
    unsigned char tag = 0;  // the first identifier octet
    bool constructed = false;
    size_t contentStart = 0;  // offset of the content octets in the data
    size_t contentLength = 0;
};

// Reads the header of the element at offset `at` of `data`; false when it
// does not fit before `end` or the content runs past `end` (definite
// lengths of at most four octets only).
bool ReadDerHeader(const unsigned char* data, size_t at, size_t end, DerHeader* header);
