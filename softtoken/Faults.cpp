#include "Faults.h"

#include <sstream>

namespace softtoken {
namespace {

constexpr ULONGLONG kPollIntervalMs = 15;

bool WriteFaultFile(Store& store, const std::vector<Fault>& faults) {
    std::ostringstream text;
    text << "# serial function nth rv once|repeat\n";
    for (const Fault& f : faults)
        text << f.serial << ' ' << f.function << ' ' << f.nth << " 0x" << std::hex << f.rv << std::dec
             << ' ' << (f.repeat ? "repeat" : "once") << '\n';
    const std::string s = text.str();
    CreateDirectoryW(store.Folder().c_str(), nullptr);
    return WriteFileAtomically(store.FaultPath(), Bytes(s.begin(), s.end()));
}

}  // namespace

Faults& Faults::Get() {
    static Faults faults;
    return faults;
}

void Faults::Set(const std::string& function, CK_ULONG nth, CK_RV rv, bool repeat) {
    Fault fault;
    fault.function = function;
    fault.nth = nth;
    fault.rv = rv;
    fault.repeat = repeat;
    AddLocal(fault);
}

void Faults::SetRemoval(const std::string& function, CK_ULONG nth, CK_SLOT_ID slot) {
    Fault fault;
    fault.function = function;
    fault.nth = nth;
    fault.rv = slot;
    fault.removeToken = true;
    AddLocal(fault);
}

void Faults::AddLocal(Fault fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    fault.serial = nextLocalSerial_++;
    local_.push_back(fault);
}

std::string Faults::LastHit() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastHit_;
}

CK_ULONG Faults::Pending() {
    std::lock_guard<std::mutex> lock(mutex_);
    CK_ULONG pending = 0;
    for (const Fault& fault : local_)
        pending += !fault.repeat && fault.calls < fault.nth;
    return pending;
}

void Faults::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    local_.clear();
    lastHit_.clear();
}

void Faults::UseStore(std::shared_ptr<Store> store) {
    std::lock_guard<std::mutex> lock(mutex_);
    store_ = std::move(store);
    fromFile_.clear();
    fileGeneration_ = -1;
    fileStamp_ = FileStamp();
    lastPoll_ = 0;
}

bool Faults::Hit(Fault& fault) {
    ++fault.calls;
    return fault.calls == fault.nth || (fault.repeat && fault.calls > fault.nth);
}

FaultAction Faults::Take(const char* function, const char* variant) {
    std::lock_guard<std::mutex> lock(mutex_);
    PollControlFile();
    FaultAction action;
    for (std::vector<Fault>* list : {&local_, &fromFile_}) {
        for (Fault& fault : *list) {
            if (fault.function != "*" && fault.function != function && (!variant || fault.function != variant))
                continue;
            if (!Hit(fault))
                continue;
            lastHit_ = function;
            if (fault.removeToken && !action.removeToken) {
                action.removeToken = true;
                action.slot = fault.rv;
            } else if (!fault.removeToken && !action.answer) {
                action.answer = true;
                action.rv = fault.rv;
            }
        }
    }
    return action;
}

// Rereads the control file when the shared counter moved or its stamp
// changed; a fault keeps its call count while it stays in the file.
void Faults::PollControlFile() {
    if (!store_)
        return;
    const int64_t generation = store_->FaultGeneration();
    const ULONGLONG now = GetTickCount64();
    if (generation == fileGeneration_ && now - lastPoll_ < kPollIntervalMs)
        return;
    lastPoll_ = now;
    const FileStamp stamp = StampOf(store_->FaultPath());
    if (generation == fileGeneration_ && stamp == fileStamp_)
        return;
    fileGeneration_ = generation;
    fileStamp_ = stamp;
    std::vector<Fault> read = ReadFaultFile(*store_);
    for (Fault& fault : read)
        for (const Fault& known : fromFile_)
            if (known.serial == fault.serial)
                fault.calls = known.calls;
    fromFile_.swap(read);
}

std::vector<Fault> ReadFaultFile(const Store& store) {
    std::vector<Fault> faults;
    Bytes bytes;
    if (!ReadWholeFile(store.FaultPath(), &bytes))
        return faults;
    std::istringstream text(std::string(bytes.begin(), bytes.end()));
    std::string line;
    while (std::getline(text, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        Fault fault;
        std::string rv, mode;
        if (!(fields >> fault.serial >> fault.function >> fault.nth >> rv >> mode))
            continue;
        fault.rv = strtoul(rv.c_str(), nullptr, 0);
        fault.repeat = mode == "repeat";
        faults.push_back(fault);
    }
    return faults;
}

CK_RV AddFaultToFile(Store& store, const std::string& function, CK_ULONG nth, CK_RV rv, bool repeat) {
    SlotLock lock(store, kMaxSlots);
    std::vector<Fault> faults = ReadFaultFile(store);
    Fault fault;
    fault.function = function;
    fault.nth = nth;
    fault.rv = rv;
    fault.repeat = repeat;
    // Serials never repeat, so a process tells a new fault from an old one.
    fault.serial = (static_cast<uint64_t>(GetTickCount64()) << 16) | (faults.size() & 0xffff);
    for (const Fault& f : faults)
        if (f.serial >= fault.serial)
            fault.serial = f.serial + 1;
    faults.push_back(fault);
    if (!WriteFaultFile(store, faults))
        return CKR_DEVICE_ERROR;
    store.BumpFaults();
    return CKR_OK;
}

CK_RV ClearFaultFile(Store& store) {
    SlotLock lock(store, kMaxSlots);
    if (!WriteFaultFile(store, {}))
        return CKR_DEVICE_ERROR;
    store.BumpFaults();
    return CKR_OK;
}

}  // namespace softtoken
