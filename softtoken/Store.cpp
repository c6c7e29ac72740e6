#include "Store.h"

#include <cwctype>
#include <mutex>

namespace softtoken {
namespace {

constexpr wchar_t kEnvironmentVariable[] = L"TOLVANE_SOFTTOKEN_STORE";

std::mutex overrideMutex;
std::wstring folderOverride;

// FNV-1a of the lower-cased full path: the same store gets the same kernel
// object names in every process.
std::wstring NameFor(const std::wstring& folder) {
    wchar_t full[MAX_PATH * 2] = {};
    DWORD n = GetFullPathNameW(folder.c_str(), MAX_PATH * 2, full, nullptr);
    std::wstring path = n ? std::wstring(full, n) : folder;
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
    uint64_t hash = 1469598103934665603ull;
    for (wchar_t c : path) {
        hash ^= static_cast<uint64_t>(c == L'/' ? L'\\' : std::towlower(c));
        hash *= 1099511628211ull;
    }
    wchar_t text[40];
    swprintf(text, 40, L"Local\\TolvaneSoftToken.%016llx", static_cast<unsigned long long>(hash));
    return text;
}

std::wstring EnvironmentValue(const wchar_t* name) {
    wchar_t buffer[MAX_PATH * 2];
    DWORD n = GetEnvironmentVariableW(name, buffer, MAX_PATH * 2);
    return n > 0 && n < MAX_PATH * 2 ? std::wstring(buffer, n) : std::wstring();
}

// Deletes the side files that writers killed half way through a save left
// beside `path`. The caller holds the lock every writer of `path` takes, so
// no side file it finds is still being written.
void RemoveStaleSideFiles(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L".tmp*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do
        DeleteFileW((folder + L"\\" + found.cFileName).c_str());
    while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace

struct Store::Shared {
    volatile LONG64 content[kMaxSlots];
    volatile LONG64 presence[kMaxSlots];
    volatile LONG64 faults;
};

FileStamp StampOf(const std::wstring& path) {
    FileStamp stamp;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return stamp;
    stamp.exists = true;
    stamp.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    stamp.written = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                    data.ftLastWriteTime.dwLowDateTime;
    return stamp;
}

bool ReadWholeFile(const std::wstring& path, Bytes* bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size = {};
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart < (1LL << 30);
    if (ok) {
        bytes->resize(static_cast<size_t>(size.QuadPart));
        DWORD read = 0;
        ok = bytes->empty() ||
             (ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &read, nullptr) &&
              read == bytes->size());
    }
    CloseHandle(file);
    return ok;
}

bool WriteFileAtomically(const std::wstring& path, const Bytes& bytes) {
    const std::wstring temporary = path + L".tmp" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                   std::to_wstring(GetCurrentThreadId());
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = (bytes.empty() || (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()),
                                           &written, nullptr) &&
                                 written == bytes.size())) &&
              FlushFileBuffers(file);
    CloseHandle(file);
    ok = ok && MoveFileExW(temporary.c_str(), path.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok)
        DeleteFileW(temporary.c_str());
    return ok;
}

Store::Store(const std::wstring& folder) : folder_(folder), name_(NameFor(folder)) {
    mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Shared),
                                  (name_ + L".counters").c_str());
    if (mapping_)
        shared_ = static_cast<Shared*>(MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Shared)));
    ReadConfiguration();
}

Store::~Store() {
    if (shared_)
        UnmapViewOfFile(shared_);
    if (mapping_)
        CloseHandle(mapping_);
    for (HANDLE mutex : mutexes_)
        if (mutex)
            CloseHandle(mutex);
}

std::wstring Store::ResolveFolder() {
    {
        std::lock_guard<std::mutex> lock(overrideMutex);
        if (!folderOverride.empty())
            return folderOverride;
    }
    std::wstring folder = EnvironmentValue(kEnvironmentVariable);
    if (!folder.empty())
        return folder;
    std::wstring base = EnvironmentValue(L"LOCALAPPDATA");
    if (base.empty())
        base = EnvironmentValue(L"TEMP");
    return base + L"\\TolvaneSoftToken";
}

void Store::SetFolderOverride(const wchar_t* folder) {
    std::lock_guard<std::mutex> lock(overrideMutex);
    folderOverride = folder ? folder : L"";
}

void Store::ReadConfiguration() {
    Bytes text;
    if (!ReadWholeFile(folder_ + L"\\store.cfg", &text))
        return;
    const std::string config(text.begin(), text.end());
    const size_t at = config.find("slots=");
    if (at == std::string::npos)
        return;
    const unsigned long slots = strtoul(config.c_str() + at + 6, nullptr, 10);
    if (slots >= 1 && slots <= kMaxSlots)
        slotCount_ = slots;
}

