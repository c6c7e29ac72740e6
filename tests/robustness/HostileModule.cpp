#include "HostileModule.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include <windows.h>

#include "app/AppState.h"
#include "cryptoki/ModuleLoader.h"

namespace {

// Handles of the endless search start here.
constexpr CK_OBJECT_HANDLE kEndlessHandleBase = 0x100000;

std::mutex g_lock;  // the listing worker calls beside the test's thread
HostileScript g_script;
VendorFunctionList* g_real = nullptr;
VendorFunctionList g_hostile;
std::vector<std::string> g_calls;
long g_callCount = 0;
size_t g_searchCursor = 0;
unsigned long g_handlesFound = 0;

// Counts the call; CKR_OK when it is to go ahead, else the scripted failure.
CK_RV CountCall(const std::string& name) {
    std::function<void()> action;
    CK_RV rv = CKR_OK;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        g_calls.push_back(name);
        ++g_callCount;
        if (g_callCount == g_script.actionCall)
            action = g_script.action;
        if (g_callCount == g_script.failCall)
            rv = g_script.failRv;
    }
    if (action)
        action();
    return rv;
}

void FillField(unsigned char* field, size_t size) {
    memset(field, g_script.tokenFieldByte, size);
}

CK_RV HostileGetSlotList(CK_BBOOL present, CK_SLOT_ID_PTR list, CK_ULONG_PTR count) {
    CK_RV rv = CountCall("C_GetSlotList");
    if (rv != CKR_OK || !g_script.scriptSlots)
        return rv != CKR_OK ? rv : g_real->C_GetSlotList(present, list, count);
    if (!present) {
        *count = g_script.slotCount;
        return CKR_OK;
    }
    for (CK_ULONG i = 0; list && i < g_script.tokenSlots.size() && i < *count; ++i)
        list[i] = g_script.tokenSlots[i];
    *count = g_script.tokenCountAnswer;
    return CKR_OK;
}

CK_RV HostileGetTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO_PTR info) {
    CK_RV rv = CountCall("C_GetTokenInfo");
    if (rv != CKR_OK || !g_script.hostileTokenInfo)
        return rv != CKR_OK ? rv : g_real->C_GetTokenInfo(slot, info);
    memset(info, 0, sizeof *info);
    FillField(info->label, sizeof info->label);
    FillField(info->manufacturerID, sizeof info->manufacturerID);
    FillField(info->model, sizeof info->model);
    FillField(info->serialNumber, sizeof info->serialNumber);
    FillField(info->utcTime, sizeof info->utcTime);
    info->flags = CKF_TOKEN_INITIALIZED | CKF_USER_PIN_INITIALIZED | CKF_LOGIN_REQUIRED;
    info->hardwareVersion = {255, 255};
    info->firmwareVersion = {255, 255};
    return CKR_OK;
}

CK_RV HostileOpenSession(CK_SLOT_ID slot, CK_FLAGS flags, void* application, CK_NOTIFY notify,
                         CK_SESSION_HANDLE_PTR session) {
    CK_RV rv = CountCall("C_OpenSession");
    if (rv != CKR_OK)
        return rv;
    if (g_script.hostileTokenInfo)
        slot = 0;  // the token the test put in the store
    return g_real->C_OpenSession(slot, flags, application, notify, session);
}

CK_RV HostileGetSessionInfo(CK_SESSION_HANDLE session, CK_SESSION_INFO_PTR info) {
    CK_RV rv = CountCall("C_GetSessionInfo");
    return rv != CKR_OK ? rv : g_real->C_GetSessionInfo(session, info);
}

CK_RV HostileFindObjectsInit(CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR pattern, CK_ULONG count) {
    CK_RV rv = CountCall("C_FindObjectsInit");
    if (rv != CKR_OK || !g_script.scriptObjects)
        return rv != CKR_OK ? rv : g_real->C_FindObjectsInit(session, pattern, count);
    std::lock_guard<std::mutex> lock(g_lock);
    g_searchCursor = 0;
    return CKR_OK;
}

