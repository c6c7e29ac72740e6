// store_writer.exe STORE MAPPING FIRST: writes to the two tokens of the
// software-token store STORE without end, from write FIRST on, as
// StoreWritePlan.h lays down, and reports each write in the shared-memory
// block MAPPING before and after it. The store test kills it at random.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "SoftTokenControl.h"
#include "StoreWritePlan.h"

namespace {

using namespace storewrite;

CK_FUNCTION_LIST* Functions() {
    CK_FUNCTION_LIST* functions = nullptr;
    return C_GetFunctionList(&functions) == CKR_OK ? functions : nullptr;
}

CK_OBJECT_HANDLE FindByLabel(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE session, const std::string& label) {
    CK_ATTRIBUTE query = {CKA_LABEL, const_cast<char*>(label.data()), static_cast<CK_ULONG>(label.size())};
    CK_OBJECT_HANDLE object = CK_INVALID_HANDLE;
    CK_ULONG count = 0;
    if (f->C_FindObjectsInit(session, &query, 1) == CKR_OK) {
        f->C_FindObjects(session, &object, 1, &count);
        f->C_FindObjectsFinal(session);
    }
    return count == 1 ? object : CK_INVALID_HANDLE;
}

CK_RV CreateData(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE session, const std::string& label, int j) {
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    std::vector<unsigned char> value = ValueOf(j, kObjectValueSize);
    CK_ATTRIBUTE attributes[] = {
        {CKA_CLASS, &dataClass, sizeof dataClass},
        {CKA_TOKEN, &yes, sizeof yes},
        {CKA_PRIVATE, &no, sizeof no},
        {CKA_LABEL, const_cast<char*>(label.data()), static_cast<CK_ULONG>(label.size())},
        {CKA_VALUE, value.data(), static_cast<CK_ULONG>(value.size())},
    };
    CK_OBJECT_HANDLE object = 0;
    return f->C_CreateObject(session, attributes, 5, &object);
}

CK_RV Perform(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE session, const Write& write) {
    switch (write.operation) {
    case Operation::Create:
        return CreateData(f, session, write.label, write.j);
    case Operation::SetCounter: {
        std::vector<unsigned char> value = ValueOf(write.j, kCounterValueSize);
        CK_ATTRIBUTE attribute = {CKA_VALUE, value.data(), static_cast<CK_ULONG>(value.size())};
        return f->C_SetAttributeValue(session, FindByLabel(f, session, write.label), &attribute, 1);
    }
    case Operation::Destroy:
        return f->C_DestroyObject(session, FindByLabel(f, session, write.label));
    default:
        return CKR_OK;
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4)
        return 2;
    SoftToken_SetStorePath(argv[1]);
    HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, argv[2]);
    auto* progress = mapping ? static_cast<Progress*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Progress)))
                             : nullptr;
    CK_FUNCTION_LIST* f = Functions();
    if (!progress || !f || f->C_Initialize(nullptr) != CKR_OK)
        return 3;
    CK_SESSION_HANDLE sessions[kSlots] = {};
    for (int slot = 0; slot < kSlots; ++slot) {
        CK_UTF8CHAR_PTR pin = reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(kUserPin));
        if (f->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &sessions[slot]) != CKR_OK ||
            f->C_Login(sessions[slot], CKU_USER, pin, sizeof kUserPin - 1) != CKR_OK)
            return 4;
    }
    InterlockedExchange(&progress->ready, 1);
    if (HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, ReadyEventName(argv[2]).c_str())) {
        SetEvent(ready);
        CloseHandle(ready);
    }
    for (long k = wcstol(argv[3], nullptr, 10);; ++k) {
        const Write write = PlanOf(k);
        InterlockedExchange(&progress->attempted, k);
        const CK_RV rv = Perform(f, sessions[write.slot], write);
        if (rv != CKR_OK) {
            fprintf(stderr, "write %ld (%s) failed: 0x%lx\n", k, write.label.c_str(), static_cast<unsigned long>(rv));
            return 5;
        }
        InterlockedExchange(&progress->committed, k);
    }
}
