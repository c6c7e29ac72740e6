#include "TokenData.h"

#include "Crypto.h"

namespace softtoken {
namespace {

constexpr unsigned char kMagic[4] = {'T', 'S', 'T', 'K'};
constexpr uint32_t kFormatVersion = 1;
constexpr size_t kHeaderSize = 12;   // magic, version, payload length
constexpr size_t kChecksumSize = 32;
constexpr uint32_t kMaxCount = 1u << 24;

class Writer {
public:
    void U32(uint32_t v) { Put(&v, sizeof v); }
    void U64(uint64_t v) { Put(&v, sizeof v); }
    void Blob(const Bytes& b) {
        U32(static_cast<uint32_t>(b.size()));
        Put(b.data(), b.size());
    }
    void Text(const std::string& s) { Blob(Bytes(s.begin(), s.end())); }
    void Put(const void* p, size_t n) {
        const auto* c = static_cast<const unsigned char*>(p);
        out.insert(out.end(), c, c + n);
    }
    Bytes out;
};

// Reads with bounds checks; any overrun leaves it failed for good.
class Reader {
public:
    Reader(const unsigned char* p, size_t n) : p_(p), end_(p + n) {}
    bool ok() const { return ok_; }
    bool AtEnd() const { return p_ == end_; }
    uint32_t U32() {
        uint32_t v = 0;
        Get(&v, sizeof v);
        return v;
    }
    uint64_t U64() {
        uint64_t v = 0;
        Get(&v, sizeof v);
        return v;
    }
    Bytes Blob() {
        uint32_t n = U32();
        if (!ok_ || n > static_cast<size_t>(end_ - p_)) {
            ok_ = false;
            return Bytes();
        }
        Bytes b(p_, p_ + n);
        p_ += n;
        return b;
    }
    std::string Text() {
        Bytes b = Blob();
        return std::string(b.begin(), b.end());
    }

    void Get(void* v, size_t n) {
        if (!ok_ || n > static_cast<size_t>(end_ - p_)) {
            ok_ = false;
            return;
        }
        memcpy(v, p_, n);
        p_ += n;
    }

private:
    const unsigned char* p_;
    const unsigned char* end_;
    bool ok_ = true;
};

void WritePin(Writer& w, const PinRecord& pin) {
    w.Blob(pin.salt);
    w.Blob(pin.hash);
    w.U32(pin.iterations);
}

PinRecord ReadPin(Reader& r) {
    PinRecord pin;
    pin.salt = r.Blob();
    pin.hash = r.Blob();
    pin.iterations = r.U32();
    return pin;
}

void WriteObjects(Writer& w, const std::vector<ObjectPtr>& objects) {
    w.U32(static_cast<uint32_t>(objects.size()));
    for (const ObjectPtr& object : objects) {
        w.U32(object->storedId);
        w.U32(static_cast<uint32_t>(object->attributes.size()));
        for (const auto& attribute : object->attributes) {
            w.U32(attribute.first);
            w.Blob(attribute.second);
        }
    }
}

bool ReadObjects(Reader& r, std::vector<ObjectPtr>* objects) {
    const uint32_t count = r.U32();
    if (count > kMaxCount)
        return false;
    for (uint32_t i = 0; i < count && r.ok(); ++i) {
        auto object = std::make_shared<Object>();
        object->storedId = r.U32();
        const uint32_t attributes = r.U32();
        if (attributes > kMaxCount)
            return false;
        for (uint32_t j = 0; j < attributes && r.ok(); ++j) {
            const CK_ATTRIBUTE_TYPE type = r.U32();
            object->attributes[type] = r.Blob();
        }
        object->attributes.shrink_to_fit();
        objects->push_back(object);
    }
    return r.ok();
}

Bytes EncodePayload(const TokenData& d) {
    Writer w;
    w.U64(d.instance);
    w.U64(d.generation);
    for (const std::string* text : {&d.label, &d.manufacturer, &d.model, &d.serial})
        w.Text(*text);
    w.Put(&d.hardware, sizeof d.hardware);
    w.Put(&d.firmware, sizeof d.firmware);
    w.U32(d.capacity);
    WritePin(w, d.soPin);
    WritePin(w, d.userPin);
    w.U32(d.soFailed);
    w.U32(d.userFailed);
    for (CK_ULONG value : {d.policy.level, d.policy.maxFailed, d.policy.minLength, d.policy.maxLength})
        w.U32(value);
    w.U32(d.nextObjectId);
    WriteObjects(w, d.objects);
    return w.out;
}

bool DecodePayload(Reader& r, TokenData* d) {
    d->instance = r.U64();
    d->generation = r.U64();
    for (std::string* text : {&d->label, &d->manufacturer, &d->model, &d->serial})
        *text = r.Text();
    r.Get(&d->hardware, sizeof d->hardware);
    r.Get(&d->firmware, sizeof d->firmware);
    d->capacity = r.U32();
    d->soPin = ReadPin(r);
    d->userPin = ReadPin(r);
    d->soFailed = r.U32();
    d->userFailed = r.U32();
    for (CK_ULONG* value : {&d->policy.level, &d->policy.maxFailed, &d->policy.minLength,
                            &d->policy.maxLength})
        *value = r.U32();
    d->nextObjectId = r.U32();
    return ReadObjects(r, &d->objects) && r.AtEnd();
}

// Values this token never writes are damage as much as a bad checksum:
// a PIN record it could not have made, or a policy its setter refuses.
bool HoldsSoundValues(const TokenData& d) {
    return IsSoundPinRecord(d.soPin) && IsSoundPinRecord(d.userPin) && CheckPolicyValues(d.policy) == CKR_OK;
}

}  // namespace

Bytes EncodeToken(const TokenData& data) {
    const Bytes payload = EncodePayload(data);
    Writer w;
    w.Put(kMagic, sizeof kMagic);
    w.U32(kFormatVersion);
    w.U32(static_cast<uint32_t>(payload.size()));
    w.Put(payload.data(), payload.size());
    Bytes checksum;
    crypto::Hash(crypto::HashAlg::Sha256, w.out.data(), w.out.size(), &checksum);
    w.Put(checksum.data(), checksum.size());
    return w.out;
}


bool DecodeToken(const Bytes& file, TokenData* data) {
    if (file.size() < kHeaderSize + kChecksumSize || memcmp(file.data(), kMagic, sizeof kMagic) != 0)
        return false;
    Reader header(file.data() + sizeof kMagic, kHeaderSize - sizeof kMagic);
    const uint32_t version = header.U32();
    const uint32_t payloadLength = header.U32();
    if (version != kFormatVersion || file.size() != kHeaderSize + payloadLength + kChecksumSize)
        return false;
    Bytes checksum;
    const size_t covered = kHeaderSize + payloadLength;
    if (!crypto::Hash(crypto::HashAlg::Sha256, file.data(), covered, &checksum) ||
        !crypto::ConstantTimeEqual(checksum, Bytes(file.begin() + covered, file.end())))
        return false;
    Reader payload(file.data() + kHeaderSize, payloadLength);
    TokenData decoded;
    if (!DecodePayload(payload, &decoded) || !HoldsSoundValues(decoded))
        return false;
    *data = std::move(decoded);
    return true;
}

}  // namespace softtoken