CK_RV HostileFindObjects(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE_PTR handles, CK_ULONG room,
                         CK_ULONG_PTR found) {
    CK_RV rv = CountCall("C_FindObjects");
    if (rv != CKR_OK || !g_script.scriptObjects)
        return rv != CKR_OK ? rv : g_real->C_FindObjects(session, handles, room, found);
    std::lock_guard<std::mutex> lock(g_lock);
    *found = 0;
    while (*found < room) {
        if (g_searchCursor < g_script.objects.size())
            handles[*found] = g_script.objects[g_searchCursor].handle;
        else if (g_script.endlessSearch)
            handles[*found] = kEndlessHandleBase + g_searchCursor;
        else
            break;
        ++g_searchCursor;
        ++*found;
        ++g_handlesFound;
    }
    return CKR_OK;
}

CK_RV HostileFindObjectsFinal(CK_SESSION_HANDLE session) {
    CK_RV rv = CountCall("C_FindObjectsFinal");
    if (rv != CKR_OK || !g_script.scriptObjects)
        return rv != CKR_OK ? rv : g_real->C_FindObjectsFinal(session);
    return CKR_OK;
}

const HostileObject* FindObject(CK_OBJECT_HANDLE handle) {
    static const HostileObject endless = DataObject(0, "endless");
    for (const HostileObject& object : g_script.objects)
        if (object.handle == handle)
            return &object;
    return g_script.endlessSearch && handle >= kEndlessHandleBase ? &endless : nullptr;
}

// One attribute answered as the standard says, or as a careless module
// does when asked to overstate.
CK_RV AnswerAttribute(const HostileObject& object, CK_ATTRIBUTE* attribute) {
    if (object.unavailable.count(attribute->type)) {
        attribute->ulValueLen = CK_UNAVAILABLE_INFORMATION;
        return CKR_OK;
    }
    auto value = object.values.find(attribute->type);
    if (value == object.values.end()) {
        attribute->ulValueLen = CK_UNAVAILABLE_INFORMATION;
        return CKR_ATTRIBUTE_TYPE_INVALID;
    }
    const AttributeBytes& bytes = value->second;
    if (!attribute->pValue) {
        auto claimed = object.claimedLength.find(attribute->type);
        attribute->ulValueLen = claimed == object.claimedLength.end() ? bytes.size() : claimed->second;
        return CKR_OK;
    }
    if (attribute->ulValueLen < bytes.size()) {
        if (!g_script.overstateLengths) {
            attribute->ulValueLen = CK_UNAVAILABLE_INFORMATION;
            return CKR_BUFFER_TOO_SMALL;
        }
        memcpy(attribute->pValue, bytes.data(), attribute->ulValueLen);
        attribute->ulValueLen = bytes.size();
        return CKR_OK;
    }
    if (!bytes.empty())
        memcpy(attribute->pValue, bytes.data(), bytes.size());
    attribute->ulValueLen = bytes.size();
    return CKR_OK;
}

CK_RV HostileGetAttributeValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle, CK_ATTRIBUTE_PTR attributes,
                               CK_ULONG count) {
    char name[48];
    snprintf(name, sizeof name, "C_GetAttributeValue:%lx", count ? static_cast<unsigned long>(attributes[0].type) : 0ul);
    CK_RV rv = CountCall(name);
    if (rv != CKR_OK || !g_script.scriptObjects)
        return rv != CKR_OK ? rv : g_real->C_GetAttributeValue(session, handle, attributes, count);
    const HostileObject* object = FindObject(handle);
    if (!object)
        return CKR_OBJECT_HANDLE_INVALID;
    // The worst failure of the template is the answer, as modules do.
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_RV one = AnswerAttribute(*object, &attributes[i]);
        if (one != CKR_OK && (rv == CKR_OK || rv == CKR_ATTRIBUTE_TYPE_INVALID))
            rv = one;
    }
    return rv;
}

