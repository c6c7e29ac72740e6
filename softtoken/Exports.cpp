// The exported entry points: each counts the call for the fault table and
// hands it to its family in Operations.h, turning exceptions into codes.
// Entry points the token does not offer answer CKR_FUNCTION_NOT_SUPPORTED.
#include "Faults.h"
#include "Operations.h"
#include "SoftTokenControl.h"

#include <new>

using namespace softtoken;

namespace {

template <typename Body>
CK_RV Run(const char* name, const char* variant, Body body) {
    const FaultAction fault = Faults::Get().Take(name, variant);
    if (fault.removeToken)
        SoftToken_RemoveToken(fault.slot);  // as if pulled just before this call
    if (fault.answer)
        return fault.rv;
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return CKR_HOST_MEMORY;
    } catch (...) {
        return CKR_GENERAL_ERROR;
    }
}

CK_RV NotSupported(const char* name) {
    return Run(name, nullptr, [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

VendorFunctionList* FunctionList();

}  // namespace

extern "C" {
CK_RV C_Initialize(CK_VOID_PTR pInitArgs) {
    return Run("C_Initialize", nullptr, [&] { return ops::Initialize(pInitArgs); });
}
CK_RV C_Finalize(CK_VOID_PTR pReserved) {
    return Run("C_Finalize", nullptr, [&] { return ops::Finalize(pReserved); });
}
CK_RV C_GetInfo(CK_INFO_PTR pInfo) {
    return Run("C_GetInfo", nullptr, [&] { return ops::GetInfo(pInfo); });
}
CK_RV C_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount) {
    return Run("C_GetSlotList", nullptr, [&] { return ops::GetSlotList(tokenPresent, pSlotList, pulCount); });
}
CK_RV C_GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo) {
    return Run("C_GetSlotInfo", nullptr, [&] { return ops::GetSlotInfo(slotID, pInfo); });
}
CK_RV C_GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo) {
    return Run("C_GetTokenInfo", nullptr, [&] { return ops::GetTokenInfo(slotID, pInfo); });
}
CK_RV C_GetMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList, CK_ULONG_PTR pulCount) {
    return Run("C_GetMechanismList", nullptr, [&] { return ops::GetMechanismList(slotID, pMechanismList, pulCount); });
}
CK_RV C_GetMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo) {
    return Run("C_GetMechanismInfo", nullptr, [&] { return ops::GetMechanismInfo(slotID, type, pInfo); });
}
CK_RV C_InitToken(CK_SLOT_ID slotID, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen, CK_UTF8CHAR_PTR pLabel) {
    return Run("C_InitToken", nullptr, [&] { return ops::InitToken(slotID, pPin, ulPinLen, pLabel); });
}
CK_RV C_InitPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) {
    return Run("C_InitPIN", nullptr, [&] { return ops::InitPIN(hSession, pPin, ulPinLen); });
}
CK_RV C_SetPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen, CK_UTF8CHAR_PTR pNewPin, CK_ULONG ulNewLen) {
    return Run("C_SetPIN", nullptr, [&] { return ops::SetPIN(hSession, pOldPin, ulOldLen, pNewPin, ulNewLen); });
}
CK_RV C_OpenSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR pApplication, CK_NOTIFY Notify, CK_SESSION_HANDLE_PTR phSession) {
    return Run("C_OpenSession", nullptr, [&] { return ops::OpenSession(slotID, flags, pApplication, Notify, phSession); });
}
CK_RV C_CloseSession(CK_SESSION_HANDLE hSession) {
    return Run("C_CloseSession", nullptr, [&] { return ops::CloseSession(hSession); });
}
CK_RV C_CloseAllSessions(CK_SLOT_ID slotID) {
    return Run("C_CloseAllSessions", nullptr, [&] { return ops::CloseAllSessions(slotID); });
}
CK_RV C_GetSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo) {
    return Run("C_GetSessionInfo", nullptr, [&] { return ops::GetSessionInfo(hSession, pInfo); });
}
CK_RV C_GetOperationState(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR) {
    return NotSupported("C_GetOperationState");
}
CK_RV C_SetOperationState(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_OBJECT_HANDLE, CK_OBJECT_HANDLE) {
    return NotSupported("C_SetOperationState");
}
CK_RV C_Login(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) {
    return Run("C_Login", nullptr, [&] { return ops::Login(hSession, userType, pPin, ulPinLen); });
}
CK_RV C_Logout(CK_SESSION_HANDLE hSession) {
    return Run("C_Logout", nullptr, [&] { return ops::Logout(hSession); });
}
CK_RV C_CreateObject(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phObject) {
    return Run("C_CreateObject", nullptr, [&] { return ops::CreateObject(hSession, pTemplate, ulCount, phObject); });
}
CK_RV C_CopyObject(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR) {
    return NotSupported("C_CopyObject");
}
CK_RV C_DestroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject) {
    return Run("C_DestroyObject", nullptr, [&] { return ops::DestroyObject(hSession, hObject); });
}
CK_RV C_GetObjectSize(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ULONG_PTR pulSize) {
    return Run("C_GetObjectSize", nullptr, [&] { return ops::GetObjectSize(hSession, hObject, pulSize); });
}
CK_RV C_GetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) {
    return Run("C_GetAttributeValue", nullptr, [&] { return ops::GetAttributeValue(hSession, hObject, pTemplate, ulCount); });
}
CK_RV C_SetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) {
    return Run("C_SetAttributeValue", nullptr, [&] { return ops::SetAttributeValue(hSession, hObject, pTemplate, ulCount); });
}
CK_RV C_FindObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) {
    return Run("C_FindObjectsInit", nullptr, [&] { return ops::FindObjectsInit(hSession, pTemplate, ulCount); });
}
CK_RV C_FindObjects(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject, CK_ULONG ulMaxObjectCount, CK_ULONG_PTR pulObjectCount) {
    return Run("C_FindObjects", nullptr, [&] { return ops::FindObjects(hSession, phObject, ulMaxObjectCount, pulObjectCount); });
}
CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE hSession) {
    return Run("C_FindObjectsFinal", nullptr, [&] { return ops::FindObjectsFinal(hSession); });
}
CK_RV C_EncryptInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) {
    return NotSupported("C_EncryptInit");
}
CK_RV C_Encrypt(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return NotSupported("C_Encrypt");
}
CK_RV C_EncryptUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return NotSupported("C_EncryptUpdate");
}
CK_RV C_EncryptFinal(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR) {
    return NotSupported("C_EncryptFinal");
}
CK_RV C_DecryptInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) {
    return NotSupported("C_DecryptInit");
}
CK_RV C_Decrypt(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return NotSupported("C_Decrypt");
}
CK_RV C_DecryptUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return NotSupported("C_DecryptUpdate");
}
CK_RV C_DecryptFinal(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR) {
    return NotSupported("C_DecryptFinal");
}
CK_RV C_DigestInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR) {
    return NotSupported("C_DigestInit");
}
CK_RV C_Digest(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return NotSupported("C_Digest");
}
CK_RV C_DigestUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG) {
    return NotSupported("C_DigestUpdate");
}
CK_RV C_DigestKey(CK_SESSION_HANDLE, CK_OBJECT_HANDLE) {
    return NotSupported("C_DigestKey");
}
CK_RV C_DigestFinal(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR) {
    return NotSupported("C_DigestFinal");
}
CK_RV C_SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return Run("C_SignInit", nullptr, [&] { return ops::SignInit(hSession, pMechanism, hKey); });
}
CK_RV C_Sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen) {
    return Run("C_Sign", nullptr, [&] { return ops::Sign(hSession, pData, ulDataLen, pSignature, pulSignatureLen); });
}
CK_RV C_SignUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
    return Run("C_SignUpdate", nullptr, [&] { return ops::SignUpdate(hSession, pPart, ulPartLen); });
}
CK_RV C_SignFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen) {
    return Run("C_SignFinal", nullptr, [&] { return ops::SignFinal(hSession, pSignature, pulSignatureLen); });
}
CK_RV C_SignRecoverInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) {
    return NotSupported("C_SignRecoverInit");
}
CK_RV C_SignRecover(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return NotSupported("C_SignRecover");
}
CK_RV C_VerifyInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) {
    return NotSupported("C_VerifyInit");
}
CK_RV C_Verify(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG) {
    return NotSupported("C_Verify");
}
CK_RV C_VerifyUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG) {
    return NotSupported("C_VerifyUpdate");
}
CK_RV C_VerifyFinal(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG) {
    return NotSupported("C_VerifyFinal");
}
CK_RV C_VerifyRecoverInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) {
    return NotSupported("C_VerifyRecoverInit");
}
CK_RV C_VerifyRecover(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return NotSupported("C_VerifyRecover");
}
CK_RV C_DigestEncryptUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return NotSupported("C_DigestEncryptUpdate");
}
CK_RV C_DecryptDigestUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return NotSupported("C_DecryptDigestUpdate");
}
CK_RV C_SignEncryptUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return NotSupported("C_SignEncryptUpdate");
}
CK_RV C_DecryptVerifyUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return NotSupported("C_DecryptVerifyUpdate");
}
CK_RV C_GenerateKey(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR) {
    return NotSupported("C_GenerateKey");
}
CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_ATTRIBUTE_PTR pPublicKeyTemplate, CK_ULONG ulPublicKeyAttributeCount, CK_ATTRIBUTE_PTR pPrivateKeyTemplate, CK_ULONG ulPrivateKeyAttributeCount, CK_OBJECT_HANDLE_PTR phPublicKey, CK_OBJECT_HANDLE_PTR phPrivateKey) {
    return Run("C_GenerateKeyPair", nullptr, [&] { return ops::GenerateKeyPair(hSession, pMechanism, pPublicKeyTemplate, ulPublicKeyAttributeCount, pPrivateKeyTemplate, ulPrivateKeyAttributeCount, phPublicKey, phPrivateKey); });
}
CK_RV C_WrapKey(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_OBJECT_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR) {
    return NotSupported("C_WrapKey");
}
CK_RV C_UnwrapKey(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR) {
    return NotSupported("C_UnwrapKey");
}
CK_RV C_DeriveKey(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR) {
    return NotSupported("C_DeriveKey");
}
CK_RV C_GenerateRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR RandomData, CK_ULONG ulRandomLen) {
    return Run("C_GenerateRandom", nullptr, [&] { return ops::GenerateRandom(hSession, RandomData, ulRandomLen); });
}
CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList) {
    return Run("C_GetFunctionList", nullptr, [&] {
        if (!ppFunctionList)
            return CKR_ARGUMENTS_BAD;
        *ppFunctionList = FunctionList();
        return CKR_OK;
    });
}

