#include "KeyPair.h"

#include "Crypto.h"
#include "Mechanisms.h"
#include "ObjectFactory.h"

namespace softtoken {
namespace {

const Bytes kF4 = {0x01, 0x00, 0x01};

// Key material comes from the generator, never from a template.
const CK_ATTRIBUTE_TYPE kMaterial[] = {CKA_MODULUS, CKA_PRIVATE_EXPONENT, CKA_PRIME_1,
                                       CKA_PRIME_2, CKA_EXPONENT_1, CKA_EXPONENT_2,
                                       CKA_COEFFICIENT};

CK_RV Pin(AttributeMap* given, CK_ATTRIBUTE_TYPE type, CK_ULONG value) {
    const Bytes wanted = UlongBytes(value);
    auto it = given->find(type);
    if (it != given->end() && it->second != wanted)
        return CKR_TEMPLATE_INCONSISTENT;
    (*given)[type] = wanted;
    return CKR_OK;
}

Bytes Trimmed(const Bytes& number) {
    size_t i = 0;
    while (i + 1 < number.size() && number[i] == 0)
        ++i;
    return Bytes(number.begin() + i, number.end());
}

void AddMaterial(const crypto::RsaKeyParts& key, AttributeMap* publicGiven, AttributeMap* privateGiven) {
    (*publicGiven)[CKA_MODULUS] = key.modulus;
    (*publicGiven)[CKA_PUBLIC_EXPONENT] = key.publicExponent;
    AttributeMap& p = *privateGiven;
    p[CKA_MODULUS] = key.modulus;
    p[CKA_PUBLIC_EXPONENT] = key.publicExponent;
    p[CKA_PRIVATE_EXPONENT] = key.privateExponent;
    p[CKA_PRIME_1] = key.prime1;
    p[CKA_PRIME_2] = key.prime2;
    p[CKA_EXPONENT_1] = key.exponent1;
    p[CKA_EXPONENT_2] = key.exponent2;
    p[CKA_COEFFICIENT] = key.coefficient;
}

}  // namespace

CK_RV PrepareRsaTemplates(AttributeMap* publicGiven, AttributeMap* privateGiven, CK_ULONG* bits) {
    CK_RV rv = CKR_OK;
    if ((rv = Pin(publicGiven, CKA_CLASS, CKO_PUBLIC_KEY)) != CKR_OK ||
        (rv = Pin(publicGiven, CKA_KEY_TYPE, CKK_RSA)) != CKR_OK ||
        (rv = Pin(privateGiven, CKA_CLASS, CKO_PRIVATE_KEY)) != CKR_OK ||
        (rv = Pin(privateGiven, CKA_KEY_TYPE, CKK_RSA)) != CKR_OK)
        return rv;
    for (CK_ATTRIBUTE_TYPE type : kMaterial)
        if (publicGiven->count(type) || privateGiven->count(type))
            return CKR_TEMPLATE_INCONSISTENT;
    if (privateGiven->count(CKA_PUBLIC_EXPONENT))
        return CKR_TEMPLATE_INCONSISTENT;
    auto size = publicGiven->find(CKA_MODULUS_BITS);
    if (size == publicGiven->end())
        return CKR_TEMPLATE_INCOMPLETE;
    memcpy(bits, size->second.data(), sizeof *bits);
    if (*bits < kRsaMinBits || *bits > kRsaMaxBits || *bits % 64 != 0)
        return CKR_KEY_SIZE_RANGE;
    auto exponent = publicGiven->find(CKA_PUBLIC_EXPONENT);
    if (exponent != publicGiven->end() && Trimmed(exponent->second) != kF4)
        return CKR_TEMPLATE_INCONSISTENT;
    // A dry run with stand-in material finds template faults before the
    // key is made.
    crypto::RsaKeyParts standIn;
    standIn.modulus.assign(*bits / 8, 0xff);
    standIn.publicExponent = kF4;
    standIn.privateExponent = standIn.prime1 = standIn.prime2 = Bytes{1};
    standIn.exponent1 = standIn.exponent2 = standIn.coefficient = Bytes{1};
    AttributeMap publicTrial = *publicGiven, privateTrial = *privateGiven, built;
    AddMaterial(standIn, &publicTrial, &privateTrial);
    if ((rv = BuildObject(publicTrial, Origin::Generate, &built)) != CKR_OK)
        return rv;
    return BuildObject(privateTrial, Origin::Generate, &built);
}

CK_RV MakeRsaKeyPair(const AttributeMap& publicGiven, const AttributeMap& privateGiven,
                     CK_ULONG bits, AttributeMap* publicKey, AttributeMap* privateKey) {
    crypto::RsaKeyParts key;
    CK_RV rv = crypto::GenerateRsa(bits, kF4, &key);
    if (rv != CKR_OK)
        return rv;
    AttributeMap publicAll = publicGiven, privateAll = privateGiven;
    AddMaterial(key, &publicAll, &privateAll);
    rv = BuildObject(publicAll, Origin::Generate, publicKey);
    if (rv == CKR_OK)
        rv = BuildObject(privateAll, Origin::Generate, privateKey);
    // The working copy of the private key goes, whether the key was made or not.
    for (auto& entry : privateAll)
        Wipe(entry.second);
    if (rv != CKR_OK)
        return rv;
    for (AttributeMap* made : {publicKey, privateKey})
        (*made)[CKA_KEY_GEN_MECHANISM] = UlongBytes(CKM_RSA_PKCS_KEY_PAIR_GEN);
    return CKR_OK;
}

}  // namespace softtoken