// The blocking wait answers the queued events, then polls the software
// token, so that events can be queued while the monitor waits.
CK_RV HostileWaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR slot, void* reserved) {
    if (flags & CKF_DONT_BLOCK)
        return g_real->C_WaitForSlotEvent(flags, slot, reserved);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(g_lock);
            if (!g_script.slotEvents.empty()) {
                *slot = g_script.slotEvents.front();
                g_script.slotEvents.erase(g_script.slotEvents.begin());
                return CKR_OK;
            }
        }
        const CK_RV rv = g_real->C_WaitForSlotEvent(CKF_DONT_BLOCK, slot, reserved);
        if (rv != CKR_NO_EVENT)
            return rv;
        Sleep(10);
    }
}

CK_RV HostileDestroyObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle) {
    CK_RV rv = CountCall("C_DestroyObject");
    return rv != CKR_OK ? rv : g_real->C_DestroyObject(session, handle);
}

CK_RV HostileCreateObject(CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR attributes, CK_ULONG count,
                          CK_OBJECT_HANDLE_PTR object) {
    CK_RV rv = CountCall("C_CreateObject");
    return rv != CKR_OK ? rv : g_real->C_CreateObject(session, attributes, count, object);
}

}  // namespace

void InstallHostileModule(const HostileScript& script) {
    if (!g_real)
        g_real = Cryptoki.FunctionList;
    g_hostile = *g_real;
    g_hostile.C_GetSlotList = HostileGetSlotList;
    g_hostile.C_GetTokenInfo = HostileGetTokenInfo;
    g_hostile.C_OpenSession = HostileOpenSession;
    g_hostile.C_GetSessionInfo = HostileGetSessionInfo;
    g_hostile.C_FindObjectsInit = HostileFindObjectsInit;
    g_hostile.C_FindObjects = HostileFindObjects;
    g_hostile.C_FindObjectsFinal = HostileFindObjectsFinal;
    g_hostile.C_GetAttributeValue = HostileGetAttributeValue;
    g_hostile.C_DestroyObject = HostileDestroyObject;
    g_hostile.C_CreateObject = HostileCreateObject;
    g_hostile.C_WaitForSlotEvent = HostileWaitForSlotEvent;
    g_script = script;
    ResetHostileCalls();
    Cryptoki.FunctionList = &g_hostile;
}

void RemoveHostileModule() {
    if (g_real && Cryptoki.FunctionList == &g_hostile)
        Cryptoki.FunctionList = g_real;
    g_real = nullptr;
    g_script = HostileScript();
}

void QueueSlotEvents(const std::vector<CK_SLOT_ID>& slots) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_script.slotEvents.insert(g_script.slotEvents.end(), slots.begin(), slots.end());
}

bool SlotEventsPending() {
    std::lock_guard<std::mutex> lock(g_lock);
    return !g_script.slotEvents.empty();
}

HostileScript& ActiveScript() {
    return g_script;
}

std::vector<std::string> HostileCallLog() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_calls;
}

void ResetHostileCalls() {
    std::lock_guard<std::mutex> lock(g_lock);
    g_calls.clear();
    g_callCount = 0;
    g_handlesFound = 0;
}

unsigned long HostileHandlesFound() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_handlesFound;
}

AttributeBytes UlongBytes(CK_ULONG value) {
    AttributeBytes bytes(sizeof value);
    memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

HostileObject DataObject(CK_OBJECT_HANDLE handle, const std::string& label) {
    HostileObject object;
    object.handle = handle;
    object.values[CKA_CLASS] = UlongBytes(CKO_DATA);
    object.values[CKA_PRIVATE] = {CK_FALSE};
    object.values[CKA_LABEL] = AttributeBytes(label.begin(), label.end());
    return object;
}
