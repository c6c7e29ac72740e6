#include "StoreWritePlan.h"

namespace storewrite {

Write PlanOf(long k) {
    Write write;
    write.slot = static_cast<int>(k % kSlots);
    write.j = static_cast<int>(k / kSlots);
    switch (write.j % 3) {
    case 0:
        write.operation = Operation::Create;
        write.label = "w" + std::to_string(write.j);
        break;
    case 1:
        write.operation = Operation::SetCounter;
        write.label = kCounterLabel;
        break;
    default:
        write.operation = write.j >= 5 ? Operation::Destroy : Operation::None;
        write.label = "w" + std::to_string(write.j - 5);
        break;
    }
    return write;
}

std::vector<unsigned char> ValueOf(int j, size_t size) {
    std::vector<unsigned char> value(size);
    unsigned state = 2166136261u ^ static_cast<unsigned>(j);
    for (unsigned char& b : value) {
        state = state * 16777619u + 0x9E37u;
        b = static_cast<unsigned char>(state >> 24);
    }
    return value;
}

std::vector<unsigned char> InitialCounterValue() {
    return ValueOf(-1, kCounterValueSize);
}

TokenState ExpectedState(int j) {
    TokenState state;
    state.counter = InitialCounterValue();
    for (int m = 0; m <= j; ++m) {
        if (m % 3 == 1)
            state.counter = ValueOf(m, kCounterValueSize);
        if (m % 3 == 0 && m > j - 5)
            state.objects.insert("w" + std::to_string(m));
    }
    return state;
}

int LastSlotWrite(int slot, long k) {
    if (k < slot)
        return -1;
    return static_cast<int>((k - slot) / kSlots);
}

}  // namespace storewrite
