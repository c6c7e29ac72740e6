// Hostile input files made from good ones: a small deterministic random
// source, a reader of the DER structure of a file, and mutations that know
// that structure (tags, lengths, nesting, truncation at element boundaries)
// besides the blind ones (bit flips, inserted and deleted bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

// SplitMix64: the same seed gives the same files on every run and platform.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t Next();
    // Uniform in [0, bound); 0 when bound is 0.
    size_t Below(size_t bound);
    bool OneIn(size_t n) { return Below(n) == 0; }

private:
    uint64_t state_;
};

// One element of a DER encoding. Constructed elements, and OCTET STRINGs and
// BIT STRINGs whose content is itself whole DER, have children.
struct DerElement {
    Bytes Tag;                  // identifier octets
    Bytes Prefix;               // BIT STRING: the unused-bits octet before encapsulated DER
    Bytes Content;              // primitive content (when there are no children)
    std::vector<DerElement> Children;
    bool HasChildren = false;
    bool OverrideLength = false;
    Bytes LengthOctets;         // used instead of the true length when OverrideLength
};

// Parses `der` as a sequence of elements; false when it is no whole DER.
bool ParseDer(const Bytes& der, std::vector<DerElement>* elements);
// Encodes the elements again; each length is the true one unless overridden,
// so a changed element keeps every enclosing length consistent.
Bytes EncodeDer(const std::vector<DerElement>& elements);

// Where each element of `der` begins and ends and where its content begins:
// the boundaries at which a truncation is interesting.
struct DerBoundary {
    size_t Start;
    size_t ContentStart;
    size_t End;
};
std::vector<DerBoundary> DerBoundaries(const Bytes& der);

// The kinds of mutation, for the report.
enum class MutationKind {
    BitFlips,
    InsertBytes,
    DeleteBytes,
    TruncateAtBoundary,
    OversizedLength,
    UndersizedLength,
    HugeLength,
    OddLengthForm,
    WrongTag,
    NestedLength,
    ReplaceContent,
    DropElement,
    DuplicateElement,
    SwapElements,
    DeepNesting,
    Count
};
const char* MutationName(MutationKind kind);

// One hostile variant of the DER file `seed`.
struct Mutant {
    Bytes File;
    MutationKind Kind;
};
Mutant MutateDer(const Bytes& seed, Random& random);

// `der` as PEM text with `label`, lines of 64 characters and "\n" or "\r\n".
std::string ToPem(const Bytes& der, const char* label, bool crlf);
// Damage to PEM text: headers, line structure, the Base64 itself.
std::string DamagePem(std::string pem, Random& random);
