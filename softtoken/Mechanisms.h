// The mechanisms the token offers, as data.
#pragma once

#include "Crypto.h"

namespace softtoken {

struct MechanismEntry {
    CK_MECHANISM_TYPE type;
    CK_ULONG minKeyBits, maxKeyBits;
    CK_FLAGS flags;
    crypto::HashAlg hash;  // the hash a signing mechanism applies first
};

constexpr CK_ULONG kRsaMinBits = 1024;
constexpr CK_ULONG kRsaMaxBits = 4096;

constexpr MechanismEntry kMechanisms[] = {
    {CKM_RSA_PKCS_KEY_PAIR_GEN, kRsaMinBits, kRsaMaxBits, CKF_HW | CKF_GENERATE_KEY_PAIR,
     crypto::HashAlg::None},
    {CKM_RSA_PKCS, kRsaMinBits, kRsaMaxBits, CKF_HW | CKF_SIGN, crypto::HashAlg::None},
    {CKM_SHA1_RSA_PKCS, kRsaMinBits, kRsaMaxBits, CKF_HW | CKF_SIGN, crypto::HashAlg::Sha1},
    {CKM_SHA256_RSA_PKCS, kRsaMinBits, kRsaMaxBits, CKF_HW | CKF_SIGN, crypto::HashAlg::Sha256},
    {CKM_SHA384_RSA_PKCS, kRsaMinBits, kRsaMaxBits, CKF_HW | CKF_SIGN, crypto::HashAlg::Sha384},
    {CKM_SHA512_RSA_PKCS, kRsaMinBits, kRsaMaxBits, CKF_HW | CKF_SIGN, crypto::HashAlg::Sha512},
};

inline const MechanismEntry* FindMechanism(CK_MECHANISM_TYPE type) {
    for (const MechanismEntry& entry : kMechanisms)
        if (entry.type == type)
            return &entry;
    return nullptr;
}

}  // namespace softtoken
