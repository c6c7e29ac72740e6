// Slot events: a watcher thread looks at every slot of the store each
// 10 ms and queues the slots whose token came or went, for
// C_WaitForSlotEvent. Changes made by any process on the store are seen.
#pragma once

#include "Store.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace softtoken {

class SlotEvents {
public:
    static SlotEvents& Get();
    // A program that never calls C_Finalize (the token manager does not)
    // leaves the watcher running until the process ends; by then the
    // system has ended the thread, and a joinable std::thread destroyed
    // here would end the process through std::terminate instead of with
    // the program's own exit code.
    ~SlotEvents();

    void Start(std::shared_ptr<Store> store);
    // Ends the watcher and wakes every waiting caller.
    void Stop();
    // CKR_OK with the slot, CKR_NO_EVENT (not blocking, nothing queued) or
    // CKR_CRYPTOKI_NOT_INITIALIZED (not started, or stopped while waiting).
    CK_RV Wait(bool block, CK_SLOT_ID* slot);

    // What the watcher and the callers of Wait are doing, for tests that wait
    // until a monitor has taken every change: the looks at the slots made so
    // far, the events queued and not taken, and the look at which a caller
    // last stood with nothing to take (the current look while one blocks;
    // for a caller that polls, the look of its last CKR_NO_EVENT).
    struct State {
        CK_ULONG looks = 0;
        CK_ULONG pending = 0;
        CK_ULONG idleLook = 0;
        bool operator!=(const State& o) const {
            return looks != o.looks || pending != o.pending || idleLook != o.idleLook;
        }
    };
    State CurrentState();
    // Waits until the state differs from `*state` or `timeout` has passed;
    // `*state` becomes the current state. True when it changed.
    bool WaitForStateChange(State* state, std::chrono::milliseconds timeout);

private:
    struct Look {
        SlotContent content = SlotContent::Empty;
        int64_t presence = 0;
        bool operator!=(const Look& o) const { return content != o.content || presence != o.presence; }
    };
    Look LookAt(CK_SLOT_ID slot) const;
    // Every slot; under its lock each slot that differs from `before`.
    std::vector<Look> LookAtSlots(const std::vector<Look>& before) const;
    void Watch(uint64_t epoch);
    State StateLocked() const;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::condition_variable stateChanged_;  // for WaitForStateChange
    std::deque<CK_SLOT_ID> pending_;
    bool running_ = false;
    uint64_t epoch_ = 0;
    CK_ULONG looks_ = 0;
    CK_ULONG waiting_ = 0;       // callers blocked in Wait
    CK_ULONG noEventLook_ = 0;   // looks_ at the last CKR_NO_EVENT
    std::thread watcher_;
    std::shared_ptr<Store> store_;
};

}  // namespace softtoken
