#include "objects/DerStructure.h"

namespace {

// Far deeper than any certificate (a name attribute sits at depth 5, an
// extension's content at depth 6), shallow enough for the stack.
constexpr int kMaxDepth = 32;
constexpr unsigned char kConstructedBit = 0x20;
constexpr unsigned char kHighTagNumber = 0x1F;
constexpr size_t kMaxTagOctets = 5;
constexpr size_t kMaxLengthOctets = 4;

// Universal tags of the primitive types whose content size DER restricts.
enum UniversalTag : unsigned char {
    kBoolean = 0x01,
    kInteger = 0x02,
    kBitString = 0x03,
    kNull = 0x05,
    kObjectIdentifier = 0x06,
    kEnumerated = 0x0A,
};

}  // namespace

bool ReadDerHeader(const unsigned char* data, size_t at, size_t end, DerHeader* header) {
    if (at >= end)
        return false;
    header->tag = data[at];
    header->constructed = (data[at] & kConstructedBit) != 0;
    size_t p = at + 1;
    if ((data[at] & kHighTagNumber) == kHighTagNumber) {
        do {
            if (p >= end || p - at >= kMaxTagOctets)
                return false;
        } while (data[p++] & 0x80);
    }
    if (p >= end)
        return false;
    const unsigned char first = data[p++];
    size_t length = first;
    if (first & 0x80) {
        const size_t octets = first & 0x7F;
        if (octets == 0 || octets > kMaxLengthOctets || end - p < octets)
            return false;  // indefinite, oversized or cut-off length
        length = 0;
        for (size_t i = 0; i < octets; ++i)
            length = (length << 8) | data[p++];
    }
    if (end - p < length)
        return false;
    header->contentStart = p;
    header->contentLength = length;
    return true;
}

namespace {

// The content of a primitive element, by the size rules of its type.
bool IsSoundPrimitive(unsigned char tag, const unsigned char* content, size_t length) {
    switch (tag) {
    case kBoolean:
        return length == 1;
    case kNull:
        return length == 0;
    case kInteger:
    case kEnumerated:
        return length >= 1;
    case kObjectIdentifier:
        return length >= 1 && !(content[length - 1] & 0x80);  // the last arc ends
    case kBitString:
        // The unused-bits octet, 0 to 7, and 0 when no bits follow.
        return length >= 1 && content[0] <= 7 && (length > 1 || content[0] == 0);
    default:
        return true;
    }
}

bool IsSoundRun(const unsigned char* data, size_t at, size_t end, int depth);

// The element at `at`, which must end by `end`; its size in `elementEnd`.
bool IsSoundElement(const unsigned char* data, size_t at, size_t end, int depth, size_t* elementEnd) {
    DerHeader header;
    if (depth > kMaxDepth || !ReadDerHeader(data, at, end, &header))
        return false;
    *elementEnd = header.contentStart + header.contentLength;
    if (!header.constructed)
        return IsSoundPrimitive(header.tag, data + header.contentStart, header.contentLength);
    return IsSoundRun(data, header.contentStart, *elementEnd, depth + 1);
}

// A run of elements that fills [at, end) exactly.
bool IsSoundRun(const unsigned char* data, size_t at, size_t end, int depth) {
    while (at < end) {
        size_t next = 0;
        if (!IsSoundElement(data, at, end, depth, &next))
            return false;
        at = next;
    }
    return true;
}

}  // namespace

bool HasSoundDerStructure(const unsigned char* data, size_t size) {
    size_t end = 0;
    return data && size > 0 && IsSoundElement(data, 0, size, 0, &end);
}
