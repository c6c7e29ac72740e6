#include "Der.h"

#include <cstdlib>

namespace softpke {
namespace der {
namespace {

void AppendLength(size_t length, Bytes* out) {
    if (length < 0x80) {
        out->push_back(static_cast<unsigned char>(length));
        return;
    }
    unsigned char digits[sizeof(size_t)];
    size_t count = 0;
    for (size_t rest = length; rest; rest >>= 8)
        digits[count++] = static_cast<unsigned char>(rest & 0xFF);
    out->push_back(static_cast<unsigned char>(0x80 | count));
    while (count)
        out->push_back(digits[--count]);
}

// One arc in base 128, most significant group first, all but the last
// group with the top bit set.
void AppendArc(uint64_t arc, Bytes* out) {
    unsigned char groups[10];
    size_t count = 0;
    do {
        groups[count++] = static_cast<unsigned char>(arc & 0x7F);
        arc >>= 7;
    } while (arc);
    while (count > 1)
        out->push_back(static_cast<unsigned char>(groups[--count] | 0x80));
    out->push_back(groups[0]);
}

// Reads the decimal arcs of a dotted identifier; false on anything else
// (empty arcs, signs, blanks, a trailing dot).
bool ParseArcs(const char* dotted, std::vector<uint64_t>* arcs) {
    const char* p = dotted;
    for (;;) {
        if (*p < '0' || *p > '9')
            return false;
        char* end = nullptr;
        const unsigned long long arc = strtoull(p, &end, 10);
        if (end - p > 18)  // keeps every arc, and the first two combined, in 64 bits
            return false;
        arcs->push_back(arc);
        p = end;
        if (*p == '\0')
            return true;
        if (*p != '.')
            return false;
        ++p;
    }
}

}  // namespace

Bytes Tlv(unsigned char tag, const Bytes& content) {
    Bytes out;
    out.reserve(content.size() + 6);
    out.push_back(tag);
    AppendLength(content.size(), &out);
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes Constructed(unsigned char tag, const std::vector<Bytes>& parts) {
    Bytes content;
    for (const Bytes& part : parts)
        content.insert(content.end(), part.begin(), part.end());
    return Tlv(tag, content);
}

Bytes UnsignedInteger(const Bytes& bigEndian) {
    size_t first = 0;
    while (first < bigEndian.size() && bigEndian[first] == 0)
        ++first;
    Bytes content;
    if (first == bigEndian.size() || (bigEndian[first] & 0x80))
        content.push_back(0);
    content.insert(content.end(), bigEndian.begin() + first, bigEndian.end());
    return Tlv(kInteger, content);
}

Bytes SmallInteger(uint32_t value) {
    Bytes bigEndian;
    for (int shift = 24; shift >= 0; shift -= 8)
        bigEndian.push_back(static_cast<unsigned char>(value >> shift));
    return UnsignedInteger(bigEndian);
}

Bytes Oid(const char* dotted) {
    std::vector<uint64_t> arcs;
    if (!dotted || !ParseArcs(dotted, &arcs) || arcs.size() < 2 || arcs[0] > 2 ||
        (arcs[0] < 2 && arcs[1] > 39))
        return {};
    Bytes content;
    AppendArc(arcs[0] * 40 + arcs[1], &content);
    for (size_t i = 2; i < arcs.size(); ++i)
        AppendArc(arcs[i], &content);
    return Tlv(kOid, content);
}

Bytes Utf8String(const std::string& utf8) {
    return Tlv(kUtf8String, Bytes(utf8.begin(), utf8.end()));
}

bool ReadHeader(const Bytes& encoded, Header* header) {
    if (encoded.size() < 2)
        return false;
    header->tag = encoded[0];
    const unsigned char first = encoded[1];
    size_t length = 0;
    size_t position = 2;
    if (first < 0x80) {
        length = first;
    } else {
        const size_t digits = first & 0x7F;
        // 0x80 is the indefinite form, which DER does not allow.
        if (digits == 0 || digits > sizeof(uint32_t) || encoded.size() < 2 + digits)
            return false;
        for (size_t i = 0; i < digits; ++i)
            length = (length << 8) | encoded[position++];
    }
    if (length > encoded.size() - position)
        return false;
    header->headerSize = position;
    header->contentSize = length;
    return true;
}

Bytes AppendToConstructed(const Bytes& sequence, const Bytes& element) {
    Header header;
    if (!ReadHeader(sequence, &header) || !(header.tag & 0x20) ||
        header.headerSize + header.contentSize != sequence.size())
        return {};
    Bytes content(sequence.begin() + header.headerSize, sequence.end());
    content.insert(content.end(), element.begin(), element.end());
    return Tlv(header.tag, content);
}

}  // namespace der
}  // namespace softpke