CK_RV Store::Initialise(CK_ULONG slots) {
    if (slots < 1 || slots > kMaxSlots)
        return CKR_ARGUMENTS_BAD;
    CreateDirectoryW(folder_.c_str(), nullptr);
    if (GetFileAttributesW(folder_.c_str()) == INVALID_FILE_ATTRIBUTES)
        return CKR_DEVICE_ERROR;
    SlotLock lock(*this, kMaxSlots);
    ReadConfiguration();
    for (CK_SLOT_ID slot = slots; slot < slotCount_; ++slot)
        if (Content(slot) != SlotContent::Empty)
            return CKR_FUNCTION_FAILED;
    const std::string config = "slots=" + std::to_string(slots) + "\n";
    if (!WriteFileAtomically(folder_ + L"\\store.cfg", Bytes(config.begin(), config.end())))
        return CKR_DEVICE_ERROR;
    slotCount_ = slots;
    return CKR_OK;
}

std::wstring Store::TokenPath(CK_SLOT_ID slot) const {
    return folder_ + L"\\slot" + std::to_wstring(slot) + L".token";
}

std::wstring Store::RemovedPath(CK_SLOT_ID slot) const {
    return folder_ + L"\\slot" + std::to_wstring(slot) + L".removed";
}

SlotContent Store::Content(CK_SLOT_ID slot) const {
    if (GetFileAttributesW(TokenPath(slot).c_str()) != INVALID_FILE_ATTRIBUTES)
        return SlotContent::Present;
    if (GetFileAttributesW(RemovedPath(slot).c_str()) != INVALID_FILE_ATTRIBUTES)
        return SlotContent::Removed;
    return SlotContent::Empty;
}

CK_RV Store::Load(CK_SLOT_ID slot, TokenData* data) const {
    Bytes file;
    if (!ReadWholeFile(TokenPath(slot), &file))
        return CKR_TOKEN_NOT_PRESENT;
    return DecodeToken(file, data) ? CKR_OK : CKR_TOKEN_NOT_RECOGNIZED;
}

CK_RV Store::Save(CK_SLOT_ID slot, TokenData* data) {
    CreateDirectoryW(folder_.c_str(), nullptr);
    RemoveStaleSideFiles(TokenPath(slot));
    ++data->generation;
    if (!WriteFileAtomically(TokenPath(slot), EncodeToken(*data))) {
        --data->generation;
        return CKR_DEVICE_ERROR;
    }
    BumpContent(slot);
    return CKR_OK;
}

CK_RV Store::Remove(CK_SLOT_ID slot) {
    if (!MoveFileExW(TokenPath(slot).c_str(), RemovedPath(slot).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return CKR_TOKEN_NOT_PRESENT;
    BumpContent(slot);
    BumpPresence(slot);
    return CKR_OK;
}

CK_RV Store::Insert(CK_SLOT_ID slot) {
    if (Content(slot) == SlotContent::Present)
        return CKR_OK;
    if (!MoveFileExW(RemovedPath(slot).c_str(), TokenPath(slot).c_str(), MOVEFILE_WRITE_THROUGH))
        return CKR_TOKEN_NOT_PRESENT;
    BumpContent(slot);
    BumpPresence(slot);
    return CKR_OK;
}

int64_t Store::ContentGeneration(CK_SLOT_ID slot) const {
    return shared_ && slot < kMaxSlots ? shared_->content[slot] : 0;
}

int64_t Store::PresenceGeneration(CK_SLOT_ID slot) const {
    return shared_ && slot < kMaxSlots ? shared_->presence[slot] : 0;
}

int64_t Store::FaultGeneration() const {
    return shared_ ? shared_->faults : 0;
}

void Store::BumpContent(CK_SLOT_ID slot) {
    if (shared_ && slot < kMaxSlots)
        InterlockedIncrement64(&shared_->content[slot]);
}

void Store::BumpPresence(CK_SLOT_ID slot) {
    if (shared_ && slot < kMaxSlots)
        InterlockedIncrement64(&shared_->presence[slot]);
}

void Store::BumpFaults() {
    if (shared_)
        InterlockedIncrement64(&shared_->faults);
}

HANDLE Store::MutexFor(CK_SLOT_ID slot) {
    static std::mutex creation;
    std::lock_guard<std::mutex> lock(creation);
    if (!mutexes_[slot]) {
        const std::wstring name = name_ + L".lock" + std::to_wstring(slot);
        mutexes_[slot] = CreateMutexW(nullptr, FALSE, name.c_str());
    }
    return mutexes_[slot];
}

void Store::Lock(CK_SLOT_ID slot) {
    HANDLE mutex = MutexFor(slot < kMaxSlots ? slot : kMaxSlots);
    // An abandoned lock (its holder died) is taken over: the files
    // themselves are never half written.
    if (mutex)
        WaitForSingleObject(mutex, INFINITE);
}

void Store::Unlock(CK_SLOT_ID slot) {
    HANDLE mutex = MutexFor(slot < kMaxSlots ? slot : kMaxSlots);
    if (mutex)
        ReleaseMutex(mutex);
}

}  // namespace softtoken
