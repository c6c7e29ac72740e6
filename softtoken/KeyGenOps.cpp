// Key-pair generation. The key is made without the module lock, so other
// threads go on meanwhile; the session is checked again afterwards.
#include "KeyPair.h"
#include "ObjectFactory.h"
#include "Operations.h"
#include "OpsCommon.h"

namespace softtoken {
namespace ops {
namespace {

CK_RV CheckKeyPairAccess(const Session& session, const Slot& slot, const AttributeMap& publicGiven,
                         const AttributeMap& privateGiven) {
    CK_RV rv = CheckWriteAccess(session, slot, WouldBeTokenObject(publicGiven), WouldBePrivate(publicGiven));
    if (rv == CKR_OK)
        rv = CheckWriteAccess(session, slot, WouldBeTokenObject(privateGiven), WouldBePrivate(privateGiven));
    return rv;
}

}  // namespace

CK_RV GenerateKeyPair(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism,
                      CK_ATTRIBUTE_PTR publicTemplate, CK_ULONG publicCount,
                      CK_ATTRIBUTE_PTR privateTemplate, CK_ULONG privateCount,
                      CK_OBJECT_HANDLE_PTR publicKey, CK_OBJECT_HANDLE_PTR privateKey) {
    Entry entry;
    if (CK_RV rv = entry.Check())
        return rv;
    Session* session = nullptr;
    Slot* slot = nullptr;
    if (CK_RV rv = entry.module.FindSession(handle, &session, &slot))
        return rv;
    if (!mechanism || !publicKey || !privateKey || (!publicTemplate && publicCount) ||
        (!privateTemplate && privateCount))
        return CKR_ARGUMENTS_BAD;
    AttributeMap publicGiven, privateGiven;
    CK_RV rv = ParseTemplate(publicTemplate, publicCount, &publicGiven);
    if (rv == CKR_OK)
        rv = ParseTemplate(privateTemplate, privateCount, &privateGiven);
    if (rv != CKR_OK)
        return rv;
    if ((rv = entry.module.RequireToken(*slot)) != CKR_OK)
        return rv;
    if (mechanism->mechanism != CKM_RSA_PKCS_KEY_PAIR_GEN)
        return CKR_MECHANISM_INVALID;
    if (mechanism->pParameter || mechanism->ulParameterLen)
        return CKR_MECHANISM_PARAM_INVALID;
    CK_ULONG bits = 0;
    if ((rv = PrepareRsaTemplates(&publicGiven, &privateGiven, &bits)) != CKR_OK)
        return rv;
    if ((rv = CheckKeyPairAccess(*session, *slot, publicGiven, privateGiven)) != CKR_OK)
        return rv;

    std::vector<AttributeMap> keys(2);
    entry.lock.unlock();
    rv = MakeRsaKeyPair(publicGiven, privateGiven, bits, &keys[0], &keys[1]);
    entry.lock.lock();
    if (rv != CKR_OK)
        return rv;
    if ((rv = entry.Check()) != CKR_OK || (rv = entry.module.FindSession(handle, &session, &slot)) != CKR_OK)
        return rv;
    if ((rv = CheckKeyPairAccess(*session, *slot, publicGiven, privateGiven)) != CKR_OK)
        return rv;
    std::vector<CK_OBJECT_HANDLE> handles;
    if ((rv = StoreNewObjects(entry.module, session, *slot, keys, &handles)) != CKR_OK)
        return rv;
    *publicKey = handles[0];
    *privateKey = handles[1];
    return CKR_OK;
}

}  // namespace ops
}  // namespace softtoken
