// One object search on a session: C_FindObjectsInit when it starts and
// C_FindObjectsFinal exactly once when it ends, whatever happened between
// (also after a refused C_FindObjectsInit, since a module may have started
// the search all the same).
#pragma once

#include "cryptoki/Cryptoki.h"

class ObjectSearch {
public:
    // Starts the search for the objects that match `match` (`count`
    // attributes) on `session`.
    ObjectSearch(CK_SESSION_HANDLE session, CK_ATTRIBUTE* match, CK_ULONG count);
    // Ends the search: C_FindObjectsFinal.
    ~ObjectSearch();
    ObjectSearch(const ObjectSearch&) = delete;
    ObjectSearch& operator=(const ObjectSearch&) = delete;

    // C_FindObjectsInit's answer.
    CK_RV Started() const { return initRv_; }
    // The next handle, one per call; `*found` false at the end of the search.
    CK_RV Next(CK_OBJECT_HANDLE* handle, bool* found);

private:
    CK_SESSION_HANDLE session_;
    CK_RV initRv_;
};
