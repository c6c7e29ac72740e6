// RSA key pairs from templates: checks the templates before the costly
// generation, then builds both complete objects around the new key.
#pragma once

#include "Object.h"

namespace softtoken {

// Adds the class and key type to the templates (CKR_TEMPLATE_INCONSISTENT
// when they say otherwise), and checks the modulus size and exponent:
// CKR_TEMPLATE_INCOMPLETE, CKR_KEY_SIZE_RANGE, CKR_TEMPLATE_INCONSISTENT.
CK_RV PrepareRsaTemplates(AttributeMap* publicGiven, AttributeMap* privateGiven, CK_ULONG* bits);

// Generates the key and builds the public and private key objects.
CK_RV MakeRsaKeyPair(const AttributeMap& publicGiven, const AttributeMap& privateGiven,
                     CK_ULONG bits, AttributeMap* publicKey, AttributeMap* privateKey);

}  // namespace softtoken