CK_RV C_SeedRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSeed, CK_ULONG ulSeedLen) {
    return Run("C_SeedRandom", nullptr, [&] { return ops::SeedRandom(hSession, pSeed, ulSeedLen); });
}

CK_RV C_GetFunctionStatus(CK_SESSION_HANDLE hSession) {
    return Run("C_GetFunctionStatus", nullptr, [&] { return ops::GetFunctionStatus(hSession); });
}

CK_RV C_CancelFunction(CK_SESSION_HANDLE hSession) {
    return Run("C_CancelFunction", nullptr, [&] { return ops::CancelFunction(hSession); });
}

CK_RV C_WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR pSlot, CK_VOID_PTR pReserved) {
    const char* variant = (flags & CKF_DONT_BLOCK) ? "C_WaitForSlotEvent:nonblocking"
                                                   : "C_WaitForSlotEvent:blocking";
    return Run("C_WaitForSlotEvent", variant, [&] { return ops::WaitForSlotEvent(flags, pSlot, pReserved); });
}

}  // extern "C"

// The user-PIN policy entries, reached only through the function list.
static CK_RV SetUserPinPolicyEntry(CK_SLOT_ID slotID, CK_SESSION_HANDLE hSession, CK_ULONG level,
                                   CK_ULONG maxFailed, CK_ULONG minLen, CK_ULONG maxLen) {
    return Run("C_SetUserPinPolicy", nullptr,
               [&] { return ops::SetUserPinPolicy(slotID, hSession, level, maxFailed, minLen, maxLen); });
}

