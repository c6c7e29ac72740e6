#include "HostileFiles.h"

#include <algorithm>
#include <iterator>

namespace {

constexpr int kMaxParseDepth = 40;

// Identifier octets worth putting where another type belongs: every
// universal type the parsers know, context tags, a high tag number and
// octets no encoder writes.
const Bytes kHostileTags[] = {
    {0x01}, {0x02}, {0x03}, {0x04}, {0x05}, {0x06}, {0x0A}, {0x0C}, {0x13}, {0x16},
    {0x17}, {0x18}, {0x1E}, {0x30}, {0x31}, {0xA0}, {0xA1}, {0xA3}, {0x80}, {0x00},
    {0x1F, 0x81, 0x00}, {0xFF}, {0x3F, 0xFF, 0xFF, 0xFF, 0x7F}, {0x24}, {0x23},
};

// Length octets that declare far more than any file holds, or use forms
// DER forbids (indefinite, reserved, more than four octets).
const Bytes kHugeLengths[] = {
    {0x84, 0xFF, 0xFF, 0xFF, 0xFF}, {0x84, 0x7F, 0xFF, 0xFF, 0xFF}, {0x84, 0x80, 0x00, 0x00, 0x00},
    {0x83, 0xFF, 0xFF, 0xFF},       {0x88, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
    {0x88, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00},
    {0x80}, {0xFF}, {0x85, 0x01, 0x00, 0x00, 0x00, 0x00}, {0x82, 0xFF, 0xFF},
};

const char* const kMutationNames[] = {
    "bit flips", "inserted bytes", "deleted bytes", "truncation at a boundary", "oversized length",
    "undersized length", "huge declared length", "non-minimal length", "wrong tag", "nested length",
    "replaced content", "dropped element", "duplicated element", "swapped elements", "deep nesting",
};
static_assert(std::size(kMutationNames) == static_cast<size_t>(MutationKind::Count), "a name per kind");

Bytes EncodeLength(size_t length) {
    if (length < 0x80)
        return {static_cast<unsigned char>(length)};
    Bytes octets;
    for (size_t rest = length; rest; rest >>= 8)
        octets.insert(octets.begin(), static_cast<unsigned char>(rest & 0xFF));
    octets.insert(octets.begin(), static_cast<unsigned char>(0x80 | octets.size()));
    return octets;
}

void Append(Bytes* out, const Bytes& more) {
    out->insert(out->end(), more.begin(), more.end());
}

// Reads one element's identifier and length at `at`; false when they are
// no DER or the content runs past `end`.
bool ReadHeader(const Bytes& der, size_t at, size_t end, size_t* tagEnd, size_t* contentStart,
                size_t* contentLength) {
    size_t p = at;
    if (p >= end)
        return false;
    if ((der[p++] & 0x1F) == 0x1F) {
        for (int i = 0;; ++i) {
            if (p >= end || i == 4)
                return false;
            if (!(der[p++] & 0x80))
                break;
        }
    }
    *tagEnd = p;
    if (p >= end)
        return false;
    const unsigned char first = der[p++];
    size_t length = first;
    if (first & 0x80) {
        const size_t octets = first & 0x7F;
        if (octets == 0 || octets > 4 || end - p < octets)
            return false;
        length = 0;
        for (size_t i = 0; i < octets; ++i)
            length = (length << 8) | der[p++];
    }
    if (end - p < length)
        return false;
    *contentStart = p;
    *contentLength = length;
    return true;
}

bool ParseRange(const Bytes& der, size_t at, size_t end, int depth, std::vector<DerElement>* elements,
                std::vector<DerBoundary>* boundaries);

// Content that is itself DER (constructed types, and strings that wrap an
// encoding) becomes children; anything else stays primitive.
void ParseContent(const Bytes& der, size_t start, size_t end, int depth, DerElement* element,
                  std::vector<DerBoundary>* boundaries) {
    const unsigned char tag = element->Tag[0];
    size_t inner = start;
    if (tag == 0x03 && end - start >= 2 && der[start] == 0)
        inner = start + 1;
    const bool mayWrap = (tag & 0x20) || tag == 0x04 || inner != start;
    const size_t mark = boundaries ? boundaries->size() : 0;
    if (mayWrap && inner < end && depth < kMaxParseDepth &&
        ParseRange(der, inner, end, depth + 1, &element->Children, boundaries)) {
        element->HasChildren = true;
        element->Prefix.assign(der.begin() + start, der.begin() + inner);
        return;
    }
    element->Children.clear();
    if (boundaries)
        boundaries->resize(mark);
    element->Content.assign(der.begin() + start, der.begin() + end);
}

bool ParseRange(const Bytes& der, size_t at, size_t end, int depth, std::vector<DerElement>* elements,
                std::vector<DerBoundary>* boundaries) {
    while (at < end) {
        size_t tagEnd = 0, contentStart = 0, contentLength = 0;
        if (!ReadHeader(der, at, end, &tagEnd, &contentStart, &contentLength))
            return false;
        DerElement element;
        element.Tag.assign(der.begin() + static_cast<ptrdiff_t>(at), der.begin() + static_cast<ptrdiff_t>(tagEnd));
        const size_t contentEnd = contentStart + contentLength;
        if (boundaries)
            boundaries->push_back({at, contentStart, contentEnd});
        ParseContent(der, contentStart, contentEnd, depth, &element, boundaries);
        elements->push_back(std::move(element));
        at = contentEnd;
    }
    return true;
}

Bytes EncodeBody(const DerElement& element) {
    Bytes body = element.Prefix;
    if (element.HasChildren)
        Append(&body, EncodeDer(element.Children));
    else
        Append(&body, element.Content);
    return body;
}

Bytes EncodeElement(const DerElement& element) {
    const Bytes body = EncodeBody(element);
    Bytes out = element.Tag;
    Append(&out, element.OverrideLength ? element.LengthOctets : EncodeLength(body.size()));
    Append(&out, body);
    return out;
}

// An element together with the list that holds it.
struct ElementPlace {
    std::vector<DerElement>* Siblings;
    size_t Index;
    DerElement& Element() const { return (*Siblings)[Index]; }
};

void CollectPlaces(std::vector<DerElement>* elements, std::vector<ElementPlace>* places) {
    for (size_t i = 0; i < elements->size(); ++i) {
        places->push_back({elements, i});
        if ((*elements)[i].HasChildren)
            CollectPlaces(&(*elements)[i].Children, places);
    }
}

void SetLength(DerElement* element, const Bytes& octets) {
    element->OverrideLength = true;
    element->LengthOctets = octets;
}

// A length in a form DER forbids: more octets than needed.
Bytes NonMinimalLength(size_t length, Random& random) {
    Bytes octets;
    for (size_t rest = length; rest; rest >>= 8)
        octets.insert(octets.begin(), static_cast<unsigned char>(rest & 0xFF));
    const size_t padding = 1 + random.Below(3);
    octets.insert(octets.begin(), padding, 0x00);
    if (octets.size() > 8)
        octets.resize(8);
    octets.insert(octets.begin(), static_cast<unsigned char>(0x80 | octets.size()));
    return octets;
}

Bytes HostileContent(const DerElement& element, Random& random) {
    const Bytes old = EncodeBody(element);
    switch (random.Below(7)) {
    case 0: return {};
    case 1: return {0x00};
    case 2: return {0xFF};
    case 3: {
        Bytes padded(1 + random.Below(8), 0x00);
        Append(&padded, old);
        return padded;
    }
    case 4: {
        Bytes noise(1 + random.Below(64));
        for (unsigned char& b : noise)
            b = static_cast<unsigned char>(random.Next());
        return noise;
    }
    case 5: return Bytes(1000 + random.Below(8000), 0xFF);
    default: {
        Bytes repeated;
        for (int i = 0; i < 16; ++i)
            Append(&repeated, old);
        return repeated;
    }
    }
}

// `inner` wrapped in `levels` SEQUENCEs, built from the outside in so that
// no encoder recursion or repeated copy is needed.
Bytes NestInSequences(const Bytes& inner, size_t levels) {
    std::vector<size_t> lengths(levels);
    size_t length = inner.size();
    for (size_t i = 0; i < levels; ++i) {
        lengths[i] = length;
        length += 1 + EncodeLength(length).size();
    }
    Bytes out;
    out.reserve(length);
    for (size_t i = levels; i-- > 0;) {
        out.push_back(0x30);
        Append(&out, EncodeLength(lengths[i]));
    }
    Append(&out, inner);
    return out;
}

// Mutations that change the bytes without regard to the structure.
void BlindMutation(MutationKind kind, Bytes* file, Random& random) {
    if (file->empty())
        file->push_back(0x30);
    switch (kind) {
    case MutationKind::BitFlips:
        for (size_t n = 1 + random.Below(8); n > 0; --n)
            (*file)[random.Below(file->size())] ^= static_cast<unsigned char>(1u << random.Below(8));
        break;
    case MutationKind::InsertBytes: {
        Bytes inserted(1 + random.Below(16));
        const unsigned char fill = random.OneIn(2) ? static_cast<unsigned char>(random.Next()) : 0;
        for (unsigned char& b : inserted)
            b = fill ? fill : static_cast<unsigned char>(random.Next());
        file->insert(file->begin() + static_cast<ptrdiff_t>(random.Below(file->size() + 1)), inserted.begin(),
                     inserted.end());
        break;
    }
    default: {  // deleted bytes
        const size_t at = random.Below(file->size());
        const size_t count = std::min(file->size() - at, 1 + random.Below(16));
        file->erase(file->begin() + static_cast<ptrdiff_t>(at), file->begin() + static_cast<ptrdiff_t>(at + count));
        break;
    }
    }
}

void TruncateAtBoundary(Bytes* file, Random& random) {
    const std::vector<DerBoundary> boundaries = DerBoundaries(*file);
    if (boundaries.empty()) {
        file->resize(random.Below(file->size() + 1));
        return;
    }
    const DerBoundary& b = boundaries[random.Below(boundaries.size())];
    const size_t cuts[] = {b.Start, b.Start + 1, b.ContentStart - 1, b.ContentStart,
                           b.ContentStart + (b.End - b.ContentStart) / 2, b.End - 1, b.End};
    size_t cut = cuts[random.Below(std::size(cuts))];
    if (cut >= file->size())
        cut = file->size() - 1;  // a file cut at its own end would be unchanged
    file->resize(cut);
}

// Mutations that work on the parsed elements; the enclosing lengths follow
// unless the mutation is about a length.
bool StructuralMutation(MutationKind kind, std::vector<DerElement>* elements, Random& random) {
    std::vector<ElementPlace> places;
    CollectPlaces(elements, &places);
    if (places.empty())
        return false;
    const ElementPlace place = places[random.Below(places.size())];
    DerElement& element = place.Element();
    const size_t bodySize = EncodeBody(element).size();
    switch (kind) {
    case MutationKind::OversizedLength:
        SetLength(&element, EncodeLength(bodySize + 1 + random.Below(300)));
        return true;
    case MutationKind::UndersizedLength:
        if (bodySize == 0)
            return false;
        SetLength(&element, EncodeLength(bodySize - 1 - random.Below(std::min<size_t>(bodySize, 300))));
        return true;
    case MutationKind::HugeLength:
        SetLength(&element, kHugeLengths[random.Below(std::size(kHugeLengths))]);
        return true;
    case MutationKind::OddLengthForm:
        SetLength(&element, NonMinimalLength(bodySize, random));
        return true;
    case MutationKind::WrongTag:
        element.Tag = kHostileTags[random.Below(std::size(kHostileTags))];
        return true;
    case MutationKind::NestedLength: {
        if (!element.HasChildren || element.Children.empty())
            return false;
        if (random.OneIn(2)) {  // a child that claims more than its parent holds
            DerElement& child = element.Children[random.Below(element.Children.size())];
            SetLength(&child, EncodeLength(bodySize + 1 + random.Below(64)));
        } else {  // a parent that ends inside its first child
            const size_t first = EncodeElement(element.Children[0]).size();
            SetLength(&element, EncodeLength(first > 1 ? first - 1 - random.Below(first - 1) : 0));
        }
        return true;
    }
    case MutationKind::ReplaceContent:
        element.Content = HostileContent(element, random);
        element.Children.clear();
        element.Prefix.clear();
        element.HasChildren = false;
        return true;
    case MutationKind::DropElement:
        place.Siblings->erase(place.Siblings->begin() + static_cast<ptrdiff_t>(place.Index));
        return true;
    case MutationKind::DuplicateElement: {
        const DerElement copy = element;
        place.Siblings->insert(place.Siblings->begin() + static_cast<ptrdiff_t>(place.Index),
                               random.OneIn(4) ? 200 : 1, copy);
        return true;
    }
    case MutationKind::SwapElements: {
        if (place.Siblings->size() < 2)
            return false;
        const size_t other = random.Below(place.Siblings->size());
        std::swap((*place.Siblings)[place.Index], (*place.Siblings)[other]);
        return true;
    }
    case MutationKind::DeepNesting: {
        static const size_t kLevels[] = {64, 1000, 20000};
        const Bytes nested = NestInSequences(EncodeElement(element), kLevels[random.Below(std::size(kLevels))]);
        DerElement wrapper;
        wrapper.Tag = {nested[0]};
        size_t tagEnd = 0, contentStart = 0, contentLength = 0;
        ReadHeader(nested, 0, nested.size(), &tagEnd, &contentStart, &contentLength);
        wrapper.Content.assign(nested.begin() + static_cast<ptrdiff_t>(contentStart), nested.end());
        element = wrapper;
        return true;
    }
    default:
        return false;
    }
}

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(const Bytes& data) {
    std::string text;
    for (size_t i = 0; i < data.size(); i += 3) {
        const uint32_t chunk = (data[i] << 16) | (i + 1 < data.size() ? data[i + 1] << 8 : 0) |
                               (i + 2 < data.size() ? data[i + 2] : 0);
        text += kBase64[(chunk >> 18) & 63];
        text += kBase64[(chunk >> 12) & 63];
        text += i + 1 < data.size() ? kBase64[(chunk >> 6) & 63] : '=';
        text += i + 2 < data.size() ? kBase64[chunk & 63] : '=';
    }
    return text;
}

size_t RandomPlace(const std::string& text, Random& random) {
    return random.Below(text.size() + 1);
}

}  // namespace

uint64_t Random::Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

size_t Random::Below(size_t bound) {
    return bound ? static_cast<size_t>(Next() % bound) : 0;
}

bool ParseDer(const Bytes& der, std::vector<DerElement>* elements) {
    elements->clear();
    return !der.empty() && ParseRange(der, 0, der.size(), 0, elements, nullptr);
}

Bytes EncodeDer(const std::vector<DerElement>& elements) {
    Bytes out;
    for (const DerElement& element : elements)
        Append(&out, EncodeElement(element));
    return out;
}

std::vector<DerBoundary> DerBoundaries(const Bytes& der) {
    std::vector<DerBoundary> boundaries;
    std::vector<DerElement> elements;
    if (der.empty() || !ParseRange(der, 0, der.size(), 0, &elements, &boundaries))
        boundaries.clear();
    return boundaries;
}

const char* MutationName(MutationKind kind) {
    return kMutationNames[static_cast<size_t>(kind)];
}

Mutant MutateDer(const Bytes& seed, Random& random) {
    Mutant mutant{seed, static_cast<MutationKind>(random.Below(static_cast<size_t>(MutationKind::Count)))};
    // A quarter of the files get a second mutation on top of the first.
    const int rounds = random.OneIn(4) ? 2 : 1;
    for (int round = 0; round < rounds; ++round) {
        const MutationKind kind =
            round == 0 ? mutant.Kind : static_cast<MutationKind>(random.Below(static_cast<size_t>(MutationKind::Count)));
        std::vector<DerElement> elements;
        if (kind == MutationKind::TruncateAtBoundary) {
            TruncateAtBoundary(&mutant.File, random);
        } else if (kind >= MutationKind::OversizedLength && ParseDer(mutant.File, &elements) &&
                   StructuralMutation(kind, &elements, random)) {
            mutant.File = EncodeDer(elements);
        } else {
            BlindMutation(kind < MutationKind::OversizedLength ? kind : MutationKind::BitFlips, &mutant.File, random);
        }
    }
    return mutant;
}

std::string ToPem(const Bytes& der, const char* label, bool crlf) {
    const char* newline = crlf ? "\r\n" : "\n";
    const std::string body = Base64(der);
    std::string pem = std::string("-----BEGIN ") + label + "-----" + newline;
    for (size_t i = 0; i < body.size(); i += 64)
        pem += body.substr(i, 64) + newline;
    return pem + "-----END " + label + "-----" + newline;
}

std::string DamagePem(std::string pem, Random& random) {
    const size_t begin = pem.find("-----BEGIN");
    const size_t end = pem.find("-----END");
    const size_t bodyStart = pem.find('\n', begin) + 1;
    switch (random.Below(14)) {
    case 0: return pem;  // only the DER inside is damaged
    case 1: return pem.substr(0, end);
    case 2: return pem.substr(bodyStart);
    case 3: {
        static const char* const kLabels[] = {"PRIVATE KEY", "PKCS7", "X509 CERTIFICATE", "TRUSTED CERTIFICATE",
                                              "CERTIFICATE REQUEST", "", "CERTIFICATE\x01"};
        const std::string label = kLabels[random.Below(std::size(kLabels))];
        return "-----BEGIN " + label + "-----" + pem.substr(pem.find('\n', begin));
    }
    case 4: {
        static const char kInvalid[] = {'!', '*', '#', '\0', '\xFF', '\x80', '.', '=', '-', ' '};
        for (size_t n = 1 + random.Below(4); n > 0; --n)
            pem[bodyStart + random.Below(end - bodyStart)] = kInvalid[random.Below(sizeof kInvalid)];
        return pem;
    }
    case 5: {
        std::string joined;
        for (size_t i = bodyStart; i < end; ++i)
            if (pem[i] != '\r' && pem[i] != '\n')
                joined += pem[i];
        return pem.substr(0, bodyStart) + joined + "\n" + pem.substr(end);
    }
    case 6: {
        std::string noise(1 + random.Below(200), ' ');
        for (char& c : noise)
            c = static_cast<char>(random.Next());
        return random.OneIn(2) ? noise + pem : pem + noise;
    }
    case 7: return pem.substr(0, RandomPlace(pem, random));
    case 8: return pem + pem.substr(0, end);  // a second BEGIN before the first END is read
    case 9: return pem.substr(0, bodyStart) + "Proc-Type: 4,ENCRYPTED\nDEK-Info: DES-EDE3-CBC,00\n\n" +
                   pem.substr(bodyStart);
    case 10: {
        std::string body = pem.substr(bodyStart, end - bodyStart);
        std::string repeated;
        for (int i = 0; i < 200; ++i)
            repeated += body;
        return pem.substr(0, bodyStart) + repeated + pem.substr(end);
    }
    case 11: return pem.substr(0, end) + "-----END PRIVATE KEY-----\n";
    case 12: {
        pem.insert(RandomPlace(pem, random), std::string(1 + random.Below(8), '\0'));
        return pem;
    }
    default: {
        for (size_t i = begin; i < bodyStart; ++i)
            pem[i] = static_cast<char>(tolower(static_cast<unsigned char>(pem[i])));
        return pem;
    }
    }
}
