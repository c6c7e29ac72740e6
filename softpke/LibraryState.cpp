#include "LibraryState.h"

namespace softpke {
namespace {

SRWLOCK Lock = SRWLOCK_INIT;

}  // namespace

LibraryState& State() {
    static LibraryState state;
    return state;
}

StateLock::StateLock() {
    AcquireSRWLockExclusive(&Lock);
}

StateLock::~StateLock() {
    ReleaseSRWLockExclusive(&Lock);
}

}  // namespace softpke
