// Memory of the host: the step allocator, the memory pools (arenas) and
// the saved-message pool.  Everything allocated during a step is freed when
// the step ends, whether or not the module deleted it, so a long program
// does not grow from step to step.
//
// Test hooks inject failures: a countdown makes the Nth pool creation, or
// the Nth allocation (from any pool or from the step allocator), fail; a
// pool can also be told that its own Nth allocation fails.  Armed
// countdowns are disarmed when a step ends.
#pragma once

#include <cstddef>
#include <cstdint>

#include "velix/host.h"

namespace velix::platform {

// The allocator for blocks that live for the step (blocks it hands out can
// be returned one by one with its release slot).
HostAllocator* step_allocator();

// The Nth pool creation from now (xmpoolc or zprlzmi) returns 0; n <= 0
// disarms.
void fail_nth_pool_creation(int n);
// The Nth allocation from now, from any pool or the step allocator,
// returns 0; n <= 0 disarms.
void fail_nth_allocation(int n);
// The Nth allocation from now of `pool` returns 0 (n <= 0 disarms).
void fail_pool_allocation(HostAllocator* pool, int n);
// The largest single allocation (what xmsize answers); bytes <= 0 restores
// the default of 2^31 - 1, the host's 32-bit limit.
void set_allocation_limit(int64_t bytes);

// What is alive now.
struct MemoryCounts {
    size_t pools = 0;       // pools not yet deleted (the message pool included)
    size_t poolBytes = 0;   // bytes the pools hold from the system
    size_t stepBlocks = 0;  // blocks of the step allocator not yet returned
};
MemoryCounts memory_counts();

}  // namespace velix::platform
