// The writes a child process makes to two software tokens while the store
// test kills it, and the state each token must be in after any number of
// them: shared by the child (store_writer.exe) and the test.
//
// Write k goes to slot k % 2 as that slot's write j = k / 2; by j % 3 it
// creates the data object "w<j>", sets the value of the data object
// "counter", or destroys "w<j-5>" (from j = 5 on). So after its write j a
// token holds "counter" with the value of its last counter write and the
// objects w<m> for m = 0, 3, 6, ... with j - 5 < m <= j.
#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <vector>

namespace storewrite {

constexpr int kSlots = 2;
constexpr char kUserPin[] = "1234";
constexpr char kCounterLabel[] = "counter";

// What the child tells the test, in a shared-memory block.
// The writer also sets the event named ReadyEventName(mapping name) once
// ready, so that the test waits for it instead of looking at `ready`.
inline std::wstring ReadyEventName(const std::wstring& mappingName) {
    return mappingName + L".ready";
}

struct Progress {
    volatile LONG ready;      // 1 once logged in, before the first write
    volatile LONG attempted;  // the write under way (or last begun)
    volatile LONG committed;  // the last write the module confirmed; -1 none
};

enum class Operation { Create, SetCounter, Destroy, None };

struct Write {
    int slot;
    int j;  // the slot's own write number
    Operation operation;
    std::string label;  // of the object created, set or destroyed
};

Write PlanOf(long k);

// The value written by the slot's write j (also the counter's value).
std::vector<unsigned char> ValueOf(int j, size_t size);
constexpr size_t kObjectValueSize = 256;
constexpr size_t kCounterValueSize = 64;
// The counter's value before any write.
std::vector<unsigned char> InitialCounterValue();

// A token's state as the test compares it.
struct TokenState {
    std::vector<unsigned char> counter;
    std::set<std::string> objects;  // labels of the w objects
    bool operator==(const TokenState& o) const { return counter == o.counter && objects == o.objects; }
};

// The state of a slot after its writes 0..j (j = -1: none yet).
TokenState ExpectedState(int j);

// The slot's last write number among the global writes 0..k (-1: none).
int LastSlotWrite(int slot, long k);

}  // namespace storewrite
