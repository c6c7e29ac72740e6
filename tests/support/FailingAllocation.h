// Failed allocations for tests: a test executable that links
// FailingAllocation.cpp gets a global operator new that can fail the n-th
// allocation one thread makes, with std::bad_alloc, as a full heap would.
// Only the thread that armed it is touched (not the UI driver's, not the
// modules', which have allocators of their own).
#pragma once

class FailingAllocation {
public:
    // The `nth` allocation of this thread from now on fails; later ones
    // succeed again.
    explicit FailingAllocation(long nth);
    ~FailingAllocation();
    FailingAllocation(const FailingAllocation&) = delete;
    FailingAllocation& operator=(const FailingAllocation&) = delete;

    // Whether the n-th allocation came (and failed).
    bool Failed() const;
};
