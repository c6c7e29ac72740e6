#include "Pin.h"

#include "Crypto.h"

namespace softtoken {
namespace {

struct PinClasses {
    bool lower = false, upper = false, digit = false, symbol = false;
};

PinClasses Classify(const CK_UTF8CHAR* pin, CK_ULONG length) {
    PinClasses classes;
    for (CK_ULONG i = 0; i < length; ++i) {
        const unsigned char c = pin[i];
        if (c >= 'a' && c <= 'z')
            classes.lower = true;
        else if (c >= 'A' && c <= 'Z')
            classes.upper = true;
        else if (c >= '0' && c <= '9')
            classes.digit = true;
        else
            classes.symbol = true;
    }
    return classes;
}

bool InRange(CK_ULONG value, CK_ULONG low, CK_ULONG high) {
    return value >= low && value <= high;
}

}  // namespace

CK_RV CheckPolicyValues(const PinPolicy& policy) {
    const PinPolicyRange& r = kPolicyRange;
    if (!InRange(policy.level, r.minLevel, r.maxLevel) ||
        !InRange(policy.maxFailed, r.minFailed, r.maxFailed) ||
        !InRange(policy.minLength, r.minLength, r.maxLength) ||
        !InRange(policy.maxLength, r.minLength, r.maxLength) || policy.minLength > policy.maxLength)
        return CKR_ARGUMENTS_BAD;
    return CKR_OK;
}

CK_RV CheckPinAgainstPolicy(const PinPolicy& policy, const CK_UTF8CHAR* pin, CK_ULONG length) {
    if (length < policy.minLength || length > policy.maxLength)
        return CKR_PIN_LEN_RANGE;
    const PinClasses c = Classify(pin, length);
    const bool letters = c.lower || c.upper;
    switch (policy.level) {
    case kPinLevelAlnum:
        return letters && c.digit ? CKR_OK : CKR_PIN_INVALID;
    case kPinLevelMixedCase:
        return c.lower && c.upper && c.digit ? CKR_OK : CKR_PIN_INVALID;
    case kPinLevelSymbols:
        return c.lower && c.upper && c.digit && c.symbol ? CKR_OK : CKR_PIN_INVALID;
    default:
        return CKR_OK;
    }
}

bool MakePinRecord(const CK_UTF8CHAR* pin, CK_ULONG length, PinRecord* record) {
    PinRecord made;
    made.salt.resize(16);
    made.iterations = kPinIterations;
    if (!crypto::Random(made.salt.data(), made.salt.size()) ||
        !crypto::Pbkdf2(pin, length, made.salt, made.iterations, kPinHashSize, &made.hash))
        return false;
    *record = made;
    return true;
}

bool PinMatches(const PinRecord& record, const CK_UTF8CHAR* pin, CK_ULONG length) {
    if (!record.IsSet())
        return false;
    Bytes candidate;
    bool same = crypto::Pbkdf2(pin, length, record.salt, record.iterations, record.hash.size(),
                               &candidate) &&
                crypto::ConstantTimeEqual(candidate, record.hash);
    Wipe(candidate);
    return same;
}

bool IsSoundPinRecord(const PinRecord& record) {
    if (!record.IsSet())
        return true;
    return record.hash.size() == kPinHashSize && InRange(record.iterations, 1, kMaxPinIterations);
}

}  // namespace softtoken
