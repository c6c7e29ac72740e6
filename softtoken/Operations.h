// The module's entry points behind the exported C_ functions, by family.
// Each is a ladder of checks in one order: initialised, session, arguments,
// token, login state, attribute policy; then it acts.
#pragma once

#include "Common.h"

namespace softtoken {
namespace ops {

// General and slot functions (GeneralOps.cpp).
CK_RV Initialize(CK_VOID_PTR args);
CK_RV Finalize(CK_VOID_PTR reserved);
CK_RV GetInfo(CK_INFO_PTR info);
CK_RV GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR list, CK_ULONG_PTR count);
CK_RV GetSlotInfo(CK_SLOT_ID slot, CK_SLOT_INFO_PTR info);
CK_RV GetTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO_PTR info);
CK_RV GetMechanismList(CK_SLOT_ID slot, CK_MECHANISM_TYPE_PTR list, CK_ULONG_PTR count);
CK_RV GetMechanismInfo(CK_SLOT_ID slot, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR info);
CK_RV WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR slot, CK_VOID_PTR reserved);
CK_RV GenerateRandom(CK_SESSION_HANDLE session, CK_BYTE_PTR data, CK_ULONG length);
CK_RV SeedRandom(CK_SESSION_HANDLE session, CK_BYTE_PTR seed, CK_ULONG length);
// The legacy parallel-function entries: a valid session gets
// CKR_FUNCTION_NOT_PARALLEL.
CK_RV GetFunctionStatus(CK_SESSION_HANDLE session);
CK_RV CancelFunction(CK_SESSION_HANDLE session);

// Sessions and login (SessionOps.cpp).
CK_RV OpenSession(CK_SLOT_ID slot, CK_FLAGS flags, CK_VOID_PTR application, CK_NOTIFY notify,
                  CK_SESSION_HANDLE_PTR session);
CK_RV CloseSession(CK_SESSION_HANDLE session);
CK_RV CloseAllSessions(CK_SLOT_ID slot);
CK_RV GetSessionInfo(CK_SESSION_HANDLE session, CK_SESSION_INFO_PTR info);
CK_RV Login(CK_SESSION_HANDLE session, CK_USER_TYPE user, CK_UTF8CHAR_PTR pin, CK_ULONG pinLen);
CK_RV Logout(CK_SESSION_HANDLE session);

// Token and PIN administration (PinOps.cpp).
CK_RV InitToken(CK_SLOT_ID slot, CK_UTF8CHAR_PTR soPin, CK_ULONG soPinLen, CK_UTF8CHAR_PTR label);
CK_RV InitPIN(CK_SESSION_HANDLE session, CK_UTF8CHAR_PTR pin, CK_ULONG pinLen);
CK_RV SetPIN(CK_SESSION_HANDLE session, CK_UTF8CHAR_PTR oldPin, CK_ULONG oldLen,
             CK_UTF8CHAR_PTR newPin, CK_ULONG newLen);
CK_RV SetUserPinPolicy(CK_SLOT_ID slot, CK_SESSION_HANDLE session, CK_ULONG level,
                       CK_ULONG maxFailed, CK_ULONG minLen, CK_ULONG maxLen);
CK_RV GetUserPinPolicy(CK_SLOT_ID slot, CK_ULONG which, CK_ULONG_PTR level, CK_ULONG_PTR maxFailed,
                       CK_ULONG_PTR minLen, CK_ULONG_PTR maxLen);

// Objects (ObjectOps.cpp, FindOps.cpp).
CK_RV CreateObject(CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR templ, CK_ULONG count,
                   CK_OBJECT_HANDLE_PTR object);
CK_RV DestroyObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object);
CK_RV GetObjectSize(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ULONG_PTR size);
CK_RV GetAttributeValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                        CK_ATTRIBUTE_PTR templ, CK_ULONG count);
CK_RV SetAttributeValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                        CK_ATTRIBUTE_PTR templ, CK_ULONG count);
CK_RV FindObjectsInit(CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR templ, CK_ULONG count);
CK_RV FindObjects(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE_PTR objects, CK_ULONG max,
                  CK_ULONG_PTR found);
CK_RV FindObjectsFinal(CK_SESSION_HANDLE session);

// Signing and key generation (SignOps.cpp, KeyGenOps.cpp).
CK_RV SignInit(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key);
CK_RV Sign(CK_SESSION_HANDLE session, CK_BYTE_PTR data, CK_ULONG dataLen, CK_BYTE_PTR signature,
           CK_ULONG_PTR signatureLen);
CK_RV SignUpdate(CK_SESSION_HANDLE session, CK_BYTE_PTR part, CK_ULONG partLen);
CK_RV SignFinal(CK_SESSION_HANDLE session, CK_BYTE_PTR signature, CK_ULONG_PTR signatureLen);
CK_RV GenerateKeyPair(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism,
                      CK_ATTRIBUTE_PTR publicTemplate, CK_ULONG publicCount,
                      CK_ATTRIBUTE_PTR privateTemplate, CK_ULONG privateCount,
                      CK_OBJECT_HANDLE_PTR publicKey, CK_OBJECT_HANDLE_PTR privateKey);

}  // namespace ops
}  // namespace softtoken
