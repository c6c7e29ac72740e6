#include "SlotEvents.h"

#include <algorithm>
#include <chrono>

namespace softtoken {
namespace {

constexpr std::chrono::milliseconds kPollInterval(10);

}  // namespace

SlotEvents& SlotEvents::Get() {
    static SlotEvents events;
    return events;
}

SlotEvents::~SlotEvents() {
    if (watcher_.joinable())
        watcher_.detach();
}

void SlotEvents::Start(std::shared_ptr<Store> store) {
    std::lock_guard<std::mutex> lock(mutex_);
    store_ = std::move(store);
    pending_.clear();
    running_ = true;
    watcher_ = std::thread(&SlotEvents::Watch, this, ++epoch_);
}

void SlotEvents::Stop() {
    std::thread watcher;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
        ++epoch_;
        pending_.clear();
        watcher.swap(watcher_);
    }
    changed_.notify_all();
    if (watcher.joinable())
        watcher.join();
    std::lock_guard<std::mutex> lock(mutex_);
    store_.reset();
}

CK_RV SlotEvents::Wait(bool block, CK_SLOT_ID* slot) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!running_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    const uint64_t epoch = epoch_;
    if (pending_.empty() && !block) {
        noEventLook_ = looks_;
        stateChanged_.notify_all();
        return CKR_NO_EVENT;
    }
    ++waiting_;
    stateChanged_.notify_all();
    changed_.wait(lock, [&] { return !pending_.empty() || !running_ || epoch_ != epoch; });
    --waiting_;
    stateChanged_.notify_all();
    if (!running_ || epoch_ != epoch)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    *slot = pending_.front();
    pending_.pop_front();
    return CKR_OK;
}

// A slot is looked at without its lock first: the watcher looks a hundred
// times a second, and taking every slot's lock (a system mutex shared by
// all processes of the store) each time loaded every process that uses the
// store. Only a slot that looks changed is looked at again, under its lock:
// the store changes a slot in steps under that lock (the token file moved
// or written, then the presence counted), and a look between two steps
// would report one insertion or removal as two events.
SlotEvents::Look SlotEvents::LookAt(CK_SLOT_ID slot) const {
    Look look;
    look.content = store_->Content(slot);
    look.presence = store_->PresenceGeneration(slot);
    return look;
}

std::vector<SlotEvents::Look> SlotEvents::LookAtSlots(const std::vector<Look>& before) const {
    std::vector<Look> looks(store_->SlotCount());
    for (CK_SLOT_ID slot = 0; slot < looks.size(); ++slot) {
        looks[slot] = LookAt(slot);
        if (slot < before.size() && !(looks[slot] != before[slot]))
            continue;
        SlotLock lock(*store_, slot);
        looks[slot] = LookAt(slot);
    }
    return looks;
}

// Runs until Stop; compares each look with the one before and queues the
// slots that differ (each at most once until it is taken).
void SlotEvents::Watch(uint64_t epoch) {
    std::unique_lock<std::mutex> lock(mutex_);
    std::vector<Look> before = LookAtSlots({});
    while (running_ && epoch_ == epoch) {
        changed_.wait_for(lock, kPollInterval, [&] { return !running_ || epoch_ != epoch; });
        if (!running_ || epoch_ != epoch)
            break;
        lock.unlock();
        std::vector<Look> now = LookAtSlots(before);
        lock.lock();
        bool any = false;
        for (CK_SLOT_ID slot = 0; slot < now.size(); ++slot) {
            if (now[slot] != before[slot] &&
                std::find(pending_.begin(), pending_.end(), slot) == pending_.end()) {
                pending_.push_back(slot);
                any = true;
            }
        }
        before.swap(now);
        ++looks_;
        if (any)
            changed_.notify_all();
        stateChanged_.notify_all();
    }
}

SlotEvents::State SlotEvents::StateLocked() const {
    State state;
    state.looks = looks_;
    state.pending = static_cast<CK_ULONG>(pending_.size());
    state.idleLook = waiting_ > 0 ? looks_ : noEventLook_;
    return state;
}

SlotEvents::State SlotEvents::CurrentState() {
    std::lock_guard<std::mutex> lock(mutex_);
    return StateLocked();
}

bool SlotEvents::WaitForStateChange(State* state, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    const bool changed = stateChanged_.wait_for(lock, timeout, [&] { return StateLocked() != *state; });
    *state = StateLocked();
    return changed;
}

}  // namespace softtoken
