#include "support/FailingAllocation.h"

#include <cstdlib>
#include <new>

namespace {

// Allocations of this thread still let through before the failing one;
// negative when none is due.
thread_local long allocationsBeforeFailure = -1;
thread_local bool failureCame = false;

}  // namespace

// Replaces the one allocation function the others call; the library's
// operator delete frees with free() as it is.
void* operator new(std::size_t size) {
    if (allocationsBeforeFailure == 0) {
        allocationsBeforeFailure = -1;
        failureCame = true;
        throw std::bad_alloc();
    }
    if (allocationsBeforeFailure > 0)
        --allocationsBeforeFailure;
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}

FailingAllocation::FailingAllocation(long nth) {
    failureCame = false;
    allocationsBeforeFailure = nth - 1;
}

FailingAllocation::~FailingAllocation() {
    allocationsBeforeFailure = -1;
}

bool FailingAllocation::Failed() const {
    return failureCame;
}
