// A small DER writer for the structures the platform's encoders do not
// make (the certification-request body, its attribute set, the otherName of
// a user principal name), and a reader for the one header we look into.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace softpke {

using Bytes = std::vector<unsigned char>;

namespace der {

constexpr unsigned char kInteger = 0x02;
constexpr unsigned char kNull = 0x05;
constexpr unsigned char kOid = 0x06;
constexpr unsigned char kUtf8String = 0x0C;
constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kSet = 0x31;
constexpr unsigned char kContext0 = 0xA0;  // [0], constructed

// Tag, definite length (short or long form) and content.
Bytes Tlv(unsigned char tag, const Bytes& content);
// A constructed value whose content is `parts`, one after the other.
Bytes Constructed(unsigned char tag, const std::vector<Bytes>& parts);
// A non-negative INTEGER from its big-endian magnitude (leading zero bytes
// dropped, one added where the top bit is set; an empty magnitude is 0).
Bytes UnsignedInteger(const Bytes& bigEndian);
Bytes SmallInteger(uint32_t value);
// An OBJECT IDENTIFIER from its dotted text ("1.2.840.113549.1.9.14");
// empty when the text is not a valid identifier.
Bytes Oid(const char* dotted);
Bytes Utf8String(const std::string& utf8);

// The header of the value at the start of `encoded`: its tag, the size of
// tag and length, and the content size. False when the bytes do not hold a
// whole DER value with a definite length.
struct Header {
    unsigned char tag = 0;
    size_t headerSize = 0;
    size_t contentSize = 0;
};
bool ReadHeader(const Bytes& encoded, Header* header);

// `sequence` (a whole SEQUENCE or SET) with `element` appended to its
// content; empty when `sequence` is not one whole constructed value.
Bytes AppendToConstructed(const Bytes& sequence, const Bytes& element);

}  // namespace der
}  // namespace softpke
