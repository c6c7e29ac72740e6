// Signing with RSA private keys, in one part or several.
#include "Mechanisms.h"
#include "Operations.h"
#include "OpsCommon.h"

namespace softtoken {
namespace ops {
namespace {

CK_RV SignerFor(const Object& key, std::shared_ptr<crypto::RsaSigner>* signer) {
    if (key.signer) {
        *signer = key.signer;
        return CKR_OK;
    }
    crypto::RsaKeyParts parts;
    parts.modulus = key.Value(CKA_MODULUS);
    parts.publicExponent = key.Value(CKA_PUBLIC_EXPONENT);
    parts.prime1 = key.Value(CKA_PRIME_1);
    parts.prime2 = key.Value(CKA_PRIME_2);
    CK_RV rv = crypto::RsaSigner::Create(parts, signer);
    if (rv == CKR_OK)
        key.signer = *signer;
    return rv;
}

CK_RV CheckSigningKey(const Object& key) {
    if (key.Class() != CKO_PRIVATE_KEY || key.Ulong(CKA_KEY_TYPE) != CKK_RSA)
        return CKR_KEY_TYPE_INCONSISTENT;
    if (!key.Bool(CKA_SIGN))
        return CKR_KEY_FUNCTION_NOT_PERMITTED;
    return CKR_OK;
}

// Answers a length query or a short buffer without ending the operation;
// otherwise signs and ends it, whatever the outcome.
CK_RV FinishSignature(Session& session, const Bytes* data, CK_BYTE_PTR signature,
                      CK_ULONG_PTR signatureLen) {
    SignOperation& op = session.sign;
    std::shared_ptr<crypto::RsaSigner> signer;
    CK_RV rv = SignerFor(*op.key, &signer);
    if (rv != CKR_OK) {
        session.sign = SignOperation();
        return rv;
    }
    const CK_ULONG size = static_cast<CK_ULONG>(signer->ModulusBytes());
    if (!signature) {
        *signatureLen = size;
        return CKR_OK;
    }
    if (*signatureLen < size) {
        *signatureLen = size;
        return CKR_BUFFER_TOO_SMALL;
    }
    Bytes result;
    if (op.hash == crypto::HashAlg::None) {
        rv = signer->SignRaw(data ? *data : op.data, &result);
    } else {
        Bytes digest;
        bool hashed = data ? crypto::Hash(op.hash, data->data(), data->size(), &digest)
                           : op.hasher->Finish(&digest);
        rv = hashed ? signer->SignDigest(op.hash, digest, &result) : CKR_FUNCTION_FAILED;
    }
    session.sign = SignOperation();
    if (rv != CKR_OK)
        return rv;
    memcpy(signature, result.data(), result.size());
    *signatureLen = static_cast<CK_ULONG>(result.size());
    return CKR_OK;
}

}  // namespace

CK_RV SignInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE keyHandle) {
    Entry entry;
    Session* session = nullptr;
    Slot* slot = nullptr;
    if (CK_RV rv = EnterSession(entry, handle, &session, &slot))
        return rv;
    if (!mechanism)
        return CKR_ARGUMENTS_BAD;
    if (CK_RV rv = entry.module.RequireToken(*slot))
        return rv;
    if (session->sign.active)
        return CKR_OPERATION_ACTIVE;
    const MechanismEntry* entryFor = FindMechanism(mechanism->mechanism);
    if (!entryFor || !(entryFor->flags & CKF_SIGN))
        return CKR_MECHANISM_INVALID;
    if (mechanism->pParameter || mechanism->ulParameterLen)
        return CKR_MECHANISM_PARAM_INVALID;
    ObjectPtr key = entry.module.FindObject(*slot, keyHandle);
    if (!key)
        return slot->login == LoginState::User ? CKR_KEY_HANDLE_INVALID : CKR_USER_NOT_LOGGED_IN;
    if (CK_RV rv = CheckSigningKey(*key))
        return rv;
    SignOperation op;
    op.active = true;
    op.mechanism = entryFor->type;
    op.hash = entryFor->hash;
    op.key = key;
    if (op.hash != crypto::HashAlg::None)
        op.hasher = std::make_shared<crypto::Hasher>(op.hash);
    session->sign = op;
    return CKR_OK;
}

CK_RV Sign(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG dataLen, CK_BYTE_PTR signature,
           CK_ULONG_PTR signatureLen) {
    Entry entry;
    Session* session = nullptr;
    Slot* slot = nullptr;
    if (CK_RV rv = EnterSession(entry, handle, &session, &slot))
        return rv;
    if ((!data && dataLen) || !signatureLen)
        return CKR_ARGUMENTS_BAD;
    if (!session->sign.active)
        return CKR_OPERATION_NOT_INITIALIZED;
    if (session->sign.multipart)
        return CKR_OPERATION_ACTIVE;
    const Bytes input = data ? ToBytes(data, dataLen) : Bytes();
    return FinishSignature(*session, &input, signature, signatureLen);
}

CK_RV SignUpdate(CK_SESSION_HANDLE handle, CK_BYTE_PTR part, CK_ULONG partLen) {
    Entry entry;
    Session* session = nullptr;
    Slot* slot = nullptr;
    if (CK_RV rv = EnterSession(entry, handle, &session, &slot))
        return rv;
    if (!part && partLen)
        return CKR_ARGUMENTS_BAD;
    SignOperation& op = session->sign;
    if (!op.active)
        return CKR_OPERATION_NOT_INITIALIZED;
    op.multipart = true;
    if (op.hasher) {
        if (!op.hasher->Update(part, partLen)) {
            session->sign = SignOperation();
            return CKR_FUNCTION_FAILED;
        }
    } else if (partLen) {
        op.data.insert(op.data.end(), part, part + partLen);
    }
    return CKR_OK;
}

CK_RV SignFinal(CK_SESSION_HANDLE handle, CK_BYTE_PTR signature, CK_ULONG_PTR signatureLen) {
    Entry entry;
    Session* session = nullptr;
    Slot* slot = nullptr;
    if (CK_RV rv = EnterSession(entry, handle, &session, &slot))
        return rv;
    if (!signatureLen)
        return CKR_ARGUMENTS_BAD;
    if (!session->sign.active)
        return CKR_OPERATION_NOT_INITIALIZED;
    return FinishSignature(*session, nullptr, signature, signatureLen);
}

}  // namespace ops
}  // namespace softtoken
