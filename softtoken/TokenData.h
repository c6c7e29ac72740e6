// Everything a token keeps across runs, and its file format: magic,
// version, length, payload and a SHA-256 checksum over all of it.
#pragma once

#include "Common.h"
#include "Object.h"
#include "Pin.h"

namespace softtoken {

struct TokenData {
    uint64_t instance = 0;     // random, new for every token made
    uint64_t generation = 0;   // counts the saves of this token
    std::string label, manufacturer, model, serial;
    CK_VERSION hardware = {1, 0};
    CK_VERSION firmware = {1, 0};
    CK_ULONG capacity = kDefaultCapacity;
    PinRecord soPin, userPin;
    CK_ULONG soFailed = 0, userFailed = 0;
    PinPolicy policy;
    CK_ULONG nextObjectId = 1;
    std::vector<ObjectPtr> objects;

    CK_ULONG UsedMemory() const {
        CK_ULONG used = 0;
        for (const ObjectPtr& object : objects)
            used += object->Size();
        return used;
    }
    CK_ULONG FreeMemory() const {
        CK_ULONG used = UsedMemory();
        return used < capacity ? capacity - used : 0;
    }
    bool UserLocked() const { return userFailed >= policy.maxFailed; }
    bool SoLocked() const { return soFailed >= kSoMaxFailed; }
};

// The token file's bytes for `data`.
Bytes EncodeToken(const TokenData& data);

// False for anything that is not a whole, intact token file of a version
// this code reads, or that holds values this code never writes (PIN
// records and policy out of their ranges).
bool DecodeToken(const Bytes& file, TokenData* data);

}  // namespace softtoken
