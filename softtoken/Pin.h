// PINs: the user-PIN policy, its checks, and the salted slow hashes that
// are all the token keeps of a PIN.
#pragma once

#include "Common.h"

namespace softtoken {

// Complexity levels of the user-PIN policy.
enum PinLevel : CK_ULONG {
    kPinLevelAny = 1,          // no constraint on the characters
    kPinLevelAlnum = 2,        // letters and digits
    kPinLevelMixedCase = 3,    // lower and upper case letters and digits
    kPinLevelSymbols = 4,      // the same and symbols
};

struct PinPolicyRange {
    CK_ULONG minLevel, maxLevel;
    CK_ULONG minFailed, maxFailed;
    CK_ULONG minLength, maxLength;
};
constexpr PinPolicyRange kPolicyRange = {1, 4, 1, 15, 4, 32};

struct PinPolicy {
    CK_ULONG level = kPinLevelAny;
    CK_ULONG maxFailed = 5;
    CK_ULONG minLength = 4;
    CK_ULONG maxLength = 32;
};

// CKR_ARGUMENTS_BAD unless every value is within kPolicyRange and min <= max.
CK_RV CheckPolicyValues(const PinPolicy& policy);

// CKR_PIN_LEN_RANGE or CKR_PIN_INVALID for a new user PIN the policy refuses.
CK_RV CheckPinAgainstPolicy(const PinPolicy& policy, const CK_UTF8CHAR* pin, CK_ULONG length);

// A PIN as stored: PBKDF2-HMAC-SHA256 of the PIN with a random salt.
struct PinRecord {
    Bytes salt;
    Bytes hash;
    CK_ULONG iterations = 0;
    bool IsSet() const { return !hash.empty(); }
};

constexpr CK_ULONG kPinIterations = 2000;
constexpr size_t kPinHashSize = 32;
// The most iterations a stored PIN may ask for. A login runs them under the
// module's lock, at about 1.5 to 2.5 microseconds each under Wine: 100,000
// (fifty times the default) costs at most a quarter of a second, while a
// count of 0xFFFFFFFF would hold every thread of the program for hours.
constexpr CK_ULONG kMaxPinIterations = 100000;

// Whether a stored record is one this token could have written: unset, or a
// full-length hash made with 1 to kMaxPinIterations iterations.
bool IsSoundPinRecord(const PinRecord& record);

bool MakePinRecord(const CK_UTF8CHAR* pin, CK_ULONG length, PinRecord* record);
bool PinMatches(const PinRecord& record, const CK_UTF8CHAR* pin, CK_ULONG length);

}  // namespace softtoken
