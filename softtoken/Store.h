// The store folder: one file per slot's token, a configuration file and the
// fault control file. Writes are atomic (temporary file, flush, rename);
// each slot has a named lock, and a shared-memory block of generation
// counters lets every process on the store see a change without reading
// the disk.
//
//   <store>\store.cfg        "slots=N"
//   <store>\slot<N>.token    the token in slot N
//   <store>\slot<N>.removed  a removed token, kept until it is inserted again
//   <store>\faults.txt       faults set with the tool
#pragma once

#include "Common.h"
#include "TokenData.h"

namespace softtoken {

// Size and last write time of a file: what tells a changed file from the
// one already loaded.
struct FileStamp {
    bool exists = false;
    uint64_t size = 0;
    uint64_t written = 0;
    bool operator==(const FileStamp& o) const {
        return exists == o.exists && size == o.size && written == o.written;
    }
    bool operator!=(const FileStamp& o) const { return !(*this == o); }
};

FileStamp StampOf(const std::wstring& path);
bool ReadWholeFile(const std::wstring& path, Bytes* bytes);
// Replaces `path` with `bytes` so that a reader sees either the old or the
// new file, never a mix, even if the process dies half way.
bool WriteFileAtomically(const std::wstring& path, const Bytes& bytes);

enum class SlotContent { Empty, Present, Removed };

class Store {
public:
    explicit Store(const std::wstring& folder);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // The folder in use: set by SetFolderOverride, else the environment
    // variable TOLVANE_SOFTTOKEN_STORE, else %LOCALAPPDATA%\TolvaneSoftToken.
    static std::wstring ResolveFolder();
    static void SetFolderOverride(const wchar_t* folder);

    const std::wstring& Folder() const { return folder_; }
    CK_ULONG SlotCount() const { return slotCount_; }
    bool ValidSlot(CK_SLOT_ID slot) const { return slot < slotCount_; }

    // Makes the folder and its configuration; the slot count can only
    // change while no slot holds a token.
    CK_RV Initialise(CK_ULONG slots);

    std::wstring TokenPath(CK_SLOT_ID slot) const;
    std::wstring RemovedPath(CK_SLOT_ID slot) const;
    std::wstring FaultPath() const { return folder_ + L"\\faults.txt"; }

    SlotContent Content(CK_SLOT_ID slot) const;
    FileStamp Stamp(CK_SLOT_ID slot) const { return StampOf(TokenPath(slot)); }

    // CKR_TOKEN_NOT_PRESENT, CKR_TOKEN_NOT_RECOGNIZED or CKR_OK.
    CK_RV Load(CK_SLOT_ID slot, TokenData* data) const;
    // Counts the generation up and writes the token; CKR_DEVICE_ERROR when
    // the disk refuses. Side files that killed writers left beside the
    // token file go first. The caller holds the slot's lock.
    CK_RV Save(CK_SLOT_ID slot, TokenData* data);
    CK_RV Remove(CK_SLOT_ID slot);
    CK_RV Insert(CK_SLOT_ID slot);

    // Counters shared by all processes on this store.
    int64_t ContentGeneration(CK_SLOT_ID slot) const;
    int64_t PresenceGeneration(CK_SLOT_ID slot) const;
    int64_t FaultGeneration() const;
    void BumpContent(CK_SLOT_ID slot);
    void BumpPresence(CK_SLOT_ID slot);
    void BumpFaults();

    // The named lock of a slot (kMaxSlots: the store's own lock).
    void Lock(CK_SLOT_ID slot);
    void Unlock(CK_SLOT_ID slot);

private:
    struct Shared;
    HANDLE MutexFor(CK_SLOT_ID slot);
    void ReadConfiguration();

    std::wstring folder_;
    std::wstring name_;   // base of the kernel object names for this store
    CK_ULONG slotCount_ = kDefaultSlots;
    HANDLE mapping_ = nullptr;
    Shared* shared_ = nullptr;
    HANDLE mutexes_[kMaxSlots + 1] = {};
};

// Holds a slot's named lock for a scope.
class SlotLock {
public:
    SlotLock(Store& store, CK_SLOT_ID slot) : store_(store), slot_(slot) { store_.Lock(slot_); }
    ~SlotLock() { store_.Unlock(slot_); }
    SlotLock(const SlotLock&) = delete;
    SlotLock& operator=(const SlotLock&) = delete;

private:
    Store& store_;
    CK_SLOT_ID slot_;
};

}  // namespace softtoken
