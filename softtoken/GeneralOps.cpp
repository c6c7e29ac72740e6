// General, slot, token-information, mechanism, event and random functions.
#include "Faults.h"
#include "Mechanisms.h"
#include "Module.h"
#include "Operations.h"
#include "OpsCommon.h"
#include "SlotEvents.h"

namespace softtoken {
namespace ops {
namespace {

constexpr char kManufacturer[] = "Tolvane SoftToken";
constexpr char kLibraryDescription[] = "Tolvane software token";
constexpr CK_VERSION kLibraryVersion = {1, 0};

// Mutex callbacks must come all together or not at all; the module locks
// with the operating system, so callbacks alone cannot be honoured.
CK_RV CheckInitializeArgs(const CK_C_INITIALIZE_ARGS* args) {
    if (!args)
        return CKR_OK;
    if (args->pReserved)
        return CKR_ARGUMENTS_BAD;
    const int given = (args->CreateMutex != nullptr) + (args->DestroyMutex != nullptr) +
                      (args->LockMutex != nullptr) + (args->UnlockMutex != nullptr);
    if (given != 0 && given != 4)
        return CKR_ARGUMENTS_BAD;
    if (args->flags & CKF_LIBRARY_CANT_CREATE_OS_THREADS)
        return CKR_NEED_TO_CREATE_THREADS;
    if (given == 4 && !(args->flags & CKF_OS_LOCKING_OK))
        return CKR_CANT_LOCK;
    return CKR_OK;
}

CK_FLAGS CounterFlags(CK_ULONG failed, CK_ULONG limit, CK_FLAGS countLow, CK_FLAGS finalTry,
                      CK_FLAGS locked) {
    if (failed >= limit)
        return locked;
    CK_FLAGS flags = failed > 0 ? countLow : 0;
    if (limit - failed == 1)
        flags |= finalTry;
    return flags;
}

CK_FLAGS TokenFlags(const TokenData& data) {
    CK_FLAGS flags = CKF_RNG | CKF_LOGIN_REQUIRED | CKF_TOKEN_INITIALIZED;
    if (data.userPin.IsSet())
        flags |= CKF_USER_PIN_INITIALIZED;
    flags |= CounterFlags(data.userFailed, data.policy.maxFailed, CKF_USER_PIN_COUNT_LOW,
                          CKF_USER_PIN_FINAL_TRY, CKF_USER_PIN_LOCKED);
    flags |= CounterFlags(data.soFailed, kSoMaxFailed, CKF_SO_PIN_COUNT_LOW, CKF_SO_PIN_FINAL_TRY,
                          CKF_SO_PIN_LOCKED);
    return flags;
}

void FillTokenInfo(const Module& module, const Slot& slot, CK_TOKEN_INFO* info) {
    const TokenData& data = slot.data;
    PadField(info->label, sizeof info->label, data.label);
    PadField(info->manufacturerID, sizeof info->manufacturerID, data.manufacturer);
    PadField(info->model, sizeof info->model, data.model);
    PadField(info->serialNumber, sizeof info->serialNumber, data.serial);
    info->flags = TokenFlags(data);
    info->ulMaxSessionCount = CK_EFFECTIVELY_INFINITE;
    info->ulSessionCount = static_cast<CK_ULONG>(module.SessionCount(slot.id, false));
    info->ulMaxRwSessionCount = CK_EFFECTIVELY_INFINITE;
    info->ulRwSessionCount = static_cast<CK_ULONG>(module.SessionCount(slot.id, true));
    info->ulMaxPinLen = data.policy.maxLength;
    info->ulMinPinLen = data.policy.minLength;
    info->ulTotalPublicMemory = data.capacity;
    info->ulFreePublicMemory = data.FreeMemory();
    info->ulTotalPrivateMemory = data.capacity;
    info->ulFreePrivateMemory = data.FreeMemory();
    info->hardwareVersion = data.hardware;
    info->firmwareVersion = data.firmware;
    memset(info->utcTime, ' ', sizeof info->utcTime);
}

}  // namespace

CK_RV Initialize(CK_VOID_PTR args) {
    Entry entry;
    if (entry.module.initialised)
        return CKR_CRYPTOKI_ALREADY_INITIALIZED;
    CK_RV rv = CheckInitializeArgs(static_cast<const CK_C_INITIALIZE_ARGS*>(args));
    if (rv != CKR_OK)
        return rv;
    rv = entry.module.Start();
    if (rv == CKR_OK)
        Faults::Get().UseStore(entry.module.store);
    return rv;
}

CK_RV Finalize(CK_VOID_PTR reserved) {
    Entry entry;
    if (CK_RV rv = entry.Check())
        return rv;
    if (reserved)
        return CKR_ARGUMENTS_BAD;
    Faults::Get().UseStore(nullptr);
    entry.module.Stop();
    return CKR_OK;
}

CK_RV GetInfo(CK_INFO_PTR info) {
    Entry entry;
    if (CK_RV rv = entry.Check())
        return rv;
    if (!info)
        return CKR_ARGUMENTS_BAD;
    memset(info, 0, sizeof *info);
    info->cryptokiVersion = {2, 40};
    PadField(info->manufacturerID, sizeof info->manufacturerID, kManufacturer);
    PadField(info->libraryDescription, sizeof info->libraryDescription, kLibraryDescription);
    info->libraryVersion = kLibraryVersion;
    return CKR_OK;
}

CK_RV GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR list, CK_ULONG_PTR count) {
    Entry entry;
    if (CK_RV rv = entry.Check())
        return rv;
    if (!count)
        return CKR_ARGUMENTS_BAD;
    std::vector<CK_SLOT_ID> ids;
    for (Slot& slot : entry.module.slots) {
        entry.module.Refresh(slot);
        if (!tokenPresent || slot.status == SlotStatus::Present || slot.status == SlotStatus::Unrecognized)
            ids.push_back(slot.id);
    }
    const CK_ULONG needed = static_cast<CK_ULONG>(ids.size());
    if (!list) {
        *count = needed;
        return CKR_OK;
    }
    if (*count < needed) {
        *count = needed;
        return CKR_BUFFER_TOO_SMALL;
    }
    std::copy(ids.begin(), ids.end(), list);
    *count = needed;
    return CKR_OK;
}

CK_RV GetSlotInfo(CK_SLOT_ID id, CK_SLOT_INFO_PTR info) {
    Entry entry;
    if (CK_RV rv = entry.Check())
        return rv;
    Slot* slot = nullptr;
    if (CK_RV rv = entry.module.FindSlot(id, &slot))
        return rv;
    if (!info)
        return CKR_ARGUMENTS_BAD;
    entry.module.Refresh(*slot);
    memset(info, 0, sizeof *info);
    PadField(info->slotDescription, sizeof info->slotDescription,
             "Tolvane SoftToken slot " + std::to_string(id));
    PadField(info->manufacturerID, sizeof info->manufacturerID, kManufacturer);
    info->flags = CKF_REMOVABLE_DEVICE | CKF_HW_SLOT;
    if (slot->status == SlotStatus::Present || slot->status == SlotStatus::Unrecognized)
        info->flags |= CKF_TOKEN_PRESENT;
    info->hardwareVersion = {1, 0};
    info->firmwareVersion = {1, 0};
    return CKR_OK;
}

CK_RV GetTokenInfo(CK_SLOT_ID id, CK_TOKEN_INFO_PTR info) {
    Entry entry;
    if (CK_RV rv = entry.Check())
        return rv;
    Slot* slot = nullptr;
    if (CK_RV rv = entry.module.FindSlot(id, &slot))
        return rv;
    if (!info)
        return CKR_ARGUMENTS_BAD;
    if (CK_RV rv = entry.module.RequireToken(*slot))
        return rv;
    FillTokenInfo(entry.module, *slot, info);
    return CKR_OK;
}

CK_RV GetMechanismList(CK_SLOT_ID id, CK_MECHANISM_TYPE_PTR list, CK_ULONG_PTR count) {
    Entry entry;
    if (CK_RV rv = entry.Check())
        return rv;
    Slot* slot = nullptr;
    if (CK_RV rv = entry.module.FindSlot(id, &slot))
        return rv;
    if (!count)
        return CKR_ARGUMENTS_BAD;
    if (CK_RV rv = entry.module.RequireToken(*slot))
        return rv;
    const CK_ULONG needed = static_cast<CK_ULONG>(sizeof kMechanisms / sizeof kMechanisms[0]);
    if (!list) {
        *count = needed;
        return CKR_OK;
    }
    if (*count < needed) {
        *count = needed;
        return CKR_BUFFER_TOO_SMALL;
    }
    for (CK_ULONG i = 0; i < needed; ++i)
        list[i] = kMechanisms[i].type;
    *count = needed;
    return CKR_OK;
}

CK_RV GetMechanismInfo(CK_SLOT_ID id, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR info) {
    Entry entry;
    if (CK_RV rv = entry.Check())
        return rv;
    Slot* slot = nullptr;
    if (CK_RV rv = entry.module.FindSlot(id, &slot))
        return rv;
    if (!info)
        return CKR_ARGUMENTS_BAD;
    if (CK_RV rv = entry.module.RequireToken(*slot))
        return rv;
    const MechanismEntry* mechanism = FindMechanism(type);
    if (!mechanism)
        return CKR_MECHANISM_INVALID;
    info->ulMinKeySize = mechanism->minKeyBits;
    info->ulMaxKeySize = mechanism->maxKeyBits;
    info->flags = mechanism->flags;
    return CKR_OK;
}

// Waits without the module lock, so that other threads keep working and
// C_Finalize can end the wait.
CK_RV WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR slot, CK_VOID_PTR reserved) {
    {
        Entry entry;
        if (CK_RV rv = entry.Check())
            return rv;
    }
    if (!slot || reserved)
        return CKR_ARGUMENTS_BAD;
    return SlotEvents::Get().Wait((flags & CKF_DONT_BLOCK) == 0, slot);
}

CK_RV GenerateRandom(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG length) {
    Entry entry;
    Session* session = nullptr;
    Slot* slot = nullptr;
    if (CK_RV rv = EnterSession(entry, handle, &session, &slot))
        return rv;
    if (!data && length)
        return CKR_ARGUMENTS_BAD;
    if (length && !crypto::Random(data, length))
        return CKR_FUNCTION_FAILED;
    return CKR_OK;
}

// The token's generator takes no seed from an application; a bad session
// or bad arguments are answered as such first.
CK_RV SeedRandom(CK_SESSION_HANDLE handle, CK_BYTE_PTR seed, CK_ULONG length) {
    if (CK_RV rv = CheckSession(handle))
        return rv;
    return !seed && length ? CKR_ARGUMENTS_BAD : CKR_RANDOM_SEED_NOT_SUPPORTED;
}

CK_RV GetFunctionStatus(CK_SESSION_HANDLE handle) {
    const CK_RV rv = CheckSession(handle);
    return rv != CKR_OK ? rv : CKR_FUNCTION_NOT_PARALLEL;
}

CK_RV CancelFunction(CK_SESSION_HANDLE handle) {
    return GetFunctionStatus(handle);
}

}  // namespace ops
}  // namespace softtoken
