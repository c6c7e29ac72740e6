#include "cryptoki/ObjectSearch.h"

#include "cryptoki/ModuleLoader.h"

ObjectSearch::ObjectSearch(CK_SESSION_HANDLE session, CK_ATTRIBUTE* match, CK_ULONG count)
    : session_(session), initRv_(Cryptoki.FunctionList->C_FindObjectsInit(session, match, count)) {}

ObjectSearch::~ObjectSearch() {
    Cryptoki.FunctionList->C_FindObjectsFinal(session_);
}

CK_RV ObjectSearch::Next(CK_OBJECT_HANDLE* handle, bool* found) {
    CK_ULONG count = 0;
    *handle = CK_INVALID_HANDLE;
    const CK_RV rv = Cryptoki.FunctionList->C_FindObjects(session_, handle, 1, &count);
    *found = rv == CKR_OK && count > 0;
    return rv;
}