static CK_RV GetUserPinPolicyEntry(CK_SLOT_ID slotID, CK_ULONG which, CK_ULONG_PTR level,
                                   CK_ULONG_PTR maxFailed, CK_ULONG_PTR minLen, CK_ULONG_PTR maxLen) {
    return Run("C_GetUserPinPolicy", nullptr,
               [&] { return ops::GetUserPinPolicy(slotID, which, level, maxFailed, minLen, maxLen); });
}

namespace {

VendorFunctionList* FunctionList() {
    static VendorFunctionList list = [] {
        VendorFunctionList l = {};
        l.version = {2, 40};
        l.C_Initialize = C_Initialize;
        l.C_Finalize = C_Finalize;
        l.C_GetInfo = C_GetInfo;
        l.C_GetFunctionList = C_GetFunctionList;
        l.C_GetSlotList = C_GetSlotList;
        l.C_GetSlotInfo = C_GetSlotInfo;
        l.C_GetTokenInfo = C_GetTokenInfo;
        l.C_GetMechanismList = C_GetMechanismList;
        l.C_GetMechanismInfo = C_GetMechanismInfo;
        l.C_InitToken = C_InitToken;
        l.C_InitPIN = C_InitPIN;
        l.C_SetPIN = C_SetPIN;
        l.C_OpenSession = C_OpenSession;
        l.C_CloseSession = C_CloseSession;
        l.C_CloseAllSessions = C_CloseAllSessions;
        l.C_GetSessionInfo = C_GetSessionInfo;
        l.C_GetOperationState = C_GetOperationState;
        l.C_SetOperationState = C_SetOperationState;
        l.C_Login = C_Login;
        l.C_Logout = C_Logout;
        l.C_CreateObject = C_CreateObject;
        l.C_CopyObject = C_CopyObject;
        l.C_DestroyObject = C_DestroyObject;
        l.C_GetObjectSize = C_GetObjectSize;
        l.C_GetAttributeValue = C_GetAttributeValue;
        l.C_SetAttributeValue = C_SetAttributeValue;
        l.C_FindObjectsInit = C_FindObjectsInit;
        l.C_FindObjects = C_FindObjects;
        l.C_FindObjectsFinal = C_FindObjectsFinal;
        l.C_EncryptInit = C_EncryptInit;
        l.C_Encrypt = C_Encrypt;
        l.C_EncryptUpdate = C_EncryptUpdate;
        l.C_EncryptFinal = C_EncryptFinal;
        l.C_DecryptInit = C_DecryptInit;
        l.C_Decrypt = C_Decrypt;
        l.C_DecryptUpdate = C_DecryptUpdate;
        l.C_DecryptFinal = C_DecryptFinal;
        l.C_DigestInit = C_DigestInit;
        l.C_Digest = C_Digest;
        l.C_DigestUpdate = C_DigestUpdate;
        l.C_DigestKey = C_DigestKey;
        l.C_DigestFinal = C_DigestFinal;
        l.C_SignInit = C_SignInit;
        l.C_Sign = C_Sign;
        l.C_SignUpdate = C_SignUpdate;
        l.C_SignFinal = C_SignFinal;
        l.C_SignRecoverInit = C_SignRecoverInit;
        l.C_SignRecover = C_SignRecover;
        l.C_VerifyInit = C_VerifyInit;
        l.C_Verify = C_Verify;
        l.C_VerifyUpdate = C_VerifyUpdate;
        l.C_VerifyFinal = C_VerifyFinal;
        l.C_VerifyRecoverInit = C_VerifyRecoverInit;
        l.C_VerifyRecover = C_VerifyRecover;
        l.C_DigestEncryptUpdate = C_DigestEncryptUpdate;
        l.C_DecryptDigestUpdate = C_DecryptDigestUpdate;
        l.C_SignEncryptUpdate = C_SignEncryptUpdate;
        l.C_DecryptVerifyUpdate = C_DecryptVerifyUpdate;
        l.C_GenerateKey = C_GenerateKey;
        l.C_GenerateKeyPair = C_GenerateKeyPair;
        l.C_WrapKey = C_WrapKey;
        l.C_UnwrapKey = C_UnwrapKey;
        l.C_DeriveKey = C_DeriveKey;
        l.C_SeedRandom = C_SeedRandom;
        l.C_GenerateRandom = C_GenerateRandom;
        l.C_GetFunctionStatus = C_GetFunctionStatus;
        l.C_CancelFunction = C_CancelFunction;
        l.C_WaitForSlotEvent = C_WaitForSlotEvent;
        l.C_SetUserPinPolicy = SetUserPinPolicyEntry;
        l.C_GetUserPinPolicy = GetUserPinPolicyEntry;
        return l;
    }();
    return &list;
}

}  // namespace
